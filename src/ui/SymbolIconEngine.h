#pragma once

#include <QColor>
#include <QIconEngine>
#include <QString>

namespace clipvane {

// Renders one tinted symbol at whatever size and pixel ratio the icon is asked for.
class SymbolIconEngine : public QIconEngine
{
public:
    SymbolIconEngine(QString name, QColor tint);

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
    QIconEngine *clone() const override;
    QString key() const override;
    QString iconName() override { return m_name; }
    bool isNull() override;

private:
    QColor tintFor(QIcon::Mode mode) const;

    QString m_name;
    QColor m_tint;
};

} // namespace clipvane
