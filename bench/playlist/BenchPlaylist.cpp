// Playlist numbers: loading a 10,000-entry playlist and seeking across it.
#include <benchmark/benchmark.h>

#include <string>

#include "playlist/PlayList.h"

namespace {

constexpr int kEntries = 10000;

// Entries of 10 s each, cycling through 100 files, every 7th with no duration.
std::string MakePlaylist(int entries, bool allKnown) {
    std::string text = "<ASX version=\"3.0\">\n";
    for (int i = 0; i < entries; ++i) {
        text += "  <Entry><Title>Clip " + std::to_string(i) + "</Title><Ref HREF=\"media\\file" +
                std::to_string(i % 100) + ".wmv\"/><StartTime VALUE=\"" +
                std::to_string((i / 100) * 10) + "\"/>";
        if (allKnown || i % 7 != 6)
            text += "<Duration VALUE=\"00:00:10.0\"/>";
        text += "</Entry>\n";
    }
    return text + "</ASX>\n";
}

class CBenchHandler : public IPlayListHandler {
public:
    void OpenClip(const std::string&) override { ++opens; }
    void OnPlayListChanged() override {}
    REFERENCE_TIME GetPosition() override { return position; }
    REFERENCE_TIME GetDuration() override { return 1000 * UNITS; }
    bool Seek(REFERENCE_TIME p, bool) override {
        position = p;
        return true;
    }
    long opens = 0;
    REFERENCE_TIME position = 0;
};

void BM_LoadPlaylist(benchmark::State& state) {
    const std::string text = MakePlaylist(kEntries, false);
    for (auto _ : state) {
        CBenchHandler handler;
        CPlayList list;
        list.SetHandler(&handler);
        list.LoadXml(text, "/media/lists");
        benchmark::DoNotOptimize(list.GetCount());
    }
    state.counters["entries"] = kEntries;
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadPlaylist)->Unit(benchmark::kMillisecond);

// Seeks to positions spread over the whole time line, in a scattered order.
void BM_SeekAcross(benchmark::State& state) {
    const std::string text = MakePlaylist(kEntries, true);
    CBenchHandler handler;
    CPlayList list;
    list.SetHandler(&handler);
    list.LoadXml(text, "/media/lists");
    const REFERENCE_TIME total = list.GetDuration();
    uint64_t step = 0;
    for (auto _ : state) {
        step = step * 6364136223846793005ULL + 1442695040888963407ULL;
        REFERENCE_TIME position =
            static_cast<REFERENCE_TIME>((step >> 11) % static_cast<uint64_t>(total));
        list.SetPosition(position);
        benchmark::DoNotOptimize(list.GetCurrentClip());
    }
    state.counters["opens"] = static_cast<double>(handler.opens);
}
BENCHMARK(BM_SeekAcross)->Unit(benchmark::kMicrosecond);

// Seeks that stay near the current clip (the slider moving along).
void BM_SeekNearby(benchmark::State& state) {
    const std::string text = MakePlaylist(kEntries, true);
    CBenchHandler handler;
    CPlayList list;
    list.SetHandler(&handler);
    list.LoadXml(text, "/media/lists");
    const REFERENCE_TIME total = list.GetDuration();
    REFERENCE_TIME position = 0;
    for (auto _ : state) {
        position = (position + 3 * UNITS) % total;
        list.SetPosition(position);
        benchmark::DoNotOptimize(list.GetCurrentClip());
    }
}
BENCHMARK(BM_SeekNearby)->Unit(benchmark::kMicrosecond);

}  // namespace
