// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a serial device is and whether this user can have it now, answered without opening
// it: the USB adapter's own description from sysfs, and the reasons an open would fail
// (the device node's permissions, another program holding it through a UUCP lock file or an
// open descriptor, a device that is gone). Opening a port takes the same lock and runs the
// same checks, so a refusal names the same reason a listing shows. What a refusal says to
// the user is in PortTexts.h.

#include <filesystem>
#include <string>
#include <string_view>

namespace platform::ports {

// Where the checks look. Tests point them at temporary trees; the setting is process-wide.
struct Roots {
    // UUCP lock files. Empty: $ZUB3_LOCK_DIR if set, else /run/lock, else /var/lock.
    std::filesystem::path lockDir;
    std::filesystem::path procDir = "/proc";
};
void SetRoots(const Roots& roots);
Roots CurrentRoots();
// The lock directory in use (the first of the choices above that exists).
std::filesystem::path LockDirectory();

// --- description ---

// Text chosen by others (a program's name, a USB device's strings) made fit for a terminal
// or a window: every control character (C0, DEL, C1, a terminal's escape sequences among
// them) and every byte that is not part of well-formed UTF-8 becomes '?'.
std::string DisplaySafe(std::string_view text);

// The first line of a small file written by others (a sysfs attribute, a program's name in
// /proc), without its line end and trailing blanks, made DisplaySafe; "" when unreadable.
std::string ReadFirstLine(const std::filesystem::path& file);

// Whether process pid runs, as the roots' /proc shows it. A PID of 0 or less, one beyond
// pid_t (a file can hold any number; cut to pid_t it could name a live process or a group)
// and a zombie (ended, not yet collected) are not alive; a process of another user is.
bool ProcessAlive(long pid);

// What sysfs says of a device, through the serial-port registry's sysfs and /dev roots.
// Only the device path is known for devices that are not USB adapters.
struct PortDescription {
    std::string device;        // "/dev/ttyUSB0"
    std::string product;       // "FT232R USB UART"
    std::string manufacturer;  // "FTDI"
    std::string serial;        // "A50285BI"
    std::string byId;          // "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
};
PortDescription DescribePort(const std::string& devicePath);
// "/dev/ttyUSB0: FT232R USB UART, FTDI, serial A50285BI", then the by-id name on a line of
// its own; just the device path when sysfs says nothing more.
std::string DescriptionText(const PortDescription& description);

// --- availability ---

enum class Access {
    Free,    // an open would not be refused for any of the reasons below
    Denied,  // this user may not read and write the device node
    Held,    // another program (or another port object of this one) has the device
    Gone,    // no such device (unplugged, or a registered device path that is no more)
    // A network port (device "HOST:PORT"); Held there means the server has another client.
    Refused,      // nobody listens there, or the server turned the connection down
    Unreachable,  // no answer from the address in time, or no route to it
    Unresolved,   // the host name is not known
    Dropped,      // the connection ended while the port was open
    NotRfc2217,   // the server took the connection but does not speak RFC 2217 (a raw port)
    LookupFailed, // the name server did not answer in time
};

struct PortAccess {
    Access state = Access::Free;
    std::string device;   // the device path, as given
    std::string group;    // Denied: the device node's group ("dialout") if joining it would help, or ""
    long pid = 0;         // Held: the holder's process, 0 when it cannot be seen
    std::string program;  // Held: the holder's program name, "" when it cannot be seen
};

// Stats the node, checks access(), reads the lock file and scans the visible processes'
// open descriptors. A process holding the master side of the same pseudo-terminal is the
// device's other end, not a holder. A network port is Free here: listing never connects.
PortAccess CheckAccess(const std::string& devicePath);
// Whether the RFC 2217 server of a network port ("rfc2217://HOST:PORT") takes a client
// now: connects, negotiates and hangs up.
PortAccess CheckServer(const std::string& address);
// The parts of CheckAccess that an open uses around its own steps: the visible process,
// other than the far end, that has the device open (Free when none); and what an open that
// failed with errno error means (Free when nothing known).
PortAccess FindHolder(const std::string& devicePath);
PortAccess AccessFromError(const std::string& devicePath, int error);

// The reason the calling thread's last failed CreateFileA of a port was refused, when it
// is one of the above; Access::Free when the cause is unknown or the last open succeeded.
PortAccess LastOpenRefusal();
// Set by the serial communications on each open of a port.
void SetLastOpenRefusal(const PortAccess& access);

// --- locking (used by the serial communications when it opens a device) ---

// The UUCP lock of one device: LCK..<name> holding this process's PID as ten ASCII digits
// and a newline. A lock whose process is gone (or a zombie) is replaced by ours, by one
// taker only when several find it at once. Released when the
// object dies and, for locks still held, when the process exits normally.
class DeviceLock {
public:
    // Takes the lock for devicePath; on refusal Held() is false and Holder() says who.
    // A lock directory this user cannot write, or a stale lock this user may not remove,
    // leaves the device unlocked, not refused.
    explicit DeviceLock(const std::string& devicePath);
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    bool Held() const { return held_; }
    const PortAccess& Holder() const { return holder_; }

private:
    bool held_ = false;
    std::filesystem::path file_;  // empty when nothing to remove
    PortAccess holder_;
};

// The lock file's name for a device: "LCK..ttyUSB0", "LCK..pts_3" for /dev/pts/3.
std::string LockFileName(const std::string& devicePath);

}  // namespace platform::ports
