// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Comm.h"

#include "platform/CommDevice.h"
#include "platform/CommPort.h"
#include "platform/PortAccess.h"
#include "platform/SerialRegistry.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <string>

namespace platform::win {

namespace detail {

ssize_t CommDevice::ReadSome(void* buffer, std::size_t count)
{
    return ::read(Fd(), buffer, count);
}

ssize_t CommDevice::WriteSome(const void* buffer, std::size_t count)
{
    return ::write(Fd(), buffer, count);
}

void CommDevice::SetModemLines(const DCB& dcb)
{
    const DWORD dtr = dcb.Flags & fDtrControlMask;
    const DWORD rts = dcb.Flags & fRtsControlMask;
    SetModemLine(dtr == DTR_CONTROL_ENABLE ? SETDTR : CLRDTR);
    if (rts == RTS_CONTROL_ENABLE || rts == RTS_CONTROL_DISABLE)
        SetModemLine(rts == RTS_CONTROL_ENABLE ? SETRTS : CLRRTS);
}

std::size_t CommDevice::InQueue()
{
    int n = 0;
    return ::ioctl(Fd(), FIONREAD, &n) == 0 && n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool SettingsValid(const DCB& d)
{
    const DWORD dtr = d.Flags & fDtrControlMask;
    const DWORD rts = d.Flags & fRtsControlMask;
    // One and a half stop bits exist only with 5 data bits, two only with more.
    const bool stopBitsValid = d.StopBits == ONESTOPBIT ||
                               (d.StopBits == ONE5STOPBITS && d.ByteSize == 5) ||
                               (d.StopBits == TWOSTOPBITS && d.ByteSize != 5);
    // Linux has no DSR flow control and no RTS toggling.
    return d.BaudRate != 0 && d.ByteSize >= 5 && d.ByteSize <= 8 && d.Parity <= SPACEPARITY &&
           stopBitsValid && dtr != DTR_CONTROL_HANDSHAKE && !(d.Flags & fOutxDsrFlow) &&
           rts != RTS_CONTROL_TOGGLE && d.XonChar != d.XoffChar;
}

bool RateTaken(std::uint32_t asked, std::uint32_t got)
{
    const long long diff = static_cast<long long>(got) - static_cast<long long>(asked);
    return std::llabs(diff) * 100 <= static_cast<long long>(asked);
}

namespace {
std::atomic<DeviceOpener> testDeviceOpener{nullptr};
}

void RegisterTestDeviceOpener(DeviceOpener opener)
{
    testDeviceOpener.store(opener);
}

}  // namespace detail

namespace {

using detail::CommDevice;
using detail::CommPort;
using detail::Fail;

std::shared_ptr<CommPort> lookupPort(HANDLE handle)
{
    auto port = LookupHandleAs<CommPort>(handle);
    if (!port)
        SetLastError(ERROR_INVALID_HANDLE);
    return port;
}

// An adapter that was unplugged has left the registry; its port number still tells which
// device it was.
void noteUnplugged(const std::string& portName)
{
    const std::string path = registry::DevicePathOf(portName);
    if (!path.empty() && ::access(path.c_str(), F_OK) != 0)
        ports::SetLastOpenRefusal(ports::AccessFromError(path, ENOENT));
}

}  // namespace

HANDLE CreateFileA(const char* fileName, DWORD, DWORD shareMode, const void* securityAttributes,
                   DWORD creationDisposition, DWORD, HANDLE templateFile)
{
    if (!fileName || securityAttributes || templateFile || creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string name = fileName;
    if (name.rfind("\\\\.\\", 0) == 0)
        name.erase(0, 4);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });

    ports::SetLastOpenRefusal({});
    DWORD error = ERROR_SUCCESS;
    std::unique_ptr<CommDevice> device;
    std::string path;
    if (const detail::DeviceOpener opener = detail::testDeviceOpener.load())
        device = opener(name, error);
    if (!device && error == ERROR_SUCCESS) {
        if (const auto resolved = registry::ResolvePort(name)) {
            path = *resolved;
            device = registry::IsNetworkAddress(path)
                         ? detail::OpenNetworkDevice(path, error)
                         : detail::OpenTtyDevice(path, shareMode == 0, error);
        } else {
            error = ERROR_FILE_NOT_FOUND;
            noteUnplugged(name);
        }
    }
    if (!device) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto port = CommPort::Make(std::move(device), std::move(path));
    if (!port) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    return RegisterHandle(std::move(port));
}

std::string CommDevicePath(HANDLE file)
{
    const auto port = LookupHandleAs<CommPort>(file);
    return port ? port->Path() : std::string();
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue)
{
    const auto port = lookupPort(file);
    return port ? port->Setup(inQueue, outQueue) : FALSE;
}

BOOL GetCommState(HANDLE file, DCB* dcb)
{
    if (!dcb)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->GetState(dcb) : FALSE;
}

BOOL SetCommState(HANDLE file, const DCB* dcb)
{
    if (!dcb)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->SetState(*dcb) : FALSE;
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts)
{
    if (!timeouts)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->GetTimeouts(timeouts) : FALSE;
}

BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts)
{
    if (!timeouts)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->SetTimeouts(*timeouts) : FALSE;
}

BOOL SetCommMask(HANDLE file, DWORD eventMask)
{
    const auto port = lookupPort(file);
    return port ? port->SetMask(eventMask) : FALSE;
}

BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped)
{
    if (!eventMask || !overlapped)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->WaitEvent(eventMask, overlapped) : FALSE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* bytesRead, OVERLAPPED* overlapped)
{
    if (!overlapped || (!buffer && count))
        return Fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->Read(buffer, count, bytesRead, overlapped) : FALSE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* bytesWritten,
               OVERLAPPED* overlapped)
{
    if (!overlapped || (!buffer && count))
        return Fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->Write(buffer, count, bytesWritten, overlapped) : FALSE;
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait)
{
    if (!overlapped)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->Result(overlapped, bytesTransferred, wait) : FALSE;
}

BOOL FlushFileBuffers(HANDLE file)
{
    const auto port = lookupPort(file);
    return port ? port->Flush() : FALSE;
}

BOOL PurgeComm(HANDLE file, DWORD flags)
{
    const auto port = lookupPort(file);
    return port ? port->Purge(flags) : FALSE;
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat)
{
    const auto port = lookupPort(file);
    if (!port) {
        if (errors)
            *errors = 0;
        if (stat)
            *stat = COMSTAT{};
        return FALSE;
    }
    return port->ClearError(errors, stat);
}

BOOL EscapeCommFunction(HANDLE file, DWORD function)
{
    const auto port = lookupPort(file);
    return port ? port->Escape(function) : FALSE;
}

}  // namespace platform::win
