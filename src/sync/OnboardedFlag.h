#pragma once

#include <QObject>

class QSettings;

namespace clipvane {

// The standard setting "onboarded": true once the user has finished signing in on this
// computer. Written through at once; the main window switches between onboarding and the
// library when it changes.
class OnboardedFlag : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool value READ value WRITE set NOTIFY changed)

public:
    explicit OnboardedFlag(QSettings &standard, QObject *parent = nullptr);

    bool value() const { return m_value; }
    void set(bool value);

Q_SIGNALS:
    void changed(bool value);

private:
    QSettings &m_standard;
    bool m_value;
};

} // namespace clipvane
