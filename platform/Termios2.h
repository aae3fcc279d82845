// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Line settings through the kernel's termios2 interface, which takes any bit rate
// (625000 and 1250000 are no standard rates). Kept apart because <termios.h> and
// <asm/termbits.h> cannot be included together; this header includes neither.

#include <cstdint>

namespace platform {

// Same layout as the kernel's struct termios2; the flag bits are the usual termios ones.
struct Termios2 {
    std::uint32_t c_iflag = 0;
    std::uint32_t c_oflag = 0;
    std::uint32_t c_cflag = 0;
    std::uint32_t c_lflag = 0;
    std::uint8_t c_line = 0;
    std::uint8_t c_cc[19] = {};
    std::uint32_t c_ispeed = 0;
    std::uint32_t c_ospeed = 0;
};

// Both return false and leave errno set when the kernel refuses.
bool GetTermios2(int fd, Termios2& t);
bool SetTermios2(int fd, const Termios2& t);

// Asks for an arbitrary rate in both directions (BOTHER).
void SetTermios2Rate(Termios2& t, std::uint32_t bitRate);

}  // namespace platform
