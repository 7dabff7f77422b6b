#pragma once

#include "AskConversation.h"
#include "AskVideo.h"

#include <QPointer>
#include <QWidget>
#include <qcorotask.h>

class QLineEdit;
class QPropertyAnimation;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace clipvane {

class APIClient;
class AskBubble;

// The assistant's chat panel: questions about the user's library, answered by the service with
// the videos they name. The conversation lives only in this widget: a new panel starts afresh.
class AskPanel : public QWidget
{
    Q_OBJECT

public:
    // api must outlive the panel.
    explicit AskPanel(APIClient &api, QWidget *parent = nullptr);
    ~AskPanel() override;

    const AskConversation &conversation() const { return m_conversation; }
    QLineEdit *input() const { return m_input; }
    QPushButton *sendButton() const { return m_send; }

    // Sends the draft as the next question, unless it is blank or a question is waiting.
    void send();

Q_SIGNALS:
    // The close button or Escape: the window hides the panel (and discards it).
    void closeRequested();
    // A video card was pressed.
    void playRequested(const clipvane::AskVideo &video);
    // A question was answered or failed (its message is in the conversation).
    void answered();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeHeader();
    QWidget *makeInputBar();
    QCoro::Task<> ask(AskConversation::Outgoing outgoing);
    void appendMessage(const AskMessage &message);
    void setThinking(bool thinking);
    void updateSendEnabled();
    void fitBubbles();
    void scrollToEnd();
    void animateToEnd();

    APIClient &m_api;
    AskConversation m_conversation;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_column = nullptr;
    QVBoxLayout *m_columnLayout = nullptr;
    QWidget *m_thinkingRow = nullptr;
    QLineEdit *m_input = nullptr;
    QPushButton *m_send = nullptr;
    QList<QPointer<AskBubble>> m_bubbles;
    QPropertyAnimation *m_scrollAnimation = nullptr;
    bool m_followEnd = false;
};

} // namespace clipvane
