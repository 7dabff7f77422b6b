#include "Fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <cmath>

namespace clipvane {

namespace {

constexpr qreal kLogicalDpi = 96.0;
constexpr qreal kPointsPerInch = 72.0;
constexpr qreal kApplicationTextSize = 13;

struct FaceInfo
{
    const char16_t *family;
    QFont::Weight weight;
};

FaceInfo info(FontFace face)
{
    switch (face) {
    case FontFace::regular:
        return {u"Hanken Grotesk", QFont::Normal};
    case FontFace::medium:
        return {u"Hanken Grotesk", QFont::Medium};
    case FontFace::semiBold:
        return {u"Hanken Grotesk", QFont::DemiBold};
    case FontFace::display:
        return {u"Space Grotesk", QFont::Bold};
    }
    return {u"Hanken Grotesk", QFont::Normal};
}

} // namespace

bool Fonts::load()
{
    static const bool loaded = [] {
        bool ok = true;
        for (const char16_t *file : {u":/fonts/HankenGrotesk_400Regular.ttf", u":/fonts/HankenGrotesk_500Medium.ttf",
                                     u":/fonts/HankenGrotesk_600SemiBold.ttf", u":/fonts/SpaceGrotesk_700Bold.ttf"})
            ok = QFontDatabase::addApplicationFont(QString::fromUtf16(file)) >= 0 && ok;
        // Menus, tooltips and alerts that set no font of their own read the application's. Its
        // size is given in points (a whole pixel size would leave them without a point size).
        QFont text = font(FontFace::regular, kApplicationTextSize);
        text.setPointSizeF(kApplicationTextSize * kPointsPerInch / kLogicalDpi);
        QApplication::setFont(text);
        return ok;
    }();
    return loaded;
}

void Fonts::setDesignSize(QFont &font, qreal designSize)
{
    if (designSize <= 0)
        return;
    const qreal whole = std::round(designSize);
    if (std::abs(designSize - whole) < 0.01)
        font.setPixelSize(static_cast<int>(whole));
    else
        font.setPointSizeF(designSize * kPointsPerInch / kLogicalDpi);
}

QFont Fonts::font(FontFace face, qreal designSize)
{
    const FaceInfo faceInfo = info(face);
    QFont font(QString::fromUtf16(faceInfo.family));
    font.setWeight(faceInfo.weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setHintingPreference(QFont::PreferVerticalHinting);
    setDesignSize(font, designSize);
    return font;
}

QFont Fonts::system(qreal designSize, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    font.setWeight(weight);
    setDesignSize(font, designSize);
    return font;
}

} // namespace clipvane
