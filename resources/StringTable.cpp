#include "resources/StringTable.h"

#include <clocale>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/com/Language.h"
#include "resources/EmbeddedStrings.h"

namespace {

using Table = std::map<unsigned, std::string>;

std::string Unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

void ParseInto(std::string_view text, Table& table) {
    while (!text.empty()) {
        size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line[start] == '#')
            continue;
        line = line.substr(start);
        size_t idEnd = line.find_first_of(" \t");
        std::string id(line.substr(0, idEnd));
        std::string_view rest;
        if (idEnd != std::string_view::npos) {
            rest = line.substr(idEnd);
            size_t textStart = rest.find_first_not_of(" \t");
            rest =
                textStart == std::string_view::npos ? std::string_view() : rest.substr(textStart);
        }
        char* end = nullptr;
        unsigned long value = std::strtoul(id.c_str(), &end, 0);
        if (end == id.c_str() || *end)
            continue;
        table[static_cast<unsigned>(value)] = Unescape(rest);
    }
}

const Table& TableFor(LANGID language) {
    static std::once_flag once;
    static Table english, german;
    std::call_once(once, [] {
        for (size_t i = 0; i < kEmbeddedStringCount; ++i) {
            const EmbeddedStrings& e = kEmbeddedStrings[i];
            ParseInto(e.text, std::string_view(e.language) == "de" ? german : english);
        }
    });
    return language == LANG_GERMAN_DE ? german : english;
}

}  // namespace

bool TryLoadString(unsigned id, std::string& text, LANGID language) {
    if (!language)
        language = GetUILanguage();
    for (LANGID l : {language, LANG_ENGLISH_US}) {
        const Table& t = TableFor(l);
        auto it = t.find(id);
        if (it != t.end()) {
            text = it->second;
            return true;
        }
    }
    return false;
}

std::string LoadResString(unsigned id, LANGID language) {
    std::string text;
    TryLoadString(id, text, language);
    return text;
}

std::string PosixLocaleFor(const std::string& windowsName) {
    if (windowsName == "english_usa")
        return "en_US.UTF-8";
    if (windowsName == "german_germany")
        return "de_DE.UTF-8";
    return {};
}

std::string SetLocaleFromResources() {
    std::string locale = PosixLocaleFor(LoadResString(IDS_LOCALE));
    if (locale.empty())
        return {};
    const char* set = std::setlocale(LC_ALL, locale.c_str());
    if (!set) {
        // Fall back to the neutral UTF-8 locale, which every system has.
        set = std::setlocale(LC_ALL, "C.UTF-8");
        if (!set)
            return {};
    }
    std::string result = set;
    std::setlocale(LC_NUMERIC, "C");
    return result;
}
