#pragma once

#include <QDialog>
#include <functional>

class QPushButton;

namespace clipvane {

// Asks the user to confirm one destructive step; runs it only on the confirming button.
class ConfirmSheet : public QDialog
{
    Q_OBJECT

public:
    ConfirmSheet(const QString &title, const QString &message, const QString &destructiveLabel,
                 std::function<void()> action, QWidget *parent = nullptr);

    // Runs the step, then closes.
    void confirm();
    // For a step that cannot be undone: the confirming button in red, and Return cancels.
    void setDestructive();

    // The texts for deleting a video of the given title.
    static QString deleteTitle(const QString &videoTitle);

private:
    std::function<void()> m_action;
    QPushButton *m_cancel;
    QPushButton *m_confirm;
};

} // namespace clipvane
