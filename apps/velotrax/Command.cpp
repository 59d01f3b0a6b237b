#include "apps/velotrax/Command.h"

#include <algorithm>

namespace {
std::vector<CCommand>& Table() {
    static std::vector<CCommand> table;
    return table;
}
}  // namespace

CCommandRegistrar::CCommandRegistrar(CCommand command) {
    Table().push_back(std::move(command));
}

std::vector<CCommand> RegisteredCommands() {
    std::vector<CCommand> commands = Table();
    std::sort(commands.begin(), commands.end(),
              [](const CCommand& a, const CCommand& b) { return a.name < b.name; });
    return commands;
}

const CCommand* FindCommand(const std::string& name) {
    for (const CCommand& c : Table())
        if (c.name == name)
            return &c;
    return nullptr;
}
