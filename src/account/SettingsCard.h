#pragma once

#include <QWidget>

namespace clipvane {

// The rounded, outlined background of a settings group.
class SettingsCard : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsCard(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace clipvane
