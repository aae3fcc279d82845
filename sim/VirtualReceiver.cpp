// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/VirtualReceiver.h"

#include "sim/StateFile.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zub3::sim {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal carries no timing of its own and the thread may wake late, so a frame
// counts as abandoned only after a silence well beyond a few byte times.
constexpr auto kFrameGapFloor = 5ms;
constexpr long long kBitsPerByte = 11;  // start, 8 data, even parity, stop

std::chrono::nanoseconds byteTime(int bitRate)
{
    return std::chrono::nanoseconds((kBitsPerByte * 1'000'000'000LL + bitRate - 1) / bitRate);
}

bool isQuery(Byte first) { return first == 0xFF; }
bool isPoll(Byte first) { return (first & 0xE0) == 0xA0; }
bool isWrite(Byte first) { return (first & 0xE0) == 0xC0; }

// The length of the frame a byte starts, or 0 when no frame starts with it.
std::size_t frameLength(Byte first)
{
    if (isQuery(first) || isPoll(first))
        return kPollFrameSize;
    if (isWrite(first))
        return kWriteFrameSize;
    return 0;
}

Byte joinNibbles(Byte high, Byte low) { return static_cast<Byte>(high << 4 | low); }

// A frame is understood only with its fixed bytes in place and, for a write, a known line
// speed and an ID the device can take; anything else is noise to it.
bool wellFormed(std::span<const Byte> f)
{
    if (isQuery(f[0]))
        return f[1] == 0x00 && f[2] == 0x00 && f[3] == 0x00;
    if (isPoll(f[0]))
        return f[1] == 0x7F && f[2] == 0x00 && f[3] == 0x07;
    if (f[1] != 0x00 || std::any_of(f.begin() + 2, f.end(), [](Byte b) { return b > 0x0F; }))
        return false;
    return LineSpeedByCode(joinNibbles(f[2], f[3])) && joinNibbles(f[4], f[5]) <= kMaxID;
}

std::vector<Byte> pollData(Byte command, const ControllerState& s, bool badChecksum)
{
    const std::array<Byte, 6> d{static_cast<Byte>(s.buttons >> 8),
                                static_cast<Byte>(s.buttons & 0xFF), s.channels[0],
                                s.channels[1], s.channels[2], s.channels[3]};
    int sum = 0;
    for (Byte b : d)
        sum += b;
    Byte checksum = static_cast<Byte>(sum & 0x7F);
    if (badChecksum)
        checksum = static_cast<Byte>((checksum + 1) & 0x7F);

    std::vector<Byte> out{static_cast<Byte>(command & 0x7F), 0x7F, 0x00, 0x07};
    for (Byte b : d) {
        out.push_back(static_cast<Byte>(b >> 4));
        out.push_back(static_cast<Byte>(b & 0x0F));
    }
    out.push_back(static_cast<Byte>(checksum >> 4));
    out.push_back(static_cast<Byte>(checksum & 0x0F));
    return out;
}

}  // namespace

VirtualReceiver::VirtualReceiver(Config config)
    : turnaround_(config.turnaround),
      stateFile_(std::move(config.stateFile)),
      onNotice_(std::move(config.onNotice)),
      playback_(std::move(config.playback)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      id_(config.id),
      bitRate_(config.bitRate),
      faults_(config.faults)
{
    if (id_ < 0 || id_ > kMaxID)
        throw std::invalid_argument("the receiver ID must be 0 to 31");
    if (!LineSpeedByBitRate(bitRate_))
        throw std::invalid_argument("the line speed must be 115200, 625000 or 1250000");
    if (wake_.get() < 0)
        throw SystemError("cannot create an event");
    line_ = config.listen ? ListenNetworkLine(*config.listen) : OpenPtyLine();
    thread_ = std::thread(&VirtualReceiver::run, this);
}

VirtualReceiver::~VirtualReceiver()
{
    Stop();
}

void VirtualReceiver::Stop()
{
    if (!thread_.joinable())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_.get(), &one, sizeof one);
    thread_.join();
}

int VirtualReceiver::ID() const
{
    std::lock_guard lock(mutex_);
    return id_;
}

int VirtualReceiver::BitRate() const
{
    std::lock_guard lock(mutex_);
    return bitRate_;
}

ControllerState VirtualReceiver::State() const
{
    std::lock_guard lock(mutex_);
    return state_;
}

void VirtualReceiver::SetState(const ControllerState& state)
{
    std::lock_guard lock(mutex_);
    state_ = state;
}

void VirtualReceiver::SetButtons(std::uint16_t word)
{
    std::lock_guard lock(mutex_);
    state_.buttons = word;
}

void VirtualReceiver::Press(std::uint16_t bits)
{
    std::lock_guard lock(mutex_);
    state_.buttons |= bits;
}

void VirtualReceiver::Release(std::uint16_t bits)
{
    std::lock_guard lock(mutex_);
    state_.buttons &= static_cast<std::uint16_t>(~bits);
}

void VirtualReceiver::SetChannel(int index, Byte value)
{
    if (index < 0 || index >= kChannelCount)
        throw std::out_of_range("channel index must be 0 to 3");
    std::lock_guard lock(mutex_);
    state_.channels[static_cast<std::size_t>(index)] = value;
}

Faults VirtualReceiver::GetFaults() const
{
    std::lock_guard lock(mutex_);
    return faults_;
}

void VirtualReceiver::SetFaults(const Faults& faults)
{
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

Counters VirtualReceiver::GetCounters() const
{
    return Counters{counters_.polls.load(),      counters_.idQueries.load(),
                    counters_.writes.load(),     counters_.otherID.load(),
                    counters_.wrongSpeed.load(), counters_.discarded.load()};
}

void VirtualReceiver::notice(const std::string& text) const
{
    if (onNotice_)
        onNotice_(text);
}

void VirtualReceiver::run()
{
    std::vector<Byte> pending;
    for (;;) {
        pollfd fds[2] = {{line_->Fd(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            notice(std::string("waiting on the line failed: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0)
            return;
        Byte buf[256];
        std::size_t n = 0;
        try {
            n = line_->Read(buf);
        } catch (const std::runtime_error& e) {
            notice(e.what());
            return;
        }
        if (n > 0 && !heard(std::span<const Byte>(buf, n), pending))
            return;
    }
}

bool VirtualReceiver::heard(std::span<const Byte> bytes, std::vector<Byte>& pending)
{
    const auto now = Clock::now();
    const int bitRate = BitRate();
    const auto gap = std::max<std::chrono::nanoseconds>(4 * byteTime(bitRate), kFrameGapFloor);
    if (!pending.empty() && now - lastByte_ > gap) {
        counters_.discarded += pending.size();
        pending.clear();
    }
    lastByte_ = now;

    // At a foreign speed the device would see only garbled characters.
    if (!line_->AtSpeed(bitRate) && !GetFaults().anySpeed) {
        ++counters_.wrongSpeed;
        counters_.discarded += pending.size() + bytes.size();
        pending.clear();
        return true;
    }

    pending.insert(pending.end(), bytes.begin(), bytes.end());
    std::size_t pos = 0;
    while (pos < pending.size()) {
        const std::size_t length = frameLength(pending[pos]);
        if (length == 0 ||
            (pending.size() - pos >= length && !wellFormed({pending.data() + pos, length}))) {
            // Not the start of a frame: look for one from the next byte on.
            ++counters_.discarded;
            ++pos;
            continue;
        }
        if (pending.size() - pos < length)
            break;
        if (!answer({pending.data() + pos, length}))
            return false;
        pos += length;
        if (BitRate() != bitRate) {
            // A write switched the speed: what follows came at the old one.
            counters_.discarded += pending.size() - pos;
            pos = pending.size();
        }
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pos));
    return true;
}

bool VirtualReceiver::answer(std::span<const Byte> frame)
{
    ControllerState state;
    Faults faults;
    int id;
    {
        std::lock_guard lock(mutex_);
        state = state_;
        faults = faults_;
        id = id_;
    }

    const Byte command = frame[0];
    if (isQuery(command)) {
        ++counters_.idQueries;
        return transmit(buildReply(frame, {static_cast<Byte>(0x60 | id)}, faults),
                        faults.delay);
    }
    if ((command & 0x1F) != id) {
        ++counters_.otherID;
        return true;
    }
    if (isPoll(command)) {
        ++counters_.polls;
        if (playback_) {
            const auto now = Clock::now();
            if (!firstPoll_)
                firstPoll_ = now;
            state = playback_(now - *firstPoll_);
            // Shown by the console's status like a state set by hand.
            SetState(state);
        }
        return transmit(buildReply(frame, pollData(command, state, faults.badChecksum), faults),
                        faults.delay);
    }
    ++counters_.writes;
    const bool served =
        transmit(buildReply(frame, {static_cast<Byte>(command & 0x7F), 0x00}, faults),
                 faults.delay);
    // The device takes its new settings once it has answered; a stop meanwhile is a power
    // cut before that point.
    if (served)
        applyWrite(frame);
    return served;
}

VirtualReceiver::Reply VirtualReceiver::buildReply(std::span<const Byte> frame,
                                                   std::vector<Byte> own, const Faults& faults)
{
    Reply r;
    if (faults.noReply)
        return r;
    if (faults.badHeader && !isQuery(frame[0]))
        own[0] ^= 0x20;

    std::vector<Byte> echo(frame.begin(), frame.end());
    if (faults.shortReply) {
        const auto keep = static_cast<std::size_t>(*faults.shortReply);
        echo.resize(std::min(echo.size(), keep));
        own.resize(std::min(own.size(), keep - echo.size()));
    }
    for (int i = 0; i < faults.noise; ++i)
        r.lead.push_back(static_cast<Byte>(noise_() & 0xFF));
    r.lead.insert(r.lead.end(), echo.begin(), echo.end());
    r.own = std::move(own);
    return r;
}

bool VirtualReceiver::transmit(const Reply& reply, std::chrono::nanoseconds hold)
{
    auto at = Clock::now();
    if (!send(reply.lead, at))
        return false;
    if (reply.own.empty())
        return true;
    at += turnaround_ + hold;
    return send(reply.own, at);
}

bool VirtualReceiver::send(std::span<const Byte> bytes, Clock::time_point& at)
{
    const auto perByte = byteTime(BitRate());
    std::size_t next = 0;
    while (next < bytes.size()) {
        if (!waitUntil(at + perByte * static_cast<long>(next + 1)))
            return false;
        // Whatever is due by now goes out together, so a late wake-up never slows the line.
        const auto now = Clock::now();
        std::size_t end = next + 1;
        while (end < bytes.size() && at + perByte * static_cast<long>(end + 1) <= now)
            ++end;
        // A line never holds the sender up: bytes the other side does not take are lost.
        line_->Write(bytes.subspan(next, end - next));
        next = end;
    }
    at += perByte * static_cast<long>(bytes.size());
    return true;
}

bool VirtualReceiver::waitUntil(Clock::time_point deadline) const
{
    // Absolute deadlines keep the pace from drifting; waiting on the wake event lets Stop
    // end even a long turnaround at once.
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left <= std::chrono::nanoseconds::zero())
            return true;
        const auto s = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec ts{static_cast<time_t>(s.count()), static_cast<long>((left - s).count())};
        pollfd p{wake_.get(), POLLIN, 0};
        if (::ppoll(&p, 1, &ts, nullptr) > 0)
            return false;
    }
}

void VirtualReceiver::applyWrite(std::span<const Byte> frame)
{
    const int newID = joinNibbles(frame[4], frame[5]);
    const int newRate = LineSpeedByCode(joinNibbles(frame[2], frame[3]))->bitRate;
    // Stored first, as the device writes its memory before it switches over.
    if (!stateFile_.empty()) {
        try {
            SaveSettings(stateFile_, {newID, newRate});
        } catch (const std::exception& e) {
            notice(e.what());
        }
    }
    {
        std::lock_guard lock(mutex_);
        id_ = newID;
        bitRate_ = newRate;
    }
    notice("written: ID " + std::to_string(newID) + ", " + std::to_string(newRate) + " bit/s");
}

}  // namespace zub3::sim
