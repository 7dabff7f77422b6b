#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace clipvane {

// SIGINT and SIGTERM as a Qt signal on the main thread, so a command that runs until it is
// interrupted can finish its cycle and let go of the library instead of dying mid-write. A
// second signal of the same kind ends the process at once, as the user then clearly wants.
// One at a time per process; the previous handlers come back when it goes.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    StopSignals();
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Whether the handlers are in place (a pipe could be made).
    bool installed() const { return m_notifier != nullptr; }
    // Asks for the stop as a signal would.
    void request() { Q_EMIT requested(); }

Q_SIGNALS:
    void requested();

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace clipvane
