#pragma once
// Subcommands of the velotrax program. Each cmd_NAME.cpp file defines one
// and registers it with a static CCommandRegistrar.
#include <string>
#include <vector>

struct CCommand {
    std::string name;
    std::string synopsis;               // one line of usage shown by --help
    int (*run)(int argc, char** argv);  // argv[0] is the command's name
};

class CCommandRegistrar {
public:
    explicit CCommandRegistrar(CCommand command);
};

// The registered commands, sorted by name.
std::vector<CCommand> RegisteredCommands();
const CCommand* FindCommand(const std::string& name);

// Exit statuses shared by the commands.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
