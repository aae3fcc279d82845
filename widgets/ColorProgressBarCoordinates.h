// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pixel coordinates of the bar gauge, shared by its painting and its text placement.

#include <algorithm>
#include <cmath>

namespace gauge {

// Far-off values (a Position far above a lowered Max, a huge LevelMargin) are held to
// this distance from the control, so that no coordinate overflows and nothing loops over
// pixels that cannot be seen.
inline constexpr long long CoordinateLimit = 1 << 20;

inline int ToCoordinate(long long v)
{
    return static_cast<int>(std::clamp(v, -CoordinateLimit, CoordinateLimit));
}

inline int ToCoordinate(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, -static_cast<double>(CoordinateLimit),
                                       static_cast<double>(CoordinateLimit)));
}

// To the nearest integer, halves to the even neighbour (the default rounding mode).
inline int Round(double v)
{
    return ToCoordinate(std::nearbyint(v));
}

inline int Trunc(double v)
{
    return ToCoordinate(std::trunc(v));
}

}  // namespace gauge
