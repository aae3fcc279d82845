// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the system itself says about serial ports, where it keeps a list of its own
// (Windows): the COM names in its SERIALCOMM key, each with the friendly name its device
// manager shows, and what a refused open of one means.

#include "platform/PortAccess.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::registry {

struct SystemPort {
    std::string device;        // the driver's device, "\Device\Serial0"
    std::string portName;      // "COM3", as Windows numbers it
    std::string friendlyName;  // "USB Serial Port (COM3)"; "" when the device manager has none
};

// The ports in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, by number; none when the key is absent
// (no serial port at all).
std::vector<SystemPort> SystemSerialPorts();

// "\\.\COM12": the name CreateFile opens a port of any number by.
std::string DeviceName(const std::string& portName);

}  // namespace platform::registry

namespace platform::ports {

// What a failed CreateFile of a port means: Windows refuses a port another program has
// open with ERROR_ACCESS_DENIED (Wine with ERROR_SHARING_VIOLATION); a port that is not
// there is ERROR_FILE_NOT_FOUND. Free when the error says nothing of the kind.
PortAccess AccessFromSystemError(const std::string& portName, std::uint32_t error);

}  // namespace platform::ports
