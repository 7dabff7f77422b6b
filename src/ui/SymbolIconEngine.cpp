#include "SymbolIconEngine.h"

#include "Symbols.h"

#include <QPainter>

namespace clipvane {

namespace {
constexpr double kDisabledOpacity = 0.35;
}

SymbolIconEngine::SymbolIconEngine(QString name, QColor tint)
    : m_name(std::move(name))
    , m_tint(tint)
{}

QColor SymbolIconEngine::tintFor(QIcon::Mode mode) const
{
    QColor tint = m_tint;
    if (mode == QIcon::Disabled)
        tint.setAlphaF(static_cast<float>(tint.alphaF() * kDisabledOpacity));
    return tint;
}

void SymbolIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State)
{
    Symbols::paint(*painter, rect, m_name, tintFor(mode));
}

QPixmap SymbolIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    return scaledPixmap(size, mode, state, 1.0);
}

QPixmap SymbolIconEngine::scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale)
{
    return Symbols::pixmap(m_name, tintFor(mode), size, scale);
}

QIconEngine *SymbolIconEngine::clone() const
{
    return new SymbolIconEngine(m_name, m_tint);
}

QString SymbolIconEngine::key() const
{
    return QStringLiteral("clipvane-symbol");
}

bool SymbolIconEngine::isNull()
{
    return !Symbols::exists(m_name);
}

} // namespace clipvane
