#pragma once
// The XTL reader's value parsing, open for tests: times in seconds
// ("12.5") or as clock times ("00:01:02.500", "01:02.5"), and plain
// decimal numbers, read the same under every locale.
#include <string_view>

#include "platform/des/Des.h"

namespace va::des {

// Parses a time into 100-ns units; false for anything that is not a time
// or lies beyond what the units hold. A leading '-' gives a negative time.
bool ParseXtlTime(std::string_view text, REFERENCE_TIME& out);
// Parses a non-negative decimal number ("29.97", "25"); false otherwise.
bool ParseXtlNumber(std::string_view text, double& out);

// Limits on what one timeline file may hold.
constexpr size_t kMaxXtlElements = 100000;
constexpr int kMaxXtlNesting = 32;
// Entries reported for one file before the rest are only counted.
constexpr int kMaxXtlReports = 50;

}  // namespace va::des
