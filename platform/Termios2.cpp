// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstddef>
#include <cstring>

namespace platform {

static_assert(sizeof(Termios2) == sizeof(struct termios2));
static_assert(offsetof(Termios2, c_cc) == offsetof(struct termios2, c_cc));
static_assert(offsetof(Termios2, c_ispeed) == offsetof(struct termios2, c_ispeed));

bool GetTermios2(int fd, Termios2& t)
{
    struct termios2 k {};
    if (::ioctl(fd, TCGETS2, &k) != 0)
        return false;
    std::memcpy(static_cast<void*>(&t), &k, sizeof k);
    return true;
}

bool SetTermios2(int fd, const Termios2& t)
{
    struct termios2 k {};
    std::memcpy(&k, &t, sizeof k);
    return ::ioctl(fd, TCSETS2, &k) == 0;
}

void SetTermios2Rate(Termios2& t, std::uint32_t bitRate)
{
    t.c_cflag = (t.c_cflag & ~static_cast<std::uint32_t>(CBAUD | (CBAUD << IBSHIFT))) | BOTHER |
                (BOTHER << IBSHIFT);
    t.c_ispeed = bitRate;
    t.c_ospeed = bitRate;
}

}  // namespace platform
