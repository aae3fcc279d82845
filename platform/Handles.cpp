// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Handles.h"

#include <mutex>
#include <unordered_map>

namespace platform::win {

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
    HANDLE next = 0x100;
};

// Never destroyed: threads that free themselves may still close handles while the
// process exits.
HandleTable& table()
{
    static HandleTable& t = *new HandleTable;
    return t;
}

}  // namespace

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD error)
{
    t_lastError = error;
}

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object)
{
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    const HANDLE handle = t.next;
    t.next += 4;
    t.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle)
{
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    const auto it = t.objects.find(handle);
    return it == t.objects.end() ? nullptr : it->second;
}

BOOL CloseHandle(HANDLE object)
{
    const std::shared_ptr<KernelObject> closed = LookupHandle(object);
    if (!closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Closed first, removed after: once a lookup fails, the object has finished closing
    // (a port has ended its pending operations).
    closed->Closed();
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    t.objects.erase(object);
    return TRUE;
}

}  // namespace platform::win
