// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Changes plus a heartbeat": a still controller says nothing new, so a reader that asked
// for changes is passed a record only when the buttons or channels differ from the one it
// was passed before, and one at least every heartbeat to tell a still controller from a
// dead link. monitor --changes, WebSocket clients with ?changes=1 and the broker under
// --changes all decide it here.

#include "core/Records.h"

#include <optional>

namespace zub3::cli {

inline constexpr double kDefaultHeartbeatMs = 1000;

class ChangeFilter {
public:
    // No heartbeat: every record passes.
    explicit ChangeFilter(std::optional<double> heartbeatMs = std::nullopt)
        : heartbeatMs_(heartbeatMs)
    {
    }

    // Whether this record goes to the reader; one that goes is remembered as the last.
    // forced: it goes whatever it holds (a change of the link, say).
    bool Pass(const Record& record, bool forced = false);

private:
    std::optional<double> heartbeatMs_;
    std::optional<PollData> last_;
    double lastMs_ = 0;
};

}  // namespace zub3::cli
