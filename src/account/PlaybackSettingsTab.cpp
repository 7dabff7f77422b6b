#include "PlaybackSettingsTab.h"

#include "Palette.h"
#include "SettingsForm.h"
#include "SettingsKeys.h"
#include "SettingsSection.h"

#include <QCheckBox>
#include <QLabel>
#include <QSettings>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kNoteSize = 11.5;

} // namespace

PlaybackSettingsTab::PlaybackSettingsTab(QSettings &standard, QWidget *parent)
    : QWidget(parent)
    , m_standard(standard)
    , m_playNext(new QCheckBox(tr("Play the next video automatically")))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *form = new SettingsForm(this);
    layout->addWidget(form);

    SettingsSection *playback = form->addSection(tr("Playback"));
    m_playNext->setAccessibleName(m_playNext->text());
    m_playNext->setChecked(
        standard.value(SettingsKeys::playNextAutomatically, SettingsDefaults::playNextAutomatically).toBool());
    playback->addRow(m_playNext);
    playback->addRow(SettingsForm::text(tr("When a video ends, the next one in the list as it is shown starts after "
                                           "five seconds, unless you cancel it."),
                                        kNoteSize, Palette::muted()));

    connect(m_playNext, &QCheckBox::toggled, this,
            [this](bool on) { m_standard.setValue(SettingsKeys::playNextAutomatically, on); });
}

} // namespace clipvane
