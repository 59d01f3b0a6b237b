// Feeds arbitrary bytes to the settings-file reader. Besides not crashing,
// what the writer makes of the result must read back without damage and
// write out the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "platform/registry/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    CRegKeyNode first;
    ParseRegFile(text, "HKEY_CURRENT_USER", first);
    std::string written = WriteRegFile(first, "HKEY_CURRENT_USER");

    CRegKeyNode second;
    CRegParseResult again = ParseRegFile(written, "HKEY_CURRENT_USER", second);
    if (again.damaged) {
        std::fprintf(stderr, "written text reads as damaged: %s (line %zu)\n",
                     again.problem.c_str(), again.firstBadLine);
        __builtin_trap();
    }
    if (WriteRegFile(second, "HKEY_CURRENT_USER") != written) {
        std::fprintf(stderr, "written text does not read back the same\n");
        __builtin_trap();
    }
    return 0;
}
