#pragma once

#include <QAbstractButton>

namespace clipvane {

// A symbol on a round dark backdrop (black at 0.45), for controls laid over the video: the
// previous and next chevrons and the close button of browse mode.
class CircleButton : public QAbstractButton
{
    Q_OBJECT

public:
    // symbolSize: the design size of the symbol; padding: around the symbol's box.
    CircleButton(const QString &symbol, qreal symbolSize, int padding, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    int m_box;
    int m_padding;
};

} // namespace clipvane
