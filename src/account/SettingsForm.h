#pragma once

#include <QColor>
#include <QScrollArea>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace clipvane {

class SettingsSection;

// A settings tab's grouped form: sections and notes from top to bottom, scrolling when the
// window is too small for them. Text is Hanken Grotesk 13 unless a part says otherwise.
class SettingsForm : public QScrollArea
{
    Q_OBJECT

public:
    explicit SettingsForm(QWidget *parent = nullptr);

    SettingsSection *addSection(const QString &header = {});
    void addWidget(QWidget *widget);

    // A wrapped text in the regular face.
    static QLabel *text(const QString &text, qreal designSize, const QColor &colour, QWidget *parent = nullptr);
    // A push button in the form's face.
    static QPushButton *button(const QString &text, QWidget *parent = nullptr);
    // A button drawn as a link: no bezel, the tint colour.
    static QPushButton *linkButton(const QString &text, QWidget *parent = nullptr);

private:
    QWidget *m_content = nullptr;
    QVBoxLayout *m_layout = nullptr;
};

} // namespace clipvane
