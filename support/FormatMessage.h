#pragma once
// Message formatting with numbered inserts, as FormatMessage does it for a
// format string: %1 … %99 take the arguments, "%n!conv!" formats a number
// with a printf conversion (u, d, i, x, X, with flags and width), %% is a
// per cent sign, %n a line break, %0 ends the message, and "%!" and "%." are
// the literal characters.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace va {

using FormatArg = std::variant<std::string, int64_t>;

// The formatted text, or nullopt when the format names an argument that is
// missing or has a malformed insert.
std::optional<std::string> FormatMessageString(std::string_view format,
                                               const std::vector<FormatArg>& args);

}  // namespace va
