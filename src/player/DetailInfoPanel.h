#pragma once

#include "Video.h"

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

namespace clipvane {

class PillButton;

// The information panel under the player: the title, a line of facts (source, date, length,
// who shared it) and the action buttons. In browse mode it is lower, lies on a gradient over
// the video and offers only the buttons that do not change the record.
class DetailInfoPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kNormalHeight = 112;
    static constexpr int kBrowseHeight = 92;
    // Apple's cyan of the dark appearance, for the name of whoever shared a record.
    static QColor sharedByColour() { return QColor(100, 210, 255); }

    explicit DetailInfoPanel(QWidget *parent = nullptr);

    void setVideo(const Video &video, bool browsing);
    // "Copy link" reads "Copied" with a check mark while set.
    void setCopied(bool copied);

    // For tests and accessibility: the visible parts.
    QString titleText() const { return m_fullTitle; }
    QStringList factsTexts() const;
    QStringList visibleButtons() const;

Q_SIGNALS:
    void openOnYouTubeClicked();
    void copyLinkClicked();
    void shareClicked();
    void editClicked();
    void toggleWatchedClicked();
    void toggleExcludedClicked();
    void deleteClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *factLabel(const QString &text, const QColor &colour, const QString &description = QString());
    QLabel *symbolLabel(const QString &name, const QColor &tint);
    void rebuildFacts(const Video &video);
    void elideTitle();

    bool m_browsing = false;
    QString m_fullTitle;
    QVBoxLayout *m_stack;
    QLabel *m_title;
    QHBoxLayout *m_facts;
    QWidget *m_factsRow;
    PillButton *m_open;
    PillButton *m_copy;
    PillButton *m_share;
    PillButton *m_edit;
    PillButton *m_watched;
    PillButton *m_exclude;
    PillButton *m_delete;
};

} // namespace clipvane
