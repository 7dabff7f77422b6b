#pragma once

#include <QDialog>
#include <functional>

namespace clipvane {

// Asks the user to confirm one destructive step; runs it only on the confirming button.
class MacConfirmSheet : public QDialog
{
    Q_OBJECT

public:
    MacConfirmSheet(const QString &title, const QString &message, const QString &destructiveLabel,
                    std::function<void()> action, QWidget *parent = nullptr);

    // Runs the step, then closes.
    void confirm();

    // The texts for deleting a video of the given title.
    static QString deleteTitle(const QString &videoTitle);

private:
    std::function<void()> m_action;
};

} // namespace clipvane
