// Loading a 10,000-entry ASX playlist against libxml2's own parse of the
// same file (`xmllint --noout`), in one run: processor time of each (the
// fastest of several runs), and their ratio. The playlist load is also
// timed with the stylesheet that folded names before, for comparison.
//
// usage: bench_asx_load [RUNS]   (default 7)
#include <libxml/parser.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>

#include "playlist/AsxReader.h"
#include "playlist/PlayList.h"
#include "support/Exception.h"

namespace {

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double RusageMs(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

// Processor time of one `xmllint --noout FILE` (user + system), -1 on failure.
double XmllintMs(const std::string& file) {
    pid_t pid = fork();
    if (pid == 0) {
        execlp("xmllint", "xmllint", "--noout", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return RusageMs(usage);
}

// Mixed-case names as old tools write them; every 7th entry has no duration.
std::string MakePlaylist(int entries) {
    std::string text = "<ASX version=\"3.0\">\n<Title>Bench</Title>\n";
    for (int i = 0; i < entries; ++i) {
        text += "  <Entry><Title>Clip " + std::to_string(i) + "</Title><Ref HREF=\"media\\file" +
                std::to_string(i % 100) + ".wmv\"/><StartTime VALUE=\"" +
                std::to_string((i / 100) * 10) + "\"/>";
        if (i % 7 != 6)
            text += "<Duration VALUE=\"00:00:10.0\"/>";
        text += "</Entry>\n";
    }
    return text + "</ASX>\n";
}

class CNoMedia : public IPlayListHandler {
public:
    void OpenClip(const std::string&) override {}
    void OnPlayListChanged() override {}
    REFERENCE_TIME GetPosition() override { return 0; }
    REFERENCE_TIME GetDuration() override { return -1; }
    bool Seek(REFERENCE_TIME, bool) override { return true; }
};

double Fastest(int runs, const std::function<double()>& run) {
    double best = -1;
    for (int i = 0; i < runs; ++i) {
        double ms = run();
        if (ms >= 0 && (best < 0 || ms < best))
            best = ms;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int entries = 10000;
    char folder[] = "/tmp/bench-asx-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("bench_asx_load: mkdtemp");
        return 2;
    }
    const std::string file = std::string(folder) + "/list.asx";
    const std::string text = MakePlaylist(entries);
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    auto load = [&](bool stylesheet) {
        return [&, stylesheet] {
            CNoMedia handler;
            CPlayList list;
            list.SetHandler(&handler);
            CAsxReader::SetFoldWithStylesheet(stylesheet);
            double start = ProcessCpuMs();
            try {
                list.LoadFile(file, "");
            } catch (const CException&) {
                return -1.0;
            }
            double ms = ProcessCpuMs() - start;
            CAsxReader::SetFoldWithStylesheet(false);

            return list.GetCount() == entries ? ms : -1.0;
        };
    };
    const double xmllint = Fastest(runs, [&] { return XmllintMs(file); });
    // libxml2's parse alone, in this process (xmllint also pays for starting).
    const double parse = Fastest(runs, [&] {
        double start = ProcessCpuMs();
        xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET);
        double ms = ProcessCpuMs() - start;
        if (!doc)
            return -1.0;
        xmlFreeDoc(doc);
        return ms;
    });
    const double fast = Fastest(runs, load(false));
    const double stylesheet = Fastest(runs, load(true));
    std::remove(file.c_str());
    rmdir(folder);

    std::printf("ASX playlist, %d entries, %zu bytes; processor time, fastest of %d runs\n",
                entries, text.size(), runs);
    if (xmllint < 0) {
        std::printf("  xmllint --noout        : not available\n");
        return 2;
    }
    std::printf("  xmllint --noout        : %8.1f ms\n", xmllint);
    std::printf("  libxml2 parse (here)   : %8.1f ms\n", parse);
    std::printf("  playlist load          : %8.1f ms  (%.2fx xmllint, goal <= 3x; %.2fx parse)\n",
                fast, fast / xmllint, fast / parse);
    std::printf("  load, stylesheet fold  : %8.1f ms  (%.2fx xmllint; %.2fx parse)\n", stylesheet,
                stylesheet / xmllint, stylesheet / parse);
    return fast < 0 || stylesheet < 0 ? 1 : 0;
}
