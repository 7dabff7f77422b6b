#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

namespace clipvane {

// Asks the person before a sign-in link that this application did not ask for is applied: any
// program on the computer can open such a link, and applying it would put someone else's
// account in the window. One question at a time, each shown from the event loop as a window of
// its own (never inside the handler that received the link, and never in a nested event loop),
// so the handler answers at once and quitting with questions open is safe. Cancel is the
// default answer.
class SignInConfirmation : public QObject
{
    Q_OBJECT

public:
    // More links than this waiting to be asked about are a flood, not a sign-in: they are dropped.
    static constexpr int kMaxWaiting = 3;

    // currentEmail: whoever is signed in now (empty: nobody), read when a question is shown.
    SignInConfirmation(QWidget *parent, std::function<QString()> currentEmail, QObject *owner = nullptr);
    ~SignInConfirmation() override;

    // Queues a question about this sign-in; false when it was dropped (already waiting, or too many).
    bool offer(const QString &token, const QString &email);
    int waiting() const { return int(m_waiting.size()) + (m_box ? 1 : 0); }

Q_SIGNALS:
    // The person chose to sign in with it.
    void confirmed(const QString &token, const QString &email);

private:
    struct Request
    {
        QString token;
        QString email;
    };
    void showNext();

    QPointer<QWidget> m_parent;
    std::function<QString()> m_currentEmail;
    QList<Request> m_waiting;
    QPointer<QMessageBox> m_box;
    Request m_shown;
};

} // namespace clipvane
