// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no signals for this: a console program hears Ctrl+C, Ctrl+Break, the closing
// of its console window, a logoff and a shutdown through its console control handler.
#include "platform/TerminationSignals.h"

#include <windows.h>
// windows.h first: the CRT's pipe calls take its types.
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace platform {
namespace {

int g_pipe[2] = {-1, -1};
std::atomic<bool> g_caught{false};
std::atomic<int> g_unread{0};  // bytes in the pipe
bool g_installed = false;

// Runs on a thread the system starts for it; it only tells the program's loop, as a signal
// handler does on Linux.
BOOL WINAPI onControl(DWORD)
{
    g_caught = true;
    const char byte = 1;
    if (g_unread < 16 && ::_write(g_pipe[1], &byte, 1) == 1)  // one is enough to wake
        ++g_unread;
    return TRUE;
}

}  // namespace

TerminationSignals::TerminationSignals()
{
    if (g_pipe[0] < 0 && ::_pipe(g_pipe, 64, _O_BINARY | _O_NOINHERIT) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot watch for Ctrl+C");
    g_caught = false;
    g_installed = ::SetConsoleCtrlHandler(onControl, TRUE) != 0;
}

TerminationSignals::~TerminationSignals()
{
    if (g_installed)
        ::SetConsoleCtrlHandler(onControl, FALSE);
    g_installed = false;
}

int TerminationSignals::Fd() const
{
    return g_pipe[0];
}

void TerminationSignals::Clear()
{
    // A pipe read empty would block: only the bytes known to be there are taken.
    char bytes[16];
    if (const int n = g_unread.exchange(0); n > 0)
        [[maybe_unused]] const int got = ::_read(g_pipe[0], bytes, static_cast<unsigned>(n));
}

bool TerminationSignals::Caught()
{
    return g_caught;
}

}  // namespace platform
