// Floating to int conversion for values that come from outside (settings file, client requests).
#pragma once

#include <cmath>
#include <limits>

// Truncates toward zero like a cast, but a value beyond the int range saturates and a NaN gives
// the lowest int, so that out-of-range input cannot cause undefined behaviour and still fails
// every range check downstream.
inline int TruncateToInt(double value) {
    if (std::isnan(value) || value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(value);
}
