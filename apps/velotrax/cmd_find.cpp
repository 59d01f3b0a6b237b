// velotrax find: lists the video files of a folder (and its subfolders) the
// way the player's Find command collects them, one path a line.
#include <cstdio>
#include <string>

#include "apps/velotrax/Command.h"
#include "ui/FileFinder.h"

namespace {

// The player's video file patterns.
const char* const kDefaultPatterns = "*.avi;*.wmv;*.mpg;*.mpeg;*.m1v;*.mp2;*.asx;*.wvx";

int RunFind(int argc, char** argv) {
    CCommandLine cl("find", {"[--recursive] [--limit N] [--patterns P] FOLDER"},
                    "Lists the files in FOLDER whose names match the patterns (letter case\n"
                    "ignored), one path a line in the order found: a folder's own files\n"
                    "pattern by pattern, then its subfolders in name order. Exit status 0\n"
                    "when something was found, 1 when nothing was.");
    cl.AddOption({"r", "recursive"}, "search the subfolders too");
    cl.AddOption({"limit"}, "stop after N results (0: no limit)", "N");
    cl.AddOption({"patterns"},
                 std::string("patterns separated by ';' (default ") + kDefaultPatterns + ")", "P");
    if (auto status = cl.Parse(argc, argv))
        return *status;
    if (cl.Positional().size() != 1 || cl.Positional()[0].empty())
        return cl.UsageError("give one FOLDER");
    CFileFinder finder;
    if (cl.IsSet("limit")) {
        const std::string text = cl.Value("limit");
        size_t used = 0;
        int limit = -1;
        try {
            limit = std::stoi(text, &used);
        } catch (const std::exception&) {
        }
        if (used != text.size() || limit < 0)
            return cl.UsageError("the limit must be a whole number of 0 or more");
        finder.m_nResultLimit = limit;
    }
    const std::string patterns = cl.IsSet("patterns") ? cl.Value("patterns") : kDefaultPatterns;
    finder.Find(cl.Positional()[0], patterns, cl.IsSet("recursive"));
    for (const std::string& path : finder.Results())
        std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    return finder.GetSize() > 0 ? kExitOk : kExitFailure;
}

CCommandRegistrar reg({"find", "list the video files of a folder and its subfolders", &RunFind});

}  // namespace
