#pragma once

#include <QObject>

class QSocketNotifier;

namespace clipvane {

// Turns SIGTERM, SIGINT and SIGHUP (a session logging out, Ctrl+C in a terminal) into an orderly
// quit on the main thread, so the store is closed and the lock released as on any other quit.
// One instance per process.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signal);

private:
    static void handle(int signal);
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace clipvane
