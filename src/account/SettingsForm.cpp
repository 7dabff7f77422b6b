#include "SettingsForm.h"

#include "Fonts.h"
#include "Palette.h"
#include "SettingsSection.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kFormTextSize = 13;
// Room around the caption as the platform's push buttons have; the bezel stays the style's.
const QString kButtonStyle = QStringLiteral("QPushButton { padding: 3px 12px; }");

} // namespace

SettingsForm::SettingsForm(QWidget *parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_content = new QWidget;
    m_content->setFont(Fonts::font(FontFace::regular, kFormTextSize));
    m_layout = new QVBoxLayout(m_content);
    m_layout->setContentsMargins(20, 16, 20, 16);
    m_layout->setSpacing(14);
    m_layout->addStretch(1);
    setWidget(m_content);
    viewport()->setAutoFillBackground(false);
    m_content->setAutoFillBackground(false);
}

SettingsSection *SettingsForm::addSection(const QString &header)
{
    auto *section = new SettingsSection(header, m_content);
    addWidget(section);
    return section;
}

void SettingsForm::addWidget(QWidget *widget)
{
    widget->setParent(m_content);
    m_layout->insertWidget(m_layout->count() - 1, widget);
}

QLabel *SettingsForm::text(const QString &text, qreal designSize, const QColor &colour, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(Fonts::font(FontFace::regular, designSize));
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
    return label;
}

QPushButton *SettingsForm::button(const QString &text, QWidget *parent)
{
    auto *result = new QPushButton(text, parent);
    result->setFont(Fonts::font(FontFace::regular, kFormTextSize));
    result->setAutoDefault(false);
    result->setStyleSheet(kButtonStyle);
    return result;
}

QPushButton *SettingsForm::linkButton(const QString &text, QWidget *parent)
{
    auto *result = button(text, parent);
    result->setFlat(true);
    result->setCursor(Qt::PointingHandCursor);
    result->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; color: %1; }"
                                         " QPushButton:hover { text-decoration: underline; }")
                              .arg(Palette::text().name()));
    return result;
}

} // namespace clipvane
