#pragma once

#include <cmath>

namespace kestrove {

// Nearest integer, ties to the even one, whatever the floating-point rounding mode is.
[[nodiscard]] inline double RoundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)) {
        return below + 1.0;
    }
    return below;
}

}  // namespace kestrove
