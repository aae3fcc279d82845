// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Changes.h"

namespace zub3::cli {

bool ChangeFilter::Pass(const Record& r, bool forced)
{
    if (!forced && heartbeatMs_ && last_ && *last_ == r.data && r.tMs - lastMs_ < *heartbeatMs_)
        return false;
    last_ = r.data;
    lastMs_ = r.tMs;
    return true;
}

}  // namespace zub3::cli
