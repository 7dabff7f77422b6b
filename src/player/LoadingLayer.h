#pragma once

#include <QVariantAnimation>
#include <QWidget>

namespace clipvane {

// Covers the player while a video loads: a small spinning indicator and "Loading…" in a
// centred row on nearly opaque black. The indicator turns only while the layer is shown.
class LoadingLayer : public QWidget
{
    Q_OBJECT

public:
    explicit LoadingLayer(QWidget *parent = nullptr);

    QString text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QString m_text;
    QVariantAnimation m_spin;
};

} // namespace clipvane
