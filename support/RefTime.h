#pragma once
// REFERENCE_TIME: signed 64-bit time in 100-nanosecond units. -1 stands for
// an absent time; a time is known when it is not negative.
#include <cstdint>

using REFERENCE_TIME = int64_t;

constexpr REFERENCE_TIME UNITS = 10'000'000;  // one second
constexpr REFERENCE_TIME MILLISECONDS = 10'000;
constexpr REFERENCE_TIME kNoTime = -1;

constexpr bool IsKnownTime(REFERENCE_TIME t) {
    return t >= 0;
}

// Milliseconds in the automation interface and the panels are 32-bit;
// the conversion divides with truncation.
constexpr int32_t RefTimeToMs(REFERENCE_TIME t) {
    return static_cast<int32_t>(t / MILLISECONDS);
}
constexpr REFERENCE_TIME MsToRefTime(int64_t ms) {
    return ms * MILLISECONDS;
}

// Frame rounding keeps positions on frame boundaries: a time t > 0 with a
// frame duration d > 0 goes to the nearest frame start; anything else is
// returned unchanged.
constexpr REFERENCE_TIME RoundToFrame(REFERENCE_TIME t, REFERENCE_TIME d) {
    if (t <= 0 || d <= 0)
        return t;
    REFERENCE_TIME half = t + d / 2;
    return half - half % d;
}

// Sums and differences of times that stop at the ends of the range instead
// of wrapping (a playlist may give absurd durations).
constexpr REFERENCE_TIME AddTimes(REFERENCE_TIME a, REFERENCE_TIME b) {
    REFERENCE_TIME sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}
constexpr REFERENCE_TIME SubtractTimes(REFERENCE_TIME a, REFERENCE_TIME b) {
    REFERENCE_TIME difference = 0;
    if (__builtin_sub_overflow(a, b, &difference))
        return b < 0 ? INT64_MAX : INT64_MIN;
    return difference;
}
