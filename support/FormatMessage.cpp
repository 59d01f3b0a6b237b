#include "support/FormatMessage.h"

#include <cstdio>

namespace va {

namespace {
std::optional<std::string> FormatNumber(int64_t value, std::string_view conversion) {
    // conversion is a printf conversion without '%': flags, width, precision, an
    // optional 'l'/'h' length and one of u d i x X o c.
    std::string conv;
    for (char c : conversion) {
        if (c == 'l' || c == 'h' || c == 'I')
            continue;
        conv += c;
    }
    if (conv.empty())
        return std::nullopt;
    char type = conv.back();
    for (char c : conv.substr(0, conv.size() - 1))
        if (!(c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '.' ||
              (c >= '1' && c <= '9')))
            return std::nullopt;
    char buf[128];
    std::string fmt = "%" + conv.substr(0, conv.size() - 1);
    int n;
    switch (type) {
        case 'u':
            n = std::snprintf(buf, sizeof buf, (fmt + "u").c_str(), static_cast<unsigned>(value));
            break;
        case 'd':
        case 'i':
            n = std::snprintf(buf, sizeof buf, (fmt + "lld").c_str(),
                              static_cast<long long>(value));
            break;
        case 'x':
            n = std::snprintf(buf, sizeof buf, (fmt + "x").c_str(), static_cast<unsigned>(value));
            break;
        case 'X':
            n = std::snprintf(buf, sizeof buf, (fmt + "X").c_str(), static_cast<unsigned>(value));
            break;
        case 'o':
            n = std::snprintf(buf, sizeof buf, (fmt + "o").c_str(), static_cast<unsigned>(value));
            break;
        case 'c':
            n = std::snprintf(buf, sizeof buf, (fmt + "c").c_str(), static_cast<int>(value));
            break;
        default:
            return std::nullopt;
    }
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf)
        return std::nullopt;
    return std::string(buf, static_cast<size_t>(n));
}

std::string ToText(const FormatArg& arg) {
    if (const auto* s = std::get_if<std::string>(&arg))
        return *s;
    return std::to_string(std::get<int64_t>(arg));
}
}  // namespace

std::optional<std::string> FormatMessageString(std::string_view format,
                                               const std::vector<FormatArg>& args) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 >= format.size())
            return out;  // a lone '%' at the end is dropped
        char d = format[++i];
        if (d == '0')
            return out;
        if (d == 'n') {
            out += "\r\n";
            continue;
        }
        if (d < '1' || d > '9') {
            out += d;  // %% %! %. and any other character stand for themselves
            continue;
        }
        size_t index = static_cast<size_t>(d - '0');
        if (i + 1 < format.size() && format[i + 1] >= '0' && format[i + 1] <= '9') {
            index = index * 10 + static_cast<size_t>(format[++i] - '0');
        }
        if (index > args.size())
            return std::nullopt;
        const FormatArg& arg = args[index - 1];
        if (i + 1 < format.size() && format[i + 1] == '!') {
            size_t close = format.find('!', i + 2);
            if (close == std::string_view::npos)
                return std::nullopt;
            std::string_view conversion = format.substr(i + 2, close - i - 2);
            i = close;
            if (conversion == "s") {
                out += ToText(arg);
                continue;
            }
            const auto* number = std::get_if<int64_t>(&arg);
            if (!number)
                return std::nullopt;
            auto text = FormatNumber(*number, conversion);
            if (!text)
                return std::nullopt;
            out += *text;
        } else {
            out += ToText(arg);
        }
    }
    return out;
}

}  // namespace va
