#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

/// SIGTERM and SIGHUP (kill, a logout, a system going down) end Varnel without a question, through
/// the event loop. The handler only writes the signal's number to one end of a socket pair, which
/// is all a signal handler may safely do; the event loop reads it from the other end and calls
/// onSignal with it. The system's own handling comes back with the object's end.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    static void Handle(int signal);

    int m_Sockets[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    std::function<void(int)> m_OnSignal;
};
