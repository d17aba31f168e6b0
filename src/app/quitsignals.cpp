#include "quitsignals.h"

#include "core/logger.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int gPipe[2] = {-1, -1};

// Only a write is safe here; the event loop does the rest.
void onSignal(int aSignal)
{
    const unsigned char number = static_cast<unsigned char>(aSignal);
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &number, 1);
}
} // namespace

QuitSignals::QuitSignals(QObject *aParent) : QObject(aParent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPipe) != 0) {
        Logger::instance().text("Cannot watch for quit signals");
        return;
    }
    ::fcntl(gPipe[1], F_SETFL, O_NONBLOCK);
    mNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        if (::read(gPipe[0], &number, 1) == 1)
            Q_EMIT quitRequested(number);
    });
    struct sigaction action = {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    if (gPipe[0] < 0)
        return;
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGINT, &fallback, nullptr);
    sigaction(SIGTERM, &fallback, nullptr);
    delete mNotifier;
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}
