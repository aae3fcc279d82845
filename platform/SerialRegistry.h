// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The list of serial ports, standing in for the registry key that lists them
// ("HARDWARE\DEVICEMAP\SERIALCOMM"). Each value has a name (the device), a type and data
// (the port name "COMn"). It merges the machine's real serial devices, under stable COM
// numbers, with virtual ports that programs (the virtual receiver) register in a per-user
// runtime directory, and with network ports the user names in ports.conf. Reading is
// read-only and never opens a device or connects to a server.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::registry {

enum class ValueType { String, ExpandString, MultiString, DWord, Binary };

struct Value {
    std::string name;        // the device, e.g. "ttyUSB0" or a virtual port's name
    ValueType type = ValueType::String;
    std::string data;        // the port name, e.g. "COM11", or a path (below)
    std::string devicePath;  // what the port name opens, e.g. "/dev/ttyUSB0"
};

struct Location {
    std::filesystem::path runtimeDir;  // virtual ports registered by programs
    std::filesystem::path sysTtyDir;   // normally /sys/class/tty
    std::filesystem::path devDir;      // normally /dev
    std::filesystem::path portsFile;   // network ports the user names; empty: none
};

// The machine's location: $XDG_RUNTIME_DIR/zub3/serialcomm (or /tmp/zub3-<uid>/serialcomm),
// /sys/class/tty, /dev and $XDG_CONFIG_HOME/zub3/ports.conf (or ~/.config/zub3/ports.conf).
Location DefaultLocation();
// Tests point the registry at a temporary directory; the setting is process-wide.
void SetLocation(const Location& location);
Location CurrentLocation();

// All values in a stable order (real devices first, then this process's network ports,
// registrations by name, and the network ports of ports.conf), or no value at all when the
// key is absent (no runtime directory, no real device and no network port) or cannot be
// read. A ports.conf line that cannot be used is skipped and reported once (below).
std::optional<std::vector<Value>> ReadSerialComm();

// The number of a port name "COMn" (n up to nine digits), or -1 when it is not one.
int PortNumber(std::string_view portName);

// What ports.conf holds that cannot be used: the file itself (unreadable, a directory in
// its place) or a line. port: the port a line names ("COM60"), "" when none.
struct PortsFileProblem {
    std::string port;
    std::string message;  // "FILE:LINE: what; line skipped", in English
};
// Where each problem goes when first found, once per process: standard error unless a
// program shows them itself (the window's status line, zub3ctl's notes); null puts back
// standard error.
using PortsFileSink = std::function<void(const PortsFileProblem&)>;
void SetPortsFileSink(PortsFileSink sink);
// Every problem told so far, in order.
std::vector<PortsFileProblem> PortsFileProblems();

// The device path behind a port name ("COM3" or "\\.\COM3"), if one is registered.
std::optional<std::string> ResolvePort(const std::string& portName);

// Whether a path (links followed) is a terminal device, whatever its name: a pseudo
// terminal, a board's UART, a Bluetooth serial port. Told from the tty drivers the kernel
// lists (/proc/tty/drivers) without opening the device, as an open can have effects (a
// pulse on the modem lines, a Bluetooth connection). The console and controlling-terminal
// aliases and pseudo-terminal masters are not ports.
bool IsTerminalDevice(const std::string& path);

// A port number for a device given by path or a network address, for this process only: ResolvePort (and so an
// open of "COMn") finds it here before the listed ports, and nothing is listed or written
// for other programs. The same path keeps its number. The numbers lie far above those
// that devices and registrations take, and within the eight digits a port number may have.
inline constexpr int kFirstProcessPort = 10'000'000;
int PortForThisProcess(const std::string& devicePath);

// The number the serial component opens a listed port by: n for "COMn"; for a port listed
// by its path (a board's own UART, /dev/serial0), the number this process gives that path;
// -1 for neither.
int OpenNumber(const std::string& portName);

// Real devices map to fixed numbers: ttyS0..9 COM1..10, ttyUSB0..19 COM11..30,
// ttyACM0..19 COM31..50; virtual ports take the lowest free number from COM51, and real
// devices beyond those bands the lowest free one from COM101. A board's own UARTs
// (ttyAMA*, ttyTHS*) and the /dev/serial* links to them are listed by path: the path is
// their port name, and the device a link names is its target.
inline constexpr int kFirstVirtualPort = 51;
inline constexpr int kFirstExtraPort = 101;

int FreePortNumber();

// The real device a port number stands for by its band ("ttyUSB0" for "COM11"), listed or
// not; "" for numbers outside the bands.
std::string RealDeviceName(const std::string& portName);

// The device a port name stands for: the registered one or, for an adapter that has left
// the list (unplugged), the one its number stands for by its band; "" when neither.
std::string DevicePathOf(const std::string& portName);

// A virtual port's entry, removed again when the object dies. A registration whose owner
// process has gone (a killed run) is stale: readers skip it and a new registration of the
// same port replaces it.
class Registration {
public:
    // portNumber <= 0 chooses a free number. Throws std::runtime_error when the number is
    // taken by a live entry or a real device, or the directory cannot be written.
    Registration(int portNumber, const std::string& devicePath, const std::string& valueName);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    std::string PortName() const { return "COM" + std::to_string(number_); }
    int PortNumber() const { return number_; }

private:
    int number_;
    std::filesystem::path file_;
};

// --- network ports ---

// A serial port shared over the network by an RFC 2217 server (ser2net): its device path is
// "rfc2217://HOST:PORT", HOST a name, an IPv4 address or an IPv6 one in brackets.
struct NetworkAddress {
    std::string host;  // without brackets
    std::string port;  // 1 to 65535, as digits
    std::string Text() const;  // "HOST:PORT", "[::1]:2217"
};
bool IsNetworkAddress(const std::string& devicePath);
std::optional<NetworkAddress> ParseNetworkAddress(const std::string& devicePath);

// Writes a raw entry (any type), as another program might; for tests.
void WriteEntry(const std::string& valueName, ValueType type, const std::string& data,
                const std::string& devicePath, long ownerPid = 0);

}  // namespace platform::registry
