// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A ZUB-3 receiver on a pseudo-terminal or an RFC 2217 network port. The tool opens the
// slave side (or connects) as it would open the receiver's serial port; this object serves
// the line on a thread of its own:
// it answers polls, ID queries and writes as the device does, with the line's echo of each
// request in front, only at its own line speed, and paced as the line would carry it.

#include "core/Protocol.h"
#include "sim/Controller.h"
#include "sim/Faults.h"
#include "sim/ReceiverLine.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace zub3::sim {

// What the receiver has heard since it started.
struct Counters {
    std::uint64_t polls = 0;       // polls addressed to it
    std::uint64_t idQueries = 0;
    std::uint64_t writes = 0;      // writes addressed to it
    std::uint64_t otherID = 0;     // polls and writes for another receiver
    std::uint64_t wrongSpeed = 0;  // reads that came at a speed other than its own
    std::uint64_t discarded = 0;   // bytes it did not understand, or of a frame left unfinished
};

class VirtualReceiver {
public:
    struct Config {
        int id = 0;            // 0..31
        int bitRate = 115200;  // 115200, 625000 or 1250000
        std::chrono::microseconds turnaround{0};  // extra wait before its own bytes
        Faults faults;
        // Where a write's new ID and line speed are kept; empty keeps them in memory only.
        std::filesystem::path stateFile;
        // Told of applied writes and of failures, on the receiver's thread. It must not call
        // Stop.
        std::function<void(const std::string&)> onNotice;
        // When set, polls are answered with the state it gives for the time since the first
        // poll heard (a recording played back), on the receiver's thread.
        std::function<ControllerState(std::chrono::nanoseconds)> playback;
        // Where to listen as a network port; none: on a pseudo-terminal.
        std::optional<ListenAddress> listen;
    };

    // Opens the line and starts serving it. Throws std::invalid_argument for a bad ID or
    // line speed and std::runtime_error when no pseudo-terminal can be had or the address
    // cannot be listened on.
    explicit VirtualReceiver(Config config);
    ~VirtualReceiver();
    VirtualReceiver(const VirtualReceiver&) = delete;
    VirtualReceiver& operator=(const VirtualReceiver&) = delete;

    // The device the tool opens: the pseudo-terminal's slave side, e.g. "/dev/pts/3", or
    // the network port's address, "rfc2217://127.0.0.1:7000".
    const std::string& SlavePath() const { return line_->Device(); }

    int ID() const;
    int BitRate() const;

    ControllerState State() const;
    void SetState(const ControllerState& state);
    void SetButtons(std::uint16_t word);
    void Press(std::uint16_t bits);
    void Release(std::uint16_t bits);
    void SetChannel(int index, Byte value);  // index 0..3 for PA1..PA4

    Faults GetFaults() const;
    void SetFaults(const Faults& faults);

    Counters GetCounters() const;

    // Ends serving, also in the middle of a reply. The line stays open until the object
    // dies. Idempotent.
    void Stop();

private:
    using Clock = std::chrono::steady_clock;

    // One reply as it goes out: lead (noise and the echo) paced from the start, own (the
    // receiver's bytes) after the turnaround.
    struct Reply {
        std::vector<Byte> lead;
        std::vector<Byte> own;
    };

    void run();
    // Takes in what the line brought and answers the frames in it; false when stopped.
    bool heard(std::span<const Byte> bytes, std::vector<Byte>& pending);
    // Answers one well-formed frame; false when serving was stopped meanwhile.
    bool answer(std::span<const Byte> frame);
    Reply buildReply(std::span<const Byte> frame, std::vector<Byte> own, const Faults& faults);
    // Sends the lead at once and its own bytes after the turnaround and `hold` more; false
    // when stopped.
    bool transmit(const Reply& reply, std::chrono::nanoseconds hold);
    // Writes bytes no faster than the line carries them from `at` on, and moves `at` to the
    // time the last one is through; false when stopped.
    bool send(std::span<const Byte> bytes, Clock::time_point& at);
    bool waitUntil(Clock::time_point deadline) const;
    void applyWrite(std::span<const Byte> frame);
    void notice(const std::string& text) const;

    const std::chrono::nanoseconds turnaround_;
    const std::filesystem::path stateFile_;
    const std::function<void(const std::string&)> onNotice_;
    const std::function<ControllerState(std::chrono::nanoseconds)> playback_;

    std::unique_ptr<ReceiverLine> line_;
    UniqueFd wake_;

    mutable std::mutex mutex_;
    int id_;
    int bitRate_;
    ControllerState state_;
    Faults faults_;

    struct AtomicCounters {
        std::atomic<std::uint64_t> polls{0}, idQueries{0}, writes{0}, otherID{0},
            wrongSpeed{0}, discarded{0};
    } counters_;

    std::minstd_rand noise_;      // receiver thread only
    Clock::time_point lastByte_;  // receiver thread only
    std::optional<Clock::time_point> firstPoll_;  // receiver thread only

    std::thread thread_;
};

}  // namespace zub3::sim
