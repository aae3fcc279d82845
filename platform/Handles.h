// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Handles and the basic types of the operating-system calls the serial component is written
// against. A handle is a 32-bit number naming an object (an event, an open port) in a
// process-wide table; numbers are never reused, so a stale handle can never reach a newer
// object.

#include <cstdint>
#include <memory>

namespace platform::win {

using BOOL = int;
inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using ULONG_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

using HANDLE = std::uint32_t;
inline constexpr HANDLE INVALID_HANDLE_VALUE = 0xFFFFFFFF;
inline constexpr DWORD MAXDWORD = 0xFFFFFFFF;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

// Error codes of GetLastError.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_IO_INCOMPLETE = 996;
inline constexpr DWORD ERROR_IO_PENDING = 997;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;

DWORD GetLastError();
void SetLastError(DWORD error);

// Closes an event or an open port. False (ERROR_INVALID_HANDLE) for an unknown handle.
BOOL CloseHandle(HANDLE object);

// For the platform's own units: the objects behind handles.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Runs when its handle is closed, before the handle stops naming it; twice when two
    // threads close it at once, so it must be idempotent.
    virtual void Closed() {}
};

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
// The object, or null when the handle is unknown or names another kind of object.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace platform::win
