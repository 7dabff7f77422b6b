#pragma once

#include <QImage>
#include <QWidget>

namespace clipvane {

// The panel's title on one line: "ASK " and the product name in lower case, whose first
// syllable is italic accent red with a glow.
class AskHeading : public QWidget
{
    Q_OBJECT

public:
    explicit AskHeading(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont m_font;
    QFont m_italic;
    QString m_ask;
    QString m_syllable;
    QString m_rest;
};

} // namespace clipvane
