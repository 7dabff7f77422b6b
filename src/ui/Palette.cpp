#include "Palette.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace clipvane {

QColor Palette::ink()
{
    return QColor::fromRgbF(0.03f, 0.03f, 0.04f);
}

QColor Palette::card()
{
    return QColor::fromRgbF(0.11f, 0.11f, 0.13f);
}

QColor Palette::muted()
{
    return grey(0.62);
}

QColor Palette::hairline()
{
    return grey(0.18);
}

QColor Palette::accent()
{
    return QColor::fromRgbF(1.0f, 0.16f, 0.14f);
}

QColor Palette::text()
{
    return Qt::white;
}

QColor Palette::grey(double whiteLevel)
{
    const auto level = static_cast<float>(std::clamp(whiteLevel, 0.0, 1.0));
    return QColor::fromRgbF(level, level, level);
}

QColor Palette::white(double opacity)
{
    return QColor::fromRgbF(1.0f, 1.0f, 1.0f, static_cast<float>(std::clamp(opacity, 0.0, 1.0)));
}

QColor Palette::black(double opacity)
{
    return QColor::fromRgbF(0.0f, 0.0f, 0.0f, static_cast<float>(std::clamp(opacity, 0.0, 1.0)));
}

QColor Palette::errorRed()
{
    return QColor::fromRgb(255, 69, 58);
}

QColor Palette::focusRing()
{
    return QColor::fromRgb(0x2f, 0x6f, 0xeb);
}

void Palette::applyTo(QApplication &app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QPalette palette;
    const auto both = [&palette](QPalette::ColorRole role, const QColor &color) {
        palette.setColor(QPalette::Active, role, color);
        palette.setColor(QPalette::Inactive, role, color);
    };
    const auto all = [&palette](QPalette::ColorRole role, const QColor &color) { palette.setColor(role, color); };

    all(QPalette::Window, ink());
    all(QPalette::Base, card());
    all(QPalette::AlternateBase, grey(0.14));
    all(QPalette::Button, card());
    all(QPalette::ToolTipBase, card());
    all(QPalette::Light, grey(0.30));
    all(QPalette::Midlight, grey(0.22));
    all(QPalette::Mid, hairline());
    all(QPalette::Dark, grey(0.08));
    all(QPalette::Shadow, black(1.0));
    both(QPalette::WindowText, text());
    both(QPalette::Text, text());
    both(QPalette::ButtonText, text());
    both(QPalette::ToolTipText, text());
    both(QPalette::BrightText, text());
    all(QPalette::PlaceholderText, muted());
    // White tint: selections and links are white on dark, not the platform's blue.
    both(QPalette::Highlight, grey(0.30));
    both(QPalette::HighlightedText, text());
    all(QPalette::Link, text());
    all(QPalette::LinkVisited, muted());

    const QColor disabled = grey(0.38);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText})
        palette.setColor(QPalette::Disabled, role, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, grey(0.20));
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, disabled);

    app.setPalette(palette);
}

} // namespace clipvane
