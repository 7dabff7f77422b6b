#pragma once

#include <QObject>

namespace clipvane {

// Reports whether the network path can currently be used. The engine kicks a cycle when the
// path goes from unusable to usable; it assumes a usable path until told otherwise.
class NetworkWatch : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

Q_SIGNALS:
    // Emitted on the main thread for each new report (it may repeat the previous one).
    void usableChanged(bool usable);
};

} // namespace clipvane
