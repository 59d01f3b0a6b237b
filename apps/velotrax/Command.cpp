#include "apps/velotrax/Command.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>
#include <algorithm>
#include <cstdio>

namespace {
std::vector<CCommand>& Table() {
    static std::vector<CCommand> table;
    return table;
}

// Arguments pass through Qt as Latin-1: every byte maps to one character and
// back, so file names that are not valid in the locale's encoding survive.
QString FromArgument(const std::string& text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}
std::string ToArgument(const QString& text) {
    return text.toLatin1().toStdString();
}

std::string OptionLabel(const std::vector<std::string>& names, const std::string& valueName) {
    std::string label;
    for (const std::string& name : names)
        label += (label.empty() ? "" : ", ") + std::string(name.size() == 1 ? "-" : "--") + name;
    if (!valueName.empty())
        label += " " + valueName;
    return label;
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

CCommandLine::CCommandLine(std::string command, std::vector<std::string> usage,
                           std::string description)
    : m_command(std::move(command)),
      m_usage(std::move(usage)),
      m_description(std::move(description)) {
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

void CCommandLine::AddOption(std::initializer_list<std::string> names, std::string help,
                             std::string valueName) {
    QStringList qnames;
    for (const std::string& name : names)
        qnames << FromArgument(name);
    m_parser.addOption(QCommandLineOption(qnames, QString(), FromArgument(valueName)));
    m_options.push_back({names, std::move(help), std::move(valueName)});
}

void CCommandLine::StopAtFirstPositional() {
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
}

std::optional<int> CCommandLine::Parse(int argc, char** argv) {
    if (std::none_of(m_options.begin(), m_options.end(),
                     [](const COption& o) { return o.names.back() == "help"; }))
        AddOption({"h", "help"}, "show this help");
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << FromArgument(argv[i]);
    if (!m_parser.parse(arguments)) {
        const QStringList unknown = m_parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            std::string name = ToArgument(unknown.first());
            return UsageError("unknown option '" + std::string(name.size() == 1 ? "-" : "--") +
                              name + "'");
        }
        std::string error = ToArgument(m_parser.errorText());
        if (!error.empty() && error.back() == '.')
            error.pop_back();
        if (!error.empty() && error[0] >= 'A' && error[0] <= 'Z')
            error[0] = char(error[0] - 'A' + 'a');
        return UsageError(error);
    }
    if (m_parser.isSet(QStringLiteral("help"))) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitOk;
    }
    m_positional.clear();
    for (const QString& argument : m_parser.positionalArguments())
        m_positional.push_back(ToArgument(argument));
    return std::nullopt;
}

bool CCommandLine::IsSet(const std::string& name) const {
    return m_parser.isSet(FromArgument(name));
}

std::string CCommandLine::Value(const std::string& name) const {
    return ToArgument(m_parser.value(FromArgument(name)));
}

std::vector<std::string> CCommandLine::Values(const std::string& name) const {
    std::vector<std::string> values;
    for (const QString& v : m_parser.values(FromArgument(name)))
        values.push_back(ToArgument(v));
    return values;
}

int CCommandLine::UsageError(const std::string& message) const {
    std::string text = "velotrax " + m_command + ": " + message + "\n" + UsageLines() +
                       "Run 'velotrax " + m_command + " --help' for more.\n";
    std::fputs(text.c_str(), stderr);
    return kExitUsage;
}

std::string CCommandLine::UsageLines() const {
    std::string text;
    for (size_t i = 0; i < m_usage.size(); ++i)
        text += (i == 0 ? "Usage: " : "       ") + std::string("velotrax ") + m_command +
                (m_usage[i].empty() ? "" : " ") + m_usage[i] + "\n";
    return text;
}

std::string CCommandLine::HelpText() const {
    std::string text = UsageLines();
    if (!m_description.empty())
        text += m_description + (m_description.back() == '\n' ? "" : "\n");
    if (m_options.empty())
        return text;
    size_t width = 0;
    for (const COption& o : m_options)
        width = std::max(width, OptionLabel(o.names, o.valueName).size());
    text += "\nOptions:\n";
    const std::string indent(2 + width + 2, ' ');
    for (const COption& o : m_options) {
        std::string label = OptionLabel(o.names, o.valueName);
        text += "  " + label + std::string(width - label.size() + 2, ' ');
        for (char c : o.help)
            text += c == '\n' ? "\n" + indent : std::string(1, c);
        text += "\n";
    }
    return text;
}

bool ParseDeinterlaceSpec(const std::string& text, CDeinterlaceSpec& choice, std::string& error) {
    int* fields[] = {&choice.method, &choice.interpolation, &choice.sharpen};
    const int highest[] = {4, 2, 5};
    choice = CDeinterlaceSpec();
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t comma = text.find(',', start);
        std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part.size() != 1 || part[0] < '0' || part[0] - '0' > highest[i]) {
            error =
                "--deinterlace takes METHOD[,INTERPOLATION[,SHARPEN]] with a method from 0 "
                "to 4, an interpolation from 0 to 2 and a sharpen level from 0 to 5, not '" +
                text + "'";
            return false;
        }
        *fields[i] = part[0] - '0';
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
    error = "--deinterlace takes at most three numbers, not '" + text + "'";
    return false;
}

void InstallQtTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale::system(), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}
