#include "SignalRelay.h"

#include <QSocketNotifier>

// The self-pipe trick: the handler only writes the signal's number to a pipe,
// and the event loop reads it there.
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeFds[2] = { -1, -1 };

void onSignal(int sig)
{
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
}

} // namespace

void SignalRelay::ignoreBrokenPipe()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
}

SignalRelay::SignalRelay(QObject *parent)
    : QObject(parent)
{
    if (::pipe(pipeFds) != 0)
        return;
    for (int fd : pipeFds)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(pipeFds[0], &byte, 1) != 1)
            return;
        if (byte == SIGHUP)
            emit terminalLost();
        else
            emit interrupted(byte);
    });
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

SignalRelay::~SignalRelay()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGHUP, SIG_IGN); // as ignoreBrokenPipe() left it
    delete notifier;
    notifier = nullptr;
    for (int &fd : pipeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
