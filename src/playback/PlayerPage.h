#pragma once

#include <QObject>
#include <QString>

namespace clipvane {

// The player page as the controller sees it: somewhere to run a script. The controller holds a
// page only weakly (a QPointer), so destroying the page object is how a web view going away is
// told; the web view owns its page object.
class PlayerPage : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~PlayerPage() override = default;

    // Runs the script in the page; results and script errors are ignored.
    virtual void runScript(const QString &script) = 0;
};

} // namespace clipvane
