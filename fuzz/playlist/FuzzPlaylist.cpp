// Feeds arbitrary playlist text to the ASX reader. Every input must end in
// clips or in one of the system's exceptions: never a crash, a leak or an
// unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <string>

#include "playlist/AsxReader.h"
#include "playlist/PlayList.h"
#include "support/Exception.h"

namespace {

class CFuzzHandler : public IPlayListHandler {
public:
    void OpenClip(const std::string& path) override { m_open = path; }
    void OnPlayListChanged() override {}
    REFERENCE_TIME GetPosition() override { return m_position; }
    // A length derived from the path, so that lengths get learned too.
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
        list.LoadXml(text, size % 2 ? "C:\\media\\lists" : "/media/lists");
        // Walk the time line a little.
        for (int i = 0; i < list.GetCount() && i < 8; ++i) {
            REFERENCE_TIME start = 0, end = 0;
            list.GetClipListRange(i, start, end);
            list.SetPosition(start);
            list.CheckClipEnd(true);
            list.CheckClipEnd(false);
        }
        while (list.NextClip() != PLAYLIST_FINISHED) {
        }
        list.SetPosition(list.GetDuration() / 2);
    } catch (const CException&) {
    }
    // The time and reference parsers on their own.
    CAsxReader::ParseClipTime(text.substr(0, 64));
    CAsxReader::ResolveReference(text.substr(0, 32), text.size() > 32 ? text.substr(32, 64) : "x");
    return 0;
}
