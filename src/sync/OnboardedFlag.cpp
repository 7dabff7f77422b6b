#include "OnboardedFlag.h"

#include "SettingsKeys.h"

#include <QSettings>

namespace clipvane {

OnboardedFlag::OnboardedFlag(QSettings &standard, QObject *parent)
    : QObject(parent)
    , m_standard(standard)
    , m_value(standard.value(SettingsKeys::onboarded, SettingsDefaults::onboarded).toBool())
{}

void OnboardedFlag::set(bool value)
{
    m_standard.setValue(SettingsKeys::onboarded, value);
    m_standard.sync();
    if (value == m_value)
        return;
    m_value = value;
    Q_EMIT changed(value);
}

} // namespace clipvane
