// Opening a media source: network and Windows Media names are tried
// through the network reader first; everything else, and every name the
// reader cannot take, is rendered by the graph builder.
#include "playback/PlayCtx.h"
#include "support/Exception.h"
#include "support/Strings.h"

namespace {

constexpr char kReaderFilterName[] = "WM ASF Reader";

// A URL with a scheme for the reader: longer than 8 characters with "://"
// somewhere after the first character.
bool LooksLikeSchemeUrl(const std::string& name) {
    if (name.size() <= 8)
        return false;
    size_t pos = name.find("://");
    return pos != std::string::npos && pos > 0;
}

}  // namespace

bool CPlayCtx::UsesNetworkReader(const std::string& name) {
    if (!LooksLikeSchemeUrl(name))
        return false;
    if (va::EqualsNoCase(name.substr(0, 6), "mms://"))
        return true;
    std::string tail = va::ToLowerAscii(name.substr(name.size() - 4));
    return tail == ".wmv" || tail == ".asf" || tail == ".wma";
}

void CPlayCtx::RenderMediaSource(const std::string& name) {
    if (UsesNetworkReader(name) && RenderThroughReader(name))
        return;
    m_graph->RenderFile(name);
    m_graph->CheckAudioClock();
}

bool CPlayCtx::RenderThroughReader(const std::string& name) {
    CComPtr<IBaseFilter> reader;
    try {
        CheckHResult(reader.CreateInstance(CLSID_WMAsfReader, nullptr, CLSCTX_INPROC_SERVER));
        m_graph->AddFilter(reader, kReaderFilterName);
        CComPtr<IFileSourceFilter> source(reader.Get());
        if (!source)
            ThrowHResult(E_NOINTERFACE);
        CheckHResult(source->Load(name.c_str(), nullptr));
        m_graph->RenderOutputPins(reader);
        void* control = nullptr;
        HRESULT hr = reader->QueryInterface(IWMReaderAdvanced2::iid, &control);
        if (SUCCEEDED(hr))
            m_readerControl.Attach(static_cast<IWMReaderAdvanced2*>(control));
        else if (hr != E_NOINTERFACE)
            ThrowHResult(hr);
        return true;
    } catch (const CException&) {
        // The reader could not take the name: render it the plain way.
        if (reader) {
            try {
                m_graph->RemoveFilter(reader);
            } catch (const CException&) {
            }
        }
        return false;
    }
}
