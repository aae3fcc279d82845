// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SIGTERM (a logout, kill), SIGINT (Ctrl+C) and SIGHUP (the terminal or SSH session gone)
// as a descriptor that becomes readable, so that a program ends through its own loop and
// gives back what it holds (a serial port and its lock, a registered virtual port). A signal
// ignored when this is set up (nohup, a background job of a script) stays ignored.

namespace platform {

class TerminationSignals {
public:
    // Throws std::system_error when there is no pipe to watch.
    TerminationSignals();
    // The handlers from before come back.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Readable once a signal has come; Clear() empties it again.
    int Fd() const;
    void Clear();
    // Whether a signal has come since the set-up; for loops that do not watch Fd().
    static bool Caught();
};

}  // namespace platform
