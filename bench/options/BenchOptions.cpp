// Costs of the option store: flushing many changed options (a full save
// with lock, re-read, merge, fsync and rename) and loading a large
// settings file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "options/AppOptions.h"
#include "platform/registry/RegFile.h"
#include "platform/registry/Registry.h"

namespace {

class CScratchDir {
public:
    CScratchDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "velotrax-bench-XXXXXX").string();
        if (mkdtemp(tmpl.data()))
            m_path = tmpl;
    }
    ~CScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void BM_FlushThousandChangedOptions(benchmark::State& state) {
    CScratchDir dir;
    RegSetFilePaths(dir.File("user.reg"), dir.File("system.reg"));
    CAppOptions options;
    int32_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++round;
        for (int i = 0; i < 1000; ++i)
            options.SetOption("Bench\\Section" + std::to_string(i % 10),
                              "Value" + std::to_string(i), CAppOpt(int32_t(i + round)));
        state.ResumeTiming();
        options.Flush();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    RegSetFilePaths("", "");
}
BENCHMARK(BM_FlushThousandChangedOptions)->Unit(benchmark::kMillisecond);

std::string TenThousandValues() {
    std::string text = "REGEDIT4\n\n";
    for (int s = 0; s < 100; ++s) {
        text += "[HKEY_CURRENT_USER\\software\\Korvani\\orbalis veloTrax ActiveX\\Section" +
                std::to_string(s) + "]\n";
        for (int v = 0; v < 100; ++v) {
            if (v % 3 == 0)
                text += "\"Number" + std::to_string(v) + "\"=dword:0000" +
                        std::to_string(1000 + v) + "\n";
            else if (v % 3 == 1)
                text += "\"Text" + std::to_string(v) + "\"=\"C:\\\\videos\\\\clip " +
                        std::to_string(v) + ".mpg\"\n";
            else
                text += "\"Data" + std::to_string(v) + "\"=hex:01,02,03,04,05,06,07,08\n";
        }
        text += "\n";
    }
    return text;
}

void BM_LoadTenThousandValues(benchmark::State& state) {
    CScratchDir dir;
    std::ofstream(dir.File("user.reg")) << TenThousandValues();
    RegSetFilePaths(dir.File("user.reg"), dir.File("system.reg"));
    for (auto _ : state) {
        RegReload();
        HKEY key = nullptr;
        // Opening a key reads the whole file.
        RegOpenKeyEx(HKEY_CURRENT_USER, "software\\Korvani\\orbalis veloTrax ActiveX\\Section99", 0,
                     KEY_READ, &key);
        DWORD size = 0;
        if (RegQueryValueEx(key, "Number99", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
            state.SkipWithError("the file did not load");
        RegCloseKey(key);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
    RegSetFilePaths("", "");
}
BENCHMARK(BM_LoadTenThousandValues)->Unit(benchmark::kMillisecond);

void BM_ParseTenThousandValues(benchmark::State& state) {
    const std::string text = TenThousandValues();
    for (auto _ : state) {
        CRegKeyNode root;
        benchmark::DoNotOptimize(ParseRegFile(text, "HKEY_CURRENT_USER", root));
    }
    state.SetBytesProcessed(state.iterations() * int64_t(text.size()));
}
BENCHMARK(BM_ParseTenThousandValues)->Unit(benchmark::kMillisecond);

}  // namespace
