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

const char kSections[] = "An empty SECTION means \"Settings\"; sections nest with '\\'.";

// Runs one action with its own parsed command line and its arguments.
using CAction = int (*)(CCommandLine& cl, const std::vector<std::string>& args);

int Get(CCommandLine& cl, const std::vector<std::string>& args) {
    std::string as = cl.Value("as");
    if (cl.IsSet("as") && as != "bool" && as != "int" && as != "double" && as != "string")
        return cl.UsageError("--as takes bool, int, double or string");
    if (args.size() != 2)
        return cl.UsageError("give SECTION and NAME");
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

// A 32-bit number as --dword takes it (decimal, 0x hexadecimal, 0 octal).
bool ParseDWord(const std::string& text, int32_t& value) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > UINT32_MAX)
        return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

// A switch written as a word or a number.
bool ParseSwitch(const std::string& text, int32_t& value) {
    for (const char* on : {"1", "true", "yes", "on"})
        if (va::EqualsNoCase(text, on))
            return (value = 1), true;
    for (const char* off : {"0", "false", "no", "off"})
        if (va::EqualsNoCase(text, off))
            return (value = 0), true;
    return false;
}

int Set(CCommandLine& cl, const std::vector<std::string>& args) {
    if (cl.IsSet("dword") && cl.IsSet("string"))
        return cl.UsageError("give --dword or --string, not both");
    if (args.size() != 3)
        return cl.UsageError("give SECTION, NAME and VALUE");
    const std::string& section = args[0];
    const std::string& name = args[1];
    const std::string& text = args[2];
    // Without --dword or --string a known setting is stored with its own type.
    const COptionInfo* info = FindOptionInfo(section, name);
    const EOptionType known = info ? info->type : EOptionType::none;
    const bool dword =
        cl.IsSet("dword") ||
        (!cl.IsSet("string") && (known == EOptionType::integer || known == EOptionType::boolean));
    std::string problem;
    if (!CheckLimits(section, name, dword ? 4 : text.size() + 1, problem))
        return Fail(problem);
    CAppOpt value;
    if (dword) {
        int32_t number = 0;
        if (!cl.IsSet("dword") && known == EOptionType::boolean) {
            if (!ParseSwitch(text, number))
                return cl.UsageError(name + " is a switch: give 1 or 0 (or --string)");
        } else if (!ParseDWord(text, number)) {
            return cl.UsageError(cl.IsSet("dword") ? "--dword needs a 32-bit number"
                                                   : name +
                                                         " is a number: give a 32-bit number "
                                                         "(or --string)");
        }
        value = CAppOpt(number);
    } else {
        value = CAppOpt(text);
    }
    GetAppOptions().SetOption(section, name, value);
    return FlushAndCheck();
}

int Delete(CCommandLine& cl, const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2)
        return cl.UsageError("give SECTION and optionally NAME");
    GetAppOptions().DeleteOption(args[0], args.size() == 2 ? args[1] : std::string());
    return FlushAndCheck();
}

int List(CCommandLine& cl, const std::vector<std::string>& args) {
    if (args.size() != 1)
        return cl.UsageError("give SECTION");
    std::vector<std::string> names;
    GetAppOptions().EnumOptions(args[0], names);
    for (const std::string& n : names)
        std::printf("%s\n", n.c_str());
    return kExitOk;
}

int Export(CCommandLine& cl, const std::vector<std::string>& args) {
    if (!args.empty())
        return cl.UsageError("takes no arguments");
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

int Path(CCommandLine& cl, const std::vector<std::string>& args) {
    if (!args.empty())
        return cl.UsageError("takes no arguments");
    std::printf("%s\n", RegUserFilePath().c_str());
    return kExitOk;
}

struct CActionInfo {
    const char* name;
    const char* usage;
    const char* description;
    CAction run;
};
const CActionInfo kActions[] = {
    {"get", "[--as TYPE] SECTION NAME",
     "Prints a setting; without a stored value prints the default and exits 1.", &Get},
    {"set", "[--dword|--string] SECTION NAME VALUE",
     "Stores a setting and saves the settings file. A setting the player knows is\n"
     "stored with its own type (a number or a string) unless --dword or --string\n"
     "says otherwise.",
     &Set},
    {"delete", "SECTION [NAME]", "Deletes a setting, or a section without sub-sections.", &Delete},
    {"list", "SECTION", "Lists the names of a section's settings.", &List},
    {"export", "", "Prints the settings file.", &Export},
    {"path", "", "Prints where the settings file is.", &Path},
};

int RunOptions(int argc, char** argv) {
    std::vector<std::string> usage;
    for (const CActionInfo& a : kActions)
        usage.push_back(std::string(a.name) + (*a.usage ? " " : "") + a.usage);
    CCommandLine cl("options", usage,
                    std::string("Reads and changes the player's settings.\n") + kSections +
                        "\nEach action takes --help.");
    cl.StopAtFirstPositional();
    if (auto status = cl.Parse(argc, argv))
        return *status;
    if (cl.Positional().empty())
        return cl.UsageError("give an action");
    const std::string verb = cl.Positional()[0];
    const CActionInfo* action = nullptr;
    for (const CActionInfo& a : kActions)
        if (verb == a.name)
            action = &a;
    if (!action)
        return cl.UsageError("unknown action '" + verb + "'");

    CCommandLine actionLine(std::string("options ") + action->name, {action->usage},
                            std::string(action->description) + "\n" + kSections);
    if (action->run == &Get)
        actionLine.AddOption({"as"}, "convert to bool, int, double or string", "TYPE");
    if (action->run == &Set) {
        actionLine.AddOption({"dword"}, "store a 32-bit number");
        actionLine.AddOption({"string"}, "store a string");
    }
    // A value may begin with '-' once the section is given.
    actionLine.StopAtFirstPositional();
    std::vector<std::string> rest(cl.Positional().begin(), cl.Positional().end());
    std::vector<char*> actionArgv;
    for (std::string& arg : rest)
        actionArgv.push_back(arg.data());
    if (auto status = actionLine.Parse(int(actionArgv.size()), actionArgv.data()))
        return *status;
    // As at module start: the settings live under the company key.
    SetRegistryKey("Korvani");
    return action->run(actionLine, actionLine.Positional());
}

CCommandRegistrar reg({"options", "read and change the settings", &RunOptions});

}  // namespace
