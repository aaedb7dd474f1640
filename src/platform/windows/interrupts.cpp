#include "platform/interrupts.h"

#include <windows.h>

#include <csignal>
#include <cstdio>

#include "platform/windows/file_names.h"

namespace recmux::platform {
namespace {

volatile LONG caught = 0;
// Written before the handler is installed and only read by it.
std::vector<std::string> abandoned;

// Runs on a thread of its own that the console starts for each event.
BOOL WINAPI Catch(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (InterlockedCompareExchange(&caught, SIGINT, 0) == 0)
        return TRUE;
    for (const std::string &path : abandoned)
        DeleteFileW(WideName(path.c_str()).c_str());
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void CatchInterrupts(std::vector<std::string> abandon)
{
    abandoned = std::move(abandon);
    SetConsoleCtrlHandler(Catch, TRUE);
}

int InterruptSignal()
{
    return static_cast<int>(caught);
}

void EndByInterruptSignal()
{
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace recmux::platform
