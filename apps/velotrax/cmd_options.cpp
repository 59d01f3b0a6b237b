// velotrax options: reads and changes the player's settings through the
// option store, as the player itself does.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apps/velotrax/Command.h"
#include "options/AppOptStgRegDb.h"
#include "options/AppOptions.h"
#include "options/OptionCatalogue.h"
#include "platform/registry/RegFile.h"
#include "platform/registry/Registry.h"
#include "resources/StringTable.h"
#include "support/FormatMessage.h"
#include "support/Strings.h"

namespace {

constexpr unsigned IDS_REG_SAVE_FAILED = 29002;

const char* const kUsage =
    "usage: velotrax options get [--as bool|int|double|string] SECTION NAME\n"
    "       velotrax options set [--dword|--string] SECTION NAME VALUE\n"
    "       velotrax options delete SECTION [NAME]\n"
    "       velotrax options list SECTION\n"
    "       velotrax options export\n"
    "       velotrax options path\n"
    "An empty SECTION means \"Settings\"; sections nest with '\\'.\n";

int Usage(const char* problem = nullptr) {
    if (problem)
        std::fprintf(stderr, "velotrax options: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "velotrax options: %s\n", message.c_str());
    return kExitFailure;
}

std::string HexBytes(IStream* stream) {
    std::string out;
    if (!stream)
        return out;
    uint8_t buf[4096];
    ULONG read = 0;
    char hex[4];
    while (SUCCEEDED(stream->Read(buf, sizeof buf, &read)) && read > 0) {
        for (ULONG i = 0; i < read; ++i) {
            std::snprintf(hex, sizeof hex, out.empty() ? "%02x" : ",%02x", buf[i]);
            out += hex;
        }
    }
    return out;
}

bool Format(const CAppOpt& value, const std::string& as, std::string& out) {
    if (as.empty()) {
        if (dynamic_cast<const CAppOptValueStream*>(value.GetValue()))
            out = HexBytes(value.GetStream().Get());
        else
            out = value.GetString();
    } else if (as == "bool") {
        out = value.GetBool() ? "1" : "0";
    } else if (as == "int") {
        out = std::to_string(value.GetInt());
    } else if (as == "double") {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", value.GetDouble());
        out = buf;
    } else if (as == "string") {
        out = value.GetString();
    } else {
        return false;
    }
    return true;
}

// A clear refusal for names and values the registry would not take.
bool CheckLimits(const std::string& section, const std::string& name, size_t valueSize,
                 std::string& problem) {
    size_t depth = 3;  // software, company, profile
    for (const std::string& part :
         va::Split(section.empty() ? std::string(CAppOptions::kDefaultSection) : section, '\\')) {
        if (part.empty())
            continue;
        ++depth;
        if (part.size() > kRegMaxKeyNameLength) {
            problem = RegErrorText(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        if (!IsValidRegKeyName(part)) {
            problem = "the section name holds control characters";
            return false;
        }
    }
    if (depth > kRegMaxKeyDepth || name.size() > kRegMaxValueNameLength) {
        problem = RegErrorText(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (!IsValidRegValueName(name)) {
        problem = "the value name holds control characters";
        return false;
    }
    if (valueSize > kRegMaxValueSize) {
        problem = RegErrorText(ERROR_NOT_ENOUGH_QUOTA);
        return false;
    }
    return true;
}

// Flushes the store; a save that failed is retried once and reported.
int FlushAndCheck() {
    GetAppOptions().Flush();
    LONG rc = RegFlushKey(HKEY_CURRENT_USER);
    if (rc == ERROR_SUCCESS)
        return kExitOk;
    std::string text = LoadResString(IDS_REG_SAVE_FAILED);
    auto message = va::FormatMessageString(text, {RegUserFilePath(), RegErrorText(rc)});
    return Fail(message ? *message : RegErrorText(rc));
}

int Get(std::vector<std::string> args) {
    std::string as;
    if (!args.empty() && args[0] == "--as") {
        if (args.size() < 2)
            return Usage("--as needs bool, int, double or string");
        as = args[1];
        args.erase(args.begin(), args.begin() + 2);
        if (as != "bool" && as != "int" && as != "double" && as != "string")
            return Usage("--as needs bool, int, double or string");
    }
    if (args.size() != 2)
        return Usage();
    std::string out;
    CAppOpt value = GetAppOptions().GetOption(args[0], args[1]);
    if (value.IsEmpty()) {
        // Nothing stored: the catalogue's default, when there is one.
        const COptionInfo* info = FindOptionInfo(args[0], args[1]);
        if (info && info->hasDefault && Format(info->Default(), as, out))
            std::printf("%s\n", out.c_str());
        return kExitFailure;
    }
    Format(value, as, out);
    std::printf("%s\n", out.c_str());
    return kExitOk;
}

int Set(std::vector<std::string> args) {
    bool dword = false;
    if (!args.empty() && (args[0] == "--dword" || args[0] == "--string")) {
        dword = args[0] == "--dword";
        args.erase(args.begin());
    }
    if (args.size() != 3)
        return Usage();
    const std::string& section = args[0];
    const std::string& name = args[1];
    const std::string& text = args[2];
    std::string problem;
    if (!CheckLimits(section, name, dword ? 4 : text.size() + 1, problem))
        return Fail(problem);
    CAppOpt value;
    if (dword) {
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(text.c_str(), &end, 0);
        if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > UINT32_MAX)
            return Usage("--dword needs a 32-bit number");
        value = CAppOpt(static_cast<int32_t>(static_cast<uint32_t>(v)));
    } else {
        value = CAppOpt(text);
    }
    GetAppOptions().SetOption(section, name, value);
    return FlushAndCheck();
}

int Delete(const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2)
        return Usage();
    GetAppOptions().DeleteOption(args[0], args.size() == 2 ? args[1] : std::string());
    return FlushAndCheck();
}

int List(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return Usage();
    std::vector<std::string> names;
    GetAppOptions().EnumOptions(args[0], names);
    for (const std::string& n : names)
        std::printf("%s\n", n.c_str());
    return kExitOk;
}

int Export(const std::vector<std::string>& args) {
    if (!args.empty())
        return Usage();
    if (int rc = FlushAndCheck(); rc != kExitOk)
        return rc;
    FILE* f = std::fopen(RegUserFilePath().c_str(), "rb");
    if (!f)
        return errno == ENOENT ? kExitOk : Fail(RegUserFilePath() + ": " + std::strerror(errno));
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        std::fwrite(buf, 1, n, stdout);
    std::fclose(f);
    return kExitOk;
}

int RunOptions(int argc, char** argv) {
    // As at module start: the settings live under the company key.
    SetRegistryKey("Korvani");
    if (argc < 2)
        return Usage();
    std::string verb = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (verb == "get")
        return Get(args);
    if (verb == "set")
        return Set(args);
    if (verb == "delete")
        return Delete(args);
    if (verb == "list")
        return List(args);
    if (verb == "export")
        return Export(args);
    if (verb == "path") {
        if (!args.empty())
            return Usage();
        std::printf("%s\n", RegUserFilePath().c_str());
        return kExitOk;
    }
    if (verb == "--help" || verb == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    return Usage(("unknown action '" + verb + "'").c_str());
}

CCommandRegistrar reg({"options",
                       "options get|set|delete|list|export|path ...  read and change the settings",
                       &RunOptions});

}  // namespace
