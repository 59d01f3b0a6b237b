// Feeds arbitrary text to one list reader (M3U, PLS or XSPF, chosen when
// building), fills a playlist from the entries and walks its time line.
// Every input must end in clips or in one of the system's exceptions.
#include <cstddef>
#include <cstdint>
#include <string>

#include "playlist/ListFormats.h"
#include "support/Exception.h"

namespace {

class CFuzzHandler : public IPlayListHandler {
public:
    void OpenClip(const std::string& path) override { m_open = path; }
    void OnPlayListChanged() override {}
    REFERENCE_TIME GetPosition() override { return m_position; }
    REFERENCE_TIME GetDuration() override {
        return m_open.empty() ? -1 : static_cast<REFERENCE_TIME>(m_open.size()) * UNITS;
    }
    bool Seek(REFERENCE_TIME position, bool) override {
        m_position = position;
        return true;
    }

private:
    std::string m_open;
    REFERENCE_TIME m_position = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    CFuzzHandler handler;
    CPlayList list;
    list.SetHandler(&handler);
    try {
#if defined(FUZZ_M3U)
        auto entries = CListFormats::ReadM3u(text, size % 2 == 0);
#elif defined(FUZZ_PLS)
        auto entries = CListFormats::ReadPls(text);
#else
        auto entries = CListFormats::ReadXspf(text);
#endif
        CListFormats::Fill(list, entries);
        for (int i = 0; i < list.GetCount() && i < 8; ++i) {
            REFERENCE_TIME start = 0, end = 0;
            list.GetClipListRange(i, start, end);
            list.SetPosition(start);
            list.CheckClipEnd(false);
        }
        while (list.NextClip() != PLAYLIST_FINISHED) {
        }
        list.SetPosition(list.GetDuration() / 2);
    } catch (const CException&) {
    }
    return 0;
}
