#include "platform/com/Language.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<LANGID> g_override{0};

LANGID FromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v)
            return std::strncmp(v, "de", 2) == 0 ? LANG_GERMAN_DE : LANG_ENGLISH_US;
    }
    return LANG_ENGLISH_US;
}
}  // namespace

LANGID GetUILanguage() {
    LANGID l = g_override.load();
    if (l)
        return l;
    static const LANGID fromEnv = FromEnvironment();
    return fromEnv;
}

void SetUILanguage(LANGID language) {
    g_override = language;
}
