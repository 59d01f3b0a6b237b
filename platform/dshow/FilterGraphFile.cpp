#include "platform/dshow/FilterGraph.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/dshow/FilterGraphInternal.h"

using namespace vagraph;

namespace {

constexpr size_t kMaxGraphFileSize = 1 << 20;

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Saved graphs are untrusted: only elements that read, split, parse, decode,
// convert or filter may be loaded from them; nothing that renders, writes,
// encodes, multiplexes or talks to the network.
bool AllowedInGraphFile(GstElement* element) {
    std::string factory = Lower(vagst::FactoryName(element));
    if (factory.empty())
        return false;  // plain bins and the like
    std::string klass = Lower(vagst::FactoryKlass(element));
    std::vector<std::string> tokens;
    size_t start = 0;
    while (start <= klass.size()) {
        size_t end = klass.find('/', start);
        if (end == std::string::npos)
            end = klass.size();
        tokens.push_back(klass.substr(start, end - start));
        start = end + 1;
    }
    auto has = [&](const char* t) {
        return std::find(tokens.begin(), tokens.end(), t) != tokens.end();
    };
    for (const char* denied :
         {"sink", "muxer", "encoder", "network", "device", "payloader", "server"})
        if (has(denied))
            return false;
    for (const char* denied : {"sink", "server", "fdsrc", "shm", "appsrc", "tcp", "udp", "rtsp"})
        if (factory.find(denied) != std::string::npos)
            return false;
    bool allowed = false;
    for (const char* ok : {"source", "demuxer", "parser", "decoder", "converter", "filter"})
        if (has(ok))
            allowed = true;
    // Plumbing that only passes data on.
    for (const char* ok : {"queue", "capsfilter", "typefind", "multiqueue"})
        if (factory == ok)
            allowed = true;
    if (!allowed)
        return false;
    // Only sources may name a location, and they only read it.
    if (!has("source") &&
        g_object_class_find_property(G_OBJECT_GET_CLASS(element), "location") != nullptr)
        return false;
    return true;
}

}  // namespace

// --- graph files ---

HRESULT CFilterGraph::IsDirty() {
    return S_FALSE;
}
HRESULT CFilterGraph::Save(IStream*, BOOL) {
    return E_NOTIMPL;
}
HRESULT CFilterGraph::GetSizeMax(uint64_t*) {
    return E_NOTIMPL;
}

