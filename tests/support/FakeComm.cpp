// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeComm.h"

#include "platform/CommDevice.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

namespace platform::win {

namespace detail {

// The far side of a fake port. The port reads from one end of a socket pair; the test's
// bytes go in at the other end, and closing that end is a hang-up.
struct FakeLine {
    mutable std::mutex mutex;
    std::condition_variable sent;                 // the output went out or was discarded
    std::chrono::steady_clock::time_point lineIdle;  // when the last byte written has left
    bool open = false;
    int farFd = -1;
    LineCounters counters;
    std::function<bool(const DCB&)> refusesState;
    bool refusesQueues = false;
    bool refusesTimeouts = false;
    bool holdsWrites = false;
    int writesHeld = 0;
    std::vector<FakeComm::LineEvent> events;
    std::vector<std::uint8_t> written;
    std::vector<DCB> statesGiven;
    DCB state;
    bool rts = false;
    bool dtr = false;
    DWORD inQueue = 0;
    DWORD outQueue = 0;
    COMMTIMEOUTS timeouts;

    FakeLine()
    {
        state.DCBlength = sizeof(DCB);
        state.BaudRate = 9600;
        state.ByteSize = 8;
        state.Flags = fBinary | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE;
        state.XonChar = 17;
        state.XoffChar = 19;
    }

    void setLine(FakeComm::LineEvent::Kind kind, bool on)
    {
        (kind == FakeComm::LineEvent::Rts ? rts : dtr) = on;
        events.push_back({kind, on ? 1u : 0u, std::chrono::steady_clock::now()});
    }

    void closeFar()
    {
        if (farFd >= 0)
            ::close(farFd);
        farFd = -1;
    }
};

namespace {

struct FakeTable {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<FakeLine>> lines;
};

FakeTable& fakeTable()
{
    static FakeTable& t = *new FakeTable;
    return t;
}

class FakeDevice final : public CommDevice {
public:
    FakeDevice(std::shared_ptr<FakeLine> line, int fd) : line_(std::move(line)), fd_(fd) {}

    ~FakeDevice() override
    {
        std::lock_guard lock(line_->mutex);
        line_->open = false;
        line_->closeFar();
        ::close(fd_);
    }

    int Fd() const override { return fd_; }

