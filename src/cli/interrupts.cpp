#include "interrupts.h"

#include <atomic>
#include <csignal>

namespace {
std::atomic<bool> gRaised{false};

void onSignal(int aSignal)
{
    gRaised.store(true);
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(aSignal, &fallback, nullptr);
}
} // namespace

void Interrupts::install()
{
    struct sigaction action = {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a terminal prompt waiting for input must give up.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Interrupts::raised()
{
    return gRaised.load();
}
