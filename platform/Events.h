// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Events (manual or automatic reset) and sleeps.

#include "platform/Handles.h"

namespace platform::win {

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Security attributes and names are not supported: pass null. Returns 0 on failure.
HANDLE CreateEventA(const void* attributes, BOOL manualReset, BOOL initialState,
                    const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// WAIT_OBJECT_0 when signalled (an automatic-reset event is reset again), WAIT_TIMEOUT
// after milliseconds (INFINITE waits for ever), WAIT_FAILED for a handle that is no event.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

void Sleep(DWORD milliseconds);

}  // namespace platform::win
