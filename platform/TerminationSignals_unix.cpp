// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace platform {
namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The handler only writes a byte here and sets the flag; the program's loop does the work,
// which a signal handler may not.
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_caught = 0;
std::array<struct sigaction, kSignals.size()> g_previous{};
std::array<bool, kSignals.size()> g_installed{};

extern "C" void onSignal(int)
{
    g_caught = 1;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);  // full: one is enough
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals()
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot watch for signals");
    g_caught = 0;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        g_installed[i] = ::sigaction(kSignals[i], nullptr, &g_previous[i]) == 0 &&
                         g_previous[i].sa_handler != SIG_IGN &&
                         ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        if (g_installed[i])
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_installed.fill(false);
}

int TerminationSignals::Fd() const
{
    return g_pipe[0];
}

void TerminationSignals::Clear()
{
    char bytes[64];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
}

bool TerminationSignals::Caught()
{
    return g_caught != 0;
}

}  // namespace platform
