#include "platform/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace recmux::platform {
namespace {

volatile std::sig_atomic_t caught = 0;
// Written before the handler is installed and only read by it.
std::vector<std::string> abandoned;

void Catch(int number)
{
    if (caught == 0) {
        caught = number;
        return;
    }
    for (const std::string &path : abandoned)
        unlink(path.c_str());
    std::signal(number, SIG_DFL);
    raise(number);
}

void Install(int number)
{
    struct sigaction action = {};
    action.sa_handler = Catch;
    // Either signal waits while the handler runs for the other.
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    struct sigaction previous = {};
    sigaction(number, &action, &previous);
    if (previous.sa_handler == SIG_IGN)
        sigaction(number, &previous, nullptr);
}

}  // namespace

void CatchInterrupts(std::vector<std::string> abandon)
{
    abandoned = std::move(abandon);
    Install(SIGINT);
    Install(SIGTERM);
}

int InterruptSignal()
{
    return caught;
}

void EndByInterruptSignal()
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::signal(caught, SIG_DFL);
    raise(caught);
    std::_Exit(128 + caught);
}

}  // namespace recmux::platform
