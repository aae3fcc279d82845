// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SerialRegistry.h"
#include "platform/SystemPorts.h"

#include <windows.h>
// windows.h first: these need its types.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <map>

namespace platform::registry {
namespace {

// Windows keeps the key's names and data in the ANSI code page only for ASCII; port names
// and driver device names are ASCII, friendly names need not be.
std::string utf8(const wchar_t* text, int length = -1)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    if (length < 0 && !out.empty())
        out.pop_back();  // the terminating zero
    return out;
}

// The device manager's friendly names of the ports it knows, by port name. A port the
// manager does not list (a virtual one of a driver without an entry) just has none.
std::map<std::string, std::string> friendlyNames()
{
    std::map<std::string, std::string> names;
    const HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return names;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t port[64] = {};
        DWORD size = sizeof port - sizeof(wchar_t);
        DWORD type = 0;
        const bool named = ::RegQueryValueExW(key, L"PortName", nullptr, &type,
                                              reinterpret_cast<BYTE*>(port), &size) == ERROR_SUCCESS &&
                           type == REG_SZ;
        ::RegCloseKey(key);
        wchar_t friendly[256] = {};
        if (named && ::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                         reinterpret_cast<BYTE*>(friendly),
                                                         sizeof friendly - sizeof(wchar_t), nullptr))
            names[utf8(port)] = utf8(friendly);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return names;
}

}  // namespace

std::vector<SystemPort> SystemSerialPorts()
{
    std::vector<SystemPort> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        // Value names are at most 16383 characters; the data of a port name is short.
        wchar_t name[16384];
        wchar_t data[256] = {};
        DWORD nameLength = std::size(name), dataSize = sizeof data - sizeof(wchar_t), type = 0;
        const LONG rc = ::RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;  // one value in a form of its own (or too long) hides no other
        const std::string portName = utf8(data);
        if (PortNumber(portName) >= 0)
            ports.push_back({utf8(name, static_cast<int>(nameLength)), portName, {}});
    }
    ::RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const SystemPort& a, const SystemPort& b) {
        return PortNumber(a.portName) < PortNumber(b.portName);
    });
    const auto names = friendlyNames();
    for (auto& p : ports)
        if (const auto it = names.find(p.portName); it != names.end())
            p.friendlyName = it->second;
    return ports;
}

std::string DeviceName(const std::string& portName)
{
    return "\\\\.\\" + portName;
}

}  // namespace platform::registry

namespace platform::ports {

PortAccess AccessFromSystemError(const std::string& portName, std::uint32_t error)
{
    PortAccess a;
    a.device = portName;
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        a.state = Access::Held;  // Windows does not say by whom
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        a.state = Access::Gone;
        break;
    default:
        break;
    }
    return a;
}

}  // namespace platform::ports
