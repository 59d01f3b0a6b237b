#pragma once
// The arithmetic of the panels: slider set-up and conversions between
// slider positions and times, the shuttle's step plan, and rate captions.
#include <cstdint>
#include <string>

#include "support/RefTime.h"

namespace panel {

// a × b / c rounded to the nearest integer (halves away from zero); -1
// when c is 0, as the platform's MulDiv answers.
constexpr int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0)
        return -1;
    int64_t p = int64_t(a) * b;
    bool negative = (p < 0) != (c < 0);
    int64_t n = p < 0 ? -p : p;
    int64_t d = c < 0 ? -int64_t(c) : c;
    int64_t q = (n + d / 2) / d;
    return int32_t(negative ? -q : q);
}

// The slider of a clip: the range in ms (start of the last frame), the
// number of positions and the sizes derived from them.
struct CSliderSetup {
    int32_t rangeMs = 0;  // 0 or less: no usable range
    int32_t frameMs = 1;
    int32_t positions = 0;
    int32_t pageSize = 0;
    int32_t ticFrequency = 0;
};

// duration and frame duration d in 100 ns; the last frame starts one frame
// before the end.
constexpr CSliderSetup ComputeSliderSetup(REFERENCE_TIME duration, REFERENCE_TIME d) {
    CSliderSetup s;
    s.rangeMs = int32_t((duration - (d > 0 ? d : 0)) / MILLISECONDS);
    if (s.rangeMs <= 0)
        return s;
    s.frameMs = int32_t(d / MILLISECONDS);
    if (s.frameMs <= 0)
        s.frameMs = 1;
    s.positions = s.rangeMs / s.frameMs;
    s.pageSize = 1000 / s.frameMs;
    s.ticFrequency = (s.positions + 9) / 10;
    return s;
}

// Slider position to time (100 ns, frame-rounded); -1 without a range.
constexpr REFERENCE_TIME SliderToTime(int32_t pos, int32_t rangeMs, int32_t sliderMax,
                                      REFERENCE_TIME d) {
    if (rangeMs <= 0 || sliderMax <= 0)
        return -1;
    return RoundToFrame(MsToRefTime(MulDiv(pos, rangeMs, sliderMax)), d);
}

// Time in ms to a slider position, clamped to 0..sliderMax.
constexpr int32_t TimeToSlider(int32_t ms, int32_t rangeMs, int32_t sliderMax) {
    if (rangeMs <= 0)
        return 0;
    int32_t pos = MulDiv(ms, sliderMax, rangeMs);
    return pos < 0 ? 0 : pos > sliderMax ? sliderMax : pos;
}

// One step of the shuttle: seek by stepMs, the next step intervalMs later.
struct CShuttleStep {
    int32_t stepMs = 0;
    int32_t intervalMs = 0;
};

// speed in signed percent (not 0); frameMs the frame duration in ms (40
// when unknown). Below 100 % one frame at longer intervals, above it longer
// steps every frame; intervals under 100 ms are stretched to 100 ms with
// the step scaled to match.
constexpr CShuttleStep ComputeShuttleStep(int32_t speed, int32_t frameMs) {
    CShuttleStep s;
    int32_t f = frameMs > 0 ? frameMs : 40;
    int32_t magnitude = speed < 0 ? -speed : speed;
    if (magnitude < 100) {
        s.intervalMs = MulDiv(f, 100, magnitude);
        s.stepMs = speed < 0 ? -f : f;
    } else {
        s.intervalMs = f;
        s.stepMs = MulDiv(f, speed, 100);
    }
    if (s.intervalMs > 0 && s.intervalMs < 100) {
        s.stepMs = MulDiv(s.stepMs, 100, s.intervalMs);
        s.intervalMs = 100;
    }
    return s;
}

// The rate button's caption: empty at 1.0, else the whole percent ("90%").
std::string RateCaption(double rate);

}  // namespace panel