    ssize_t WriteSome(const void* buffer, std::size_t count) override
    {
        // The line takes every write whole, at once, unless it is held.
        std::lock_guard lock(line_->mutex);
        if (line_->holdsWrites) {
            ++line_->writesHeld;
            errno = EAGAIN;
            return -1;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        line_->written.insert(line_->written.end(), bytes, bytes + count);
        const auto now = std::chrono::steady_clock::now();
        line_->events.push_back({FakeComm::LineEvent::Write, static_cast<unsigned>(count), now});
        // Taken into the buffer at once, the bytes leave at ten bits each.
        const auto lineTime = std::chrono::microseconds(
            count * 10'000'000ULL / std::max<DWORD>(line_->state.BaudRate, 1));
        line_->lineIdle = std::max(line_->lineIdle, now) + lineTime;
        return static_cast<ssize_t>(count);
    }

    bool SetQueues(DWORD inQueue, DWORD outQueue) override
    {
        std::lock_guard lock(line_->mutex);
        if (line_->refusesQueues)
            return false;
        line_->inQueue = inQueue;
        line_->outQueue = outQueue;
        return true;
    }

    DCB State() const override
    {
        std::lock_guard lock(line_->mutex);
        return line_->state;
    }

    bool SetState(const DCB& dcb) override
    {
        std::lock_guard lock(line_->mutex);
        line_->statesGiven.push_back(dcb);
        if (line_->refusesState && line_->refusesState(dcb))
            return false;
        line_->state = dcb;
        const DWORD dtr = dcb.Flags & fDtrControlMask;
        const DWORD rts = dcb.Flags & fRtsControlMask;
        line_->setLine(FakeComm::LineEvent::Dtr, dtr != DTR_CONTROL_DISABLE);
        line_->setLine(FakeComm::LineEvent::Rts, rts != RTS_CONTROL_DISABLE && rts != RTS_CONTROL_TOGGLE);
        return true;
    }

    bool AcceptTimeouts(const COMMTIMEOUTS& timeouts) override
    {
        std::lock_guard lock(line_->mutex);
        if (line_->refusesTimeouts)
            return false;
        line_->timeouts = timeouts;
        return true;
    }

    bool SetModemLine(DWORD escapeFunction) override
    {
        std::lock_guard lock(line_->mutex);
        const bool rts = escapeFunction == SETRTS || escapeFunction == CLRRTS;
        line_->setLine(rts ? FakeComm::LineEvent::Rts : FakeComm::LineEvent::Dtr,
                       escapeFunction == SETRTS || escapeFunction == SETDTR);
        return true;
    }

    std::optional<LineCounters> Counters() override
    {
        std::lock_guard lock(line_->mutex);
        return line_->counters;
    }

    void FlushInput() override
    {
        std::uint8_t discard[256];
        while (::read(fd_, discard, sizeof discard) > 0) {
        }
    }

    void FlushOutput() override
    {
        std::lock_guard lock(line_->mutex);
        line_->lineIdle = std::chrono::steady_clock::now();
        line_->sent.notify_all();
    }

    void Drain() override
    {
        std::unique_lock lock(line_->mutex);
        while (std::chrono::steady_clock::now() < line_->lineIdle)
            line_->sent.wait_until(lock, line_->lineIdle);
    }

private:
    const std::shared_ptr<FakeLine> line_;
    const int fd_;
};

}  // namespace

std::unique_ptr<CommDevice> OpenFakeDevice(const std::string& portName, DWORD& error)
{
    FakeTable& t = fakeTable();
    std::lock_guard tableLock(t.mutex);
    const auto it = t.lines.find(portName);
    const std::shared_ptr<FakeLine> line = it == t.lines.end() ? nullptr : it->second.lock();
    if (!line)
        return nullptr;
    std::lock_guard lock(line->mutex);
    int ends[2];
    if (line->open) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        error = ERROR_GEN_FAILURE;
        return nullptr;
    }
    line->open = true;
    line->farFd = ends[1];
    return std::make_unique<FakeDevice>(line, ends[0]);
}

}  // namespace detail

namespace {

std::string portName(int portNumber)
{
    return "COM" + std::to_string(portNumber);
}

}  // namespace

FakeComm::FakeComm(int portNumber) : line_(std::make_shared<detail::FakeLine>())
{
    detail::RegisterTestDeviceOpener(&detail::OpenFakeDevice);
    detail::FakeTable& t = detail::fakeTable();
    std::lock_guard lock(t.mutex);
    auto& slot = t.lines[portName(portNumber)];
    if (!slot.expired())
        throw std::invalid_argument("a fake device is already at " + portName(portNumber));
    slot = line_;
}

FakeComm::~FakeComm()
{
    detail::FakeTable& t = detail::fakeTable();
    std::lock_guard lock(t.mutex);
    for (auto it = t.lines.begin(); it != t.lines.end(); ++it)
        if (it->second.lock() == line_) {
            t.lines.erase(it);
            break;
        }
}

bool FakeComm::IsOpen() const
{
    std::lock_guard lock(line_->mutex);
    return line_->open;
}

void FakeComm::Arrive(const std::vector<std::uint8_t>& bytes, DWORD lineErrors, int breaks)
{
    std::lock_guard lock(line_->mutex);
    if (line_->farFd < 0)
        return;
    detail::LineCounters& c = line_->counters;
    c.frame += (lineErrors & CE_FRAME) ? 1 : 0;
    c.parity += (lineErrors & CE_RXPARITY) ? 1 : 0;
    c.overrun += (lineErrors & CE_OVERRUN) ? 1 : 0;
    c.brk += static_cast<std::uint32_t>(breaks);
    if (!bytes.empty())
        ::send(line_->farFd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void FakeComm::HangUp()
{
    std::lock_guard lock(line_->mutex);
    line_->closeFar();
}

void FakeComm::RefuseState(std::function<bool(const DCB&)> refuses)
{
    std::lock_guard lock(line_->mutex);
    line_->refusesState = std::move(refuses);
}

void FakeComm::RefuseQueues(bool refuse)
{
    std::lock_guard lock(line_->mutex);
    line_->refusesQueues = refuse;
}

void FakeComm::RefuseTimeouts(bool refuse)
{
    std::lock_guard lock(line_->mutex);
    line_->refusesTimeouts = refuse;
}

void FakeComm::HoldWrites(bool hold)
{
    std::lock_guard lock(line_->mutex);
    line_->holdsWrites = hold;
}

int FakeComm::WritesHeld() const
{
    std::lock_guard lock(line_->mutex);
    return line_->writesHeld;
}

std::vector<FakeComm::LineEvent> FakeComm::Events() const
{
    std::lock_guard lock(line_->mutex);
    return line_->events;
}

std::vector<std::uint8_t> FakeComm::Written() const
{
    std::lock_guard lock(line_->mutex);
    return line_->written;
}

std::vector<DCB> FakeComm::StatesGiven() const
{
    std::lock_guard lock(line_->mutex);
    return line_->statesGiven;
}

DCB FakeComm::State() const
{
    std::lock_guard lock(line_->mutex);
    return line_->state;
}

bool FakeComm::Rts() const
{
    std::lock_guard lock(line_->mutex);
    return line_->rts;
}

bool FakeComm::Dtr() const
{
    std::lock_guard lock(line_->mutex);
    return line_->dtr;
}

DWORD FakeComm::InQueue() const
{
    std::lock_guard lock(line_->mutex);
    return line_->inQueue;
}

DWORD FakeComm::OutQueue() const
{
    std::lock_guard lock(line_->mutex);
    return line_->outQueue;
}

COMMTIMEOUTS FakeComm::Timeouts() const
{
    std::lock_guard lock(line_->mutex);
    return line_->timeouts;
}

}  // namespace platform::win
