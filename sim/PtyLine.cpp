// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/ReceiverLine.h"

#include "platform/Termios2.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zub3::sim {

std::runtime_error SystemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

namespace {

class PtyLine final : public ReceiverLine {
public:
    PtyLine();
    const std::string& Device() const override { return slavePath_; }
    int Fd() const override { return master_.get(); }
    std::size_t Read(std::span<Byte> buf) override;
    void Write(std::span<const Byte> bytes) override;
    bool AtSpeed(int bitRate) const override;

private:
    UniqueFd master_;
    UniqueFd slave_;  // held open so the tool's close and re-open never hang up the master
    std::string slavePath_;
};

PtyLine::PtyLine() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
{
    if (master_.get() < 0)
        throw SystemError("cannot open a pseudo-terminal");
    char name[128];
    if (::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0 ||
        ::ptsname_r(master_.get(), name, sizeof name) != 0)
        throw SystemError("cannot set up the pseudo-terminal");
    slavePath_ = name;

    slave_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (slave_.get() < 0)
        throw SystemError("cannot open " + slavePath_);
    // Raw from the start, so that nothing between the tool and us rewrites bytes.
    termios t{};
    if (::tcgetattr(slave_.get(), &t) != 0)
        throw SystemError("cannot read the settings of " + slavePath_);
    ::cfmakeraw(&t);
    if (::tcsetattr(slave_.get(), TCSANOW, &t) != 0)
        throw SystemError("cannot set " + slavePath_ + " to raw mode");

    const int flags = ::fcntl(master_.get(), F_GETFL);
    if (flags < 0 || ::fcntl(master_.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        throw SystemError("cannot make the pseudo-terminal non-blocking");
}

std::size_t PtyLine::Read(std::span<Byte> buf)
{
    const ssize_t n = ::read(master_.get(), buf.data(), buf.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    // Cannot happen while the slave is held open; stop rather than spin on it.
    if (n == 0)
        throw std::runtime_error("the pseudo-terminal failed: end of file");
    if (n < 0)
        throw SystemError("the pseudo-terminal failed");
    return static_cast<std::size_t>(n);
}

void PtyLine::Write(std::span<const Byte> bytes)
{
    [[maybe_unused]] const auto n = ::write(master_.get(), bytes.data(), bytes.size());
}

bool PtyLine::AtSpeed(int bitRate) const
{
    // The master reports the settings the tool made on the slave side.
    platform::Termios2 t;
    return platform::GetTermios2(master_.get(), t) && static_cast<int>(t.c_ospeed) == bitRate;
}

}  // namespace

std::unique_ptr<ReceiverLine> OpenPtyLine()
{
    return std::make_unique<PtyLine>();
}

}  // namespace zub3::sim
