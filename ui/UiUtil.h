#pragma once
// Small arithmetic shared by the controls.
#include <cstdint>
#include <cstdlib>

namespace ui {

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
inline int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    int64_t product = static_cast<int64_t>(a) * b;
    int64_t divisor = std::llabs(static_cast<int64_t>(c));
    int64_t q = (std::llabs(product) + divisor / 2) / divisor;
    return static_cast<int>(((product < 0) != (c < 0)) ? -q : q);
}

}  // namespace ui
