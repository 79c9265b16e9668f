#include "app/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP};

/// The end the handler writes to; -1 while no object listens.
volatile std::sig_atomic_t g_nWriteEnd = -1;

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int signal)> onSignal) : m_OnSignal(std::move(onSignal))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_Sockets) != 0)
        return; // the system's own handling stays: the process ends at once
    g_nWriteEnd = m_Sockets[0];
    m_pNotifier = std::make_unique<QSocketNotifier>(m_Sockets[1], QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] {
        unsigned char signal = 0;
        if (::read(m_Sockets[1], &signal, 1) == 1 && m_OnSignal)
            m_OnSignal(signal);
    });
    struct sigaction action {};
    action.sa_handler = &TerminationSignals::Handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
    g_nWriteEnd = -1;
    m_pNotifier.reset();
    for (int socket : m_Sockets)
        if (socket >= 0)
            ::close(socket);
}

void TerminationSignals::Handle(int signal)
{
    // Only what is safe in a signal handler: one write, with errno as it was.
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (g_nWriteEnd >= 0 && ::write(g_nWriteEnd, &number, 1) < 0) {
        // Nothing to do: a second signal while the first is unread ends the same way.
    }
    errno = saved;
}
