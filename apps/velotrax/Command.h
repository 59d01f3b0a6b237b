#pragma once
// Subcommands of the velotrax program. Each cmd_NAME.cpp file defines one
// and registers it with a static CCommandRegistrar.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

struct CCommand {
    std::string name;
    std::string summary;                // one line shown by 'velotrax --help'
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

// One command's command line: options are declared, then Parse reads argv
// through QCommandLineParser. Every command gets -h/--help (usage on standard
// output, exit 0) and the same usage layout; bad use names the command.
//
//   CCommandLine cl("play", {"--headless [OPTIONS] FILE"}, "Plays FILE without a window.");
//   cl.AddOption({"rate"}, "play at rate R (1.0 is normal speed)", "R");
//   if (auto status = cl.Parse(argc, argv))
//       return *status;
//   if (cl.IsSet("rate")) ... cl.Value("rate") ... cl.Positional()
class CCommandLine {
public:
    // 'command' as typed after "velotrax" ("options set"); 'usage' holds one
    // line of arguments per form of the command; 'description' may span lines.
    CCommandLine(std::string command, std::vector<std::string> usage, std::string description);

    // names: short ("r") and/or long ("rate") names; a value name makes the
    // option take a value. Help text may hold '\n' for more lines.
    void AddOption(std::initializer_list<std::string> names, std::string help,
                   std::string valueName = {});
    // Everything after the first positional argument is positional too
    // (for commands with verbs, and for values that begin with '-').
    void StopAtFirstPositional();

    // Parses argv (argv[0] is the command's name). Returns the exit status
    // when the command is done: help shown (0) or bad use reported (2).
    std::optional<int> Parse(int argc, char** argv);

    bool IsSet(const std::string& name) const;
    std::string Value(const std::string& name) const;
    // Every value of an option given more than once, in order.
    std::vector<std::string> Values(const std::string& name) const;
    const std::vector<std::string>& Positional() const { return m_positional; }

    // Reports bad use: "velotrax COMMAND: message" and the usage on standard
    // error. Returns kExitUsage.
    int UsageError(const std::string& message) const;
    std::string HelpText() const;
    std::string UsageLines() const;

private:
    struct COption {
        std::vector<std::string> names;
        std::string help;
        std::string valueName;
    };
    std::string m_command;
    std::vector<std::string> m_usage;
    std::string m_description;
    std::vector<COption> m_options;
    QCommandLineParser m_parser;
    std::vector<std::string> m_positional;
};

// Qt's own texts (file dialogs, message box buttons) in the language of
// the system locale, when the translations are installed.
void InstallQtTranslations(QCoreApplication& app);

// The player window on MEDIA (the demo clip when empty and no script is
// given); with a script, the script drives it. Returns the exit status.
int RunPlayer(const char* program, const std::string& media, const std::string* script);

// The deinterlace settings of --deinterlace M[,I[,S]]: method 0..4,
// interpolation 0..2, sharpen level 0..5 (both 0 when left out).
struct CDeinterlaceSpec {
    int method = 0;
    int interpolation = 0;
    int sharpen = 0;
};
// Reads "M[,I[,S]]"; false (and 'error' set) when it is not that.
bool ParseDeinterlaceSpec(const std::string& text, CDeinterlaceSpec& choice, std::string& error);
