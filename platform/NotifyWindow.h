// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hidden notification windows: a window procedure that always runs on the thread that made
// the window (the main thread). A message sent from that thread runs at once; one sent from
// another thread runs there, through the Qt event loop, while the sender waits. A send to a
// window that no longer exists is dropped and returns 0, also for senders already waiting.

#include "platform/Handles.h"

#include <functional>

namespace platform::win {

enum class HWND : std::uintptr_t {};

using WNDPROC = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

// Needs a QCoreApplication; the calling thread must be the one running its event loop.
HWND CreateNotifyWindow(WNDPROC procedure);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// While an object of this class lives on the window's thread, that thread waits for
// something the sender thread does and handles no messages. That thread's sends then leave
// their message queued and go on without waiting (result 0), as does a send of it already
// waiting; other threads still wait. The messages still run, in order, once the window's
// thread handles events again.
class SendsDeferred {
public:
    // sender: the thread's id as GetCurrentThreadId gives it.
    SendsDeferred(HWND window, DWORD sender);
    ~SendsDeferred();
    SendsDeferred(const SendsDeferred&) = delete;
    SendsDeferred& operator=(const SendsDeferred&) = delete;

private:
    HWND window_;
    DWORD sender_;
};

}  // namespace platform::win
