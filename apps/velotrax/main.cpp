// velotrax: the Velotrax player host and command-line tool.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "apps/velotrax/Command.h"
#include "resources/StringTable.h"
#include "support/Exception.h"
#include "support/VersionInfo.h"

namespace {

void PrintHelp(FILE* out) {
    std::vector<CCommand> commands = RegisteredCommands();
    size_t width = 0;
    for (const CCommand& c : commands)
        width = std::max(width, c.name.size());
    std::fprintf(out,
                 "Velotrax, an embeddable video player.\n\n"
                 "Usage: velotrax [MEDIA]\n"
                 "       velotrax COMMAND [OPTIONS] [ARGUMENTS]\n"
                 "       velotrax --help | --version\n\n"
                 "Without a command the player window opens on MEDIA, or on the demo clip.\n"
                 "Without a display the media plays headless to its end.\n\n"
                 "Commands:\n");
    for (const CCommand& c : commands)
        std::fprintf(out, "  %-*s  %s\n", int(width), c.name.c_str(), c.summary.c_str());
    std::fprintf(out, "\nEvery command takes --help for its options and arguments.\n");
}

int PrintVersion() {
    std::string version = ModuleVersionInfo().FormatVersion(3);
    if (version.empty()) {
        std::fprintf(stderr, "velotrax: this binary carries no version information\n");
        return kExitFailure;
    }
    std::string product = ModuleVersionInfo().GetStringValue("ProductName");
    std::printf("%s %s\n", product.empty() ? "Velotrax" : product.c_str(), version.c_str());
    return kExitOk;
}

int Run(int argc, char** argv) {
    SetLocaleFromResources();
    if (argc < 2)
        return RunPlayer(argv[0], std::string(), nullptr);
    std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        PrintHelp(stdout);
        return kExitOk;
    }
    if (first == "--version" || first == "-V")
        return PrintVersion();
    if (const CCommand* command = FindCommand(first))
        return command->run(argc - 1, argv + 1);
    // Anything else that is not an option is the media to play.
    if (argc == 2 && !first.empty() && first[0] != '-')
        return RunPlayer(argv[0], first, nullptr);
    std::fprintf(stderr, "velotrax: unknown command or option '%s'\n\n", first.c_str());
    PrintHelp(stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (...) {
        ReportCurrentException();
        return kExitFailure;
    }
}
