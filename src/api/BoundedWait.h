#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

namespace clipvane {

// Starts an operation that answers with a signal and waits for that answer in a local event
// loop, for at most `timeout`. True when the answer came in time; `onAnswer` runs while the
// sender emits, so results can be taken before the sender may delete itself.
//
// A late answer is harmless: the connection belongs to the local loop and dies with it, so
// nothing that lived on this stack frame is touched once the wait has given up. The sender
// is not deleted here either; it may still be in flight and must clean itself up.
template<typename Sender, typename Signal>
bool waitForAnswer(Sender *sender, Signal signal, const std::function<void()> &onAnswer,
                   const std::function<void()> &start, std::chrono::milliseconds timeout)
{
    QEventLoop loop;
    bool answered = false;
    QObject::connect(sender, signal, &loop, [&] {
        if (answered)
            return;
        answered = true;
        onAnswer();
        loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeout);
    start();
    if (!answered)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return answered;
}

} // namespace clipvane
