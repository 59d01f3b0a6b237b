// Reads arbitrary playlist text twice, folding names once natively and once
// with the XSLT stylesheet used before, and traps when the two readings
// differ: in the folded document, in the clips (file, title, abstract,
// times) or in the failure.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "playlist/AsxReader.h"
#include "playlist/PlayList.h"
#include "support/Exception.h"

namespace {

class CNoMedia : public IPlayListHandler {
public:
    void OpenClip(const std::string& path) override { m_opened += path + "\n"; }
    void OnPlayListChanged() override {}
    REFERENCE_TIME GetPosition() override { return 0; }
    REFERENCE_TIME GetDuration() override { return -1; }
    bool Seek(REFERENCE_TIME, bool) override { return true; }
    std::string m_opened;
};

// Everything a load leaves behind, as one text.
std::string Reading(const std::string& text, bool stylesheet) {
    CAsxReader::SetFoldWithStylesheet(stylesheet);
    std::string out;
    CXMLDOMDocument document;
    document.Create(true);
    document.SetAsync(false);
    if (document.LoadXML(text)) {
        CAsxReader::FoldNames(document);
        out += "folded: " + document.GetXml() + "\n";
    }
    CNoMedia handler;
    CPlayList list;
    list.SetHandler(&handler);
    try {
        list.LoadXml(text, "/media/lists");
    } catch (const CComException& e) {
        out += "failed: " + std::to_string(e.Error()) + "\n";
    } catch (const CException&) {
        out += "failed\n";
    }
    for (int i = 0; i < list.GetCount(); ++i) {
        REFERENCE_TIME start = 0, end = 0, listStart = 0, listEnd = 0;
        list.GetClipFileRange(i, start, end);
        list.GetClipListRange(i, listStart, listEnd);
        out += list.GetClipFile(i) + "|" + list.GetClipTitle(i) + "|" + list.GetClipAbstract(i) +
               "|" + std::to_string(start) + "|" + std::to_string(end) + "|" +
               std::to_string(listStart) + "|" + std::to_string(listEnd) + "\n";
    }
    CAsxReader::SetFoldWithStylesheet(false);
    return out + handler.m_opened;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string native = Reading(text, false);
    const std::string stylesheet = Reading(text, true);
    if (native != stylesheet) {
        std::fprintf(stderr, "readings differ\n--- native\n%s--- stylesheet\n%s", native.c_str(),
                     stylesheet.c_str());
        std::abort();
    }
    return 0;
}
