// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Thread message queues. A thread gets its queue with its first call of PeekMessageA or
// WaitMessage and loses it when it ends; posting to a thread without a queue fails.

#include "platform/Handles.h"
#include "platform/NotifyWindow.h"

namespace platform::win {

struct MSG {
    HWND hwnd{};
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

inline constexpr UINT PM_NOREMOVE = 0;
inline constexpr UINT PM_REMOVE = 1;

// The calling thread's identifier: the kernel's thread id, as TThread reports it.
DWORD GetCurrentThreadId();

// False (ERROR_INVALID_THREAD_ID) when the thread has no queue.
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);

// Sleeps until the calling thread's queue holds a message.
BOOL WaitMessage();

// Takes (PM_REMOVE) or looks at (PM_NOREMOVE) the oldest queued message whose number lies
// in [filterMin, filterMax] (both 0: any). Thread messages only: window must be null.
BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage);

}  // namespace platform::win