HRESULT CFilterGraph::Load(IStream* pStm) {
    if (!pStm)
        return E_POINTER;
    std::string text;
    char buffer[4096];
    for (;;) {
        ULONG got = 0;
        HRESULT hr = pStm->Read(buffer, sizeof(buffer), &got);
        if (FAILED(hr))
            return hr;
        text.append(buffer, got);
        if (text.size() > kMaxGraphFileSize)
            return VFW_E_INVALID_FILE_FORMAT;
        if (got < sizeof(buffer))
            break;
    }
    static const unsigned char kCompoundFile[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (text.size() >= 8 && std::memcmp(text.data(), kCompoundFile, 8) == 0)
        return VFW_E_INVALID_FILE_FORMAT;  // a Windows structured-storage graph
    if (text.find('\0') != std::string::npos || !g_utf8_validate(text.c_str(), -1, nullptr))
        return VFW_E_INVALID_FILE_FORMAT;
    // Lines starting with '#' are comments.
    std::string description;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line[first] != '#')
            description += line + " ";
        pos = end + 1;
    }
    if (description.find_first_not_of(" \t\r\n") == std::string::npos)
        return VFW_E_INVALID_FILE_FORMAT;

    HRESULT hr = BeginBuild();
    if (FAILED(hr))
        return hr;
    auto endBuild = [this] {
        std::lock_guard guard(m_build.lock);
        m_build.active = false;
    };
    GError* error = nullptr;
    GstElement* parsed = gst_parse_launch_full(
        description.c_str(), nullptr,
        GstParseFlags(GST_PARSE_FLAG_FATAL_ERRORS | GST_PARSE_FLAG_NO_SINGLE_ELEMENT_BINS |
                      GST_PARSE_FLAG_PLACE_IN_BIN),
        &error);
    if (error)
        g_error_free(error);
    if (!parsed) {
        endBuild();
        return VFW_E_INVALID_FILE_FORMAT;
    }
    gst_object_ref_sink(parsed);
    // Every element, nested ones included, must be of an allowed kind.
    bool allowed = GST_IS_BIN(parsed);
    if (allowed) {
        GstIterator* it = gst_bin_iterate_recurse(GST_BIN(parsed));
        GValue item = G_VALUE_INIT;
        bool done = false;
        while (!done && allowed) {
            switch (gst_iterator_next(it, &item)) {
                case GST_ITERATOR_OK:
                    if (!AllowedInGraphFile(GST_ELEMENT(g_value_get_object(&item))))
                        allowed = false;
                    g_value_reset(&item);
                    break;
                case GST_ITERATOR_RESYNC:
                    gst_iterator_resync(it);
                    break;
                default:
                    done = true;
                    break;
            }
        }
        g_value_unset(&item);
        gst_iterator_free(it);
    }
    if (!allowed) {
        gst_object_unref(parsed);
        endBuild();
        return E_ACCESSDENIED;
    }
    // Move the elements into the graph, keeping their links.
    struct CLink {
        GstElement* src;
        std::string srcPad;
        GstElement* sink;
        std::string sinkPad;
    };
    std::vector<GstElement*> elements;
    std::vector<CLink> links;
    GST_OBJECT_LOCK(parsed);
    for (GList* l = GST_BIN_CHILDREN(parsed); l; l = l->next)
        elements.push_back(GST_ELEMENT(gst_object_ref(l->data)));
    GST_OBJECT_UNLOCK(parsed);
    std::reverse(elements.begin(), elements.end());  // the order they were written in
    for (GstElement* e : elements) {
        auto pads = PadsOf(e, GST_PAD_SRC);
        for (GstPad* p : pads) {
            GstPad* peer = gst_pad_get_peer(p);
            if (!peer)
                continue;
            GstElement* sink = gst_pad_get_parent_element(peer);
            if (sink) {
                links.push_back({e, GST_OBJECT_NAME(p), sink, GST_OBJECT_NAME(peer)});
                gst_object_unref(sink);
            }
            gst_object_unref(peer);
        }
        UnrefPads(pads);
    }
    auto before = Filters();
    for (GstElement* e : elements)
        gst_bin_remove(GST_BIN(parsed), e);
    gst_object_unref(parsed);
    bool ok = true;
    for (GstElement* e : elements) {
        CLSID clsid = std::string(vagst::FactoryKlass(e)).find("Source") != std::string::npos
                          ? CLSID_AsyncReader
                          : CLSID_VaGstElement;
        CComPtr<IBaseFilter> filter = AdoptFilter(
            CComPtr<IBaseFilter>(static_cast<IBaseFilter*>(new CElementFilter(e, clsid))),
            GST_OBJECT_NAME(e));
        gst_object_unref(e);
        if (!filter)
            ok = false;
    }
    for (auto& link : links)
        if (!gst_element_link_pads(link.src, link.srcPad.c_str(), link.sink, link.sinkPad.c_str()))
            ok = false;
    if (!ok) {
        endBuild();
        RemoveFiltersNotIn(before);
        return VFW_E_CANNOT_CONNECT;
    }
    // Render what is left open: free outputs now, dynamic ones when they appear.
    for (auto& f : Filters()) {
        bool isNew = std::none_of(before.begin(), before.end(), [&](const CComPtr<IBaseFilter>& b) {
            return b.Get() == f.Get();
        });
        if (!isNew)
            continue;
        GstElement* e = CoreOf(f)->Element();
        if (HasSometimesSrcPads(e))
            WatchDynamicPads(e);
        auto pads = PadsOf(e, GST_PAD_SRC);
        for (GstPad* p : pads)
            if (!gst_pad_is_linked(p))
                RenderPad(p);
        UnrefPads(pads);
    }
    return FinishBuild(before);
}
