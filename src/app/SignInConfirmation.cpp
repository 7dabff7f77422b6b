#include "SignInConfirmation.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace clipvane {

SignInConfirmation::SignInConfirmation(QWidget *parent, std::function<QString()> currentEmail, QObject *owner)
    : QObject(owner)
    , m_parent(parent)
    , m_currentEmail(std::move(currentEmail))
{}

SignInConfirmation::~SignInConfirmation()
{
    delete m_box.data();
}

bool SignInConfirmation::offer(const QString &token, const QString &email)
{
    const auto same = [&](const Request &request) { return request.token == token && request.email == email; };
    if ((m_box && same(m_shown)) || std::any_of(m_waiting.cbegin(), m_waiting.cend(), same))
        return false;
    if (m_waiting.size() >= kMaxWaiting)
        return false;
    m_waiting.append({token, email});
    if (!m_box)
        QTimer::singleShot(0, this, &SignInConfirmation::showNext);
    return true;
}

void SignInConfirmation::showNext()
{
    if (m_box || m_waiting.isEmpty())
        return;
    m_shown = m_waiting.takeFirst();
    const QString current = m_currentEmail ? m_currentEmail() : QString();
    const QString who = m_shown.email.isEmpty() ? tr("an account the link does not name") : m_shown.email;

    auto *box = new QMessageBox(m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Clipvane"));
    QString details;
    QPushButton *accept = nullptr;
    if (current.isEmpty()) {
        box->setText(m_shown.email.isEmpty() ? tr("Sign in with this link?") : tr("Sign in as %1?").arg(who));
        details = tr("A sign-in link asks Clipvane to sign in as %1. Continue only if you started this sign-in "
                     "yourself.")
                      .arg(who);
        accept = box->addButton(tr("Sign In"), QMessageBox::AcceptRole);
    } else {
        box->setText(m_shown.email.isEmpty() ? tr("Switch to another account?") : tr("Switch to %1?").arg(who));
        details = tr("A sign-in link asks Clipvane to replace the account you are signed in with (%1) by %2. "
                     "Continue only if you started this sign-in yourself. The library of %1 stays on this "
                     "computer, changes not yet sent included, and comes back when %1 signs in again.")
                      .arg(current, who);
        accept = box->addButton(tr("Switch Account"), QMessageBox::AcceptRole);
    }
    box->setInformativeText(details);
    QPushButton *cancel = box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    m_box = box;
    connect(box, &QMessageBox::finished, this, [this, box, accept] {
        const Request answered = m_shown;
        const bool yes = box->clickedButton() == accept;
        m_box = nullptr;
        if (yes)
            Q_EMIT confirmed(answered.token, answered.email);
        QTimer::singleShot(0, this, &SignInConfirmation::showNext);
    });
    // Shown without a nested event loop: links, hand-offs and quitting go on while it is open.
    box->open();
}

} // namespace clipvane
