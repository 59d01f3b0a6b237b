#include "playback/VaNetworkReader.h"

#include <gst/gst.h>

#include <mutex>
#include <string>

#include "platform/com/ClassTable.h"
#include "platform/dshow/ElementFilter.h"
#include "platform/dshow/GstSupport.h"

namespace {

GstElement* NewReaderBin() {
    vagst::EnsureInit();
    return gst_bin_new(nullptr);
}

// The source element goes into a bin whose "src" pad appears once a name
// is loaded, so that the graph can render it like any other source.
class CVaNetworkReader
    : public CElementFilterT<CVaNetworkReader, IFileSourceFilter, IWMReaderAdvanced2> {
public:
    CVaNetworkReader() : CElementFilterT(NewReaderBin(), CLSID_WMAsfReader) {}

    HRESULT Load(const char* fileName, const AM_MEDIA_TYPE*) override {
        if (!fileName)
            return E_POINTER;
        if (m_source)
            return E_UNEXPECTED;
        if (!gst_uri_is_valid(fileName))
            return NS_E_INVALID_INPUT_FORMAT;
        std::string scheme;
        if (gchar* s = gst_uri_get_protocol(fileName)) {
            scheme = s;
            g_free(s);
        }
        if (scheme == "file") {
            gchar* path = g_filename_from_uri(fileName, nullptr, nullptr);
            bool exists = path && g_file_test(path, G_FILE_TEST_IS_REGULAR);
            g_free(path);
            if (!exists)
                return NS_E_FILE_NOT_FOUND;
        }
        GError* error = nullptr;
        GstElement* source = gst_element_make_from_uri(GST_URI_SRC, fileName, nullptr, &error);
        if (error)
            g_error_free(error);
        if (!source)
            return NS_E_PROTOCOL_NOT_SUPPORTED;
        GstElement* bin = Element();
        if (!gst_bin_add(GST_BIN(bin), source))
            return E_FAIL;
        GstPad* target = gst_element_get_static_pad(source, "src");
        if (!target) {
            // Sources whose pads come later cannot be handed on as one pin.
            gst_bin_remove(GST_BIN(bin), source);
            return NS_E_UNRECOGNIZED_STREAM_TYPE;
        }
        GstPad* ghost = gst_ghost_pad_new("src", target);
        gst_object_unref(target);
        gst_pad_set_active(ghost, TRUE);
        gst_element_add_pad(bin, ghost);
        gst_element_sync_state_with_parent(source);
        m_source = source;
        m_name = fileName;
        m_scheme = scheme;
        return S_OK;
    }

    HRESULT GetCurFile(std::string* fileName, AM_MEDIA_TYPE* pmt) override {
        if (!fileName)
            return E_POINTER;
        if (!m_source)
            return E_FAIL;
        *fileName = m_name;
        if (pmt)
            *pmt = AM_MEDIA_TYPE{};
        return S_OK;
    }

    HRESULT GetPlayMode(WMT_PLAY_MODE* mode) override {
        if (!mode)
            return E_POINTER;
        if (!m_source)
            return E_UNEXPECTED;
        if (m_scheme == "file") {
            *mode = WMT_PLAY_MODE_LOCAL;
            return S_OK;
        }
        if (m_scheme.rfind("mms", 0) == 0 || m_scheme.rfind("rtsp", 0) == 0) {
            *mode = WMT_PLAY_MODE_STREAMING;
            return S_OK;
        }
        // A source that cannot seek in its bytes is a live stream.
        GstQuery* query = gst_query_new_seeking(GST_FORMAT_BYTES);
        gboolean seekable = FALSE;
        if (gst_element_query(m_source, query))
            gst_query_parse_seeking(query, nullptr, &seekable, nullptr, nullptr);
        gst_query_unref(query);
        *mode = seekable ? WMT_PLAY_MODE_DOWNLOAD : WMT_PLAY_MODE_STREAMING;
        return S_OK;
    }

    HRESULT GetDownloadProgress(DWORD* percent, uint64_t* bytes, uint64_t* remaining) override {
        if (!percent || !bytes || !remaining)
            return E_POINTER;
        if (!m_source)
            return E_UNEXPECTED;
        GstQuery* query = gst_query_new_buffering(GST_FORMAT_BYTES);
        bool answered = gst_element_query(m_source, query);
        if (answered) {
            gboolean busy = FALSE;
            gint level = 100;
            gst_query_parse_buffering_percent(query, &busy, &level);
            gint64 left = 0;
            gst_query_parse_buffering_stats(query, nullptr, nullptr, nullptr, &left);
            gint64 start = 0;
            gint64 stop = 0;
            gst_query_parse_buffering_range(query, nullptr, &start, &stop, nullptr);
            *percent = DWORD(level < 0 ? 0 : level > 100 ? 100 : level);
            *bytes = stop > 0 ? uint64_t(stop) : 0;
            // Milliseconds left, as 100-ns units.
            *remaining = left > 0 ? uint64_t(left) * 10000 : 0;
        }
        gst_query_unref(query);
        return answered ? S_OK : E_NOTIMPL;
    }

private:
    GstElement* m_source = nullptr;  // owned by the bin
    std::string m_name;
    std::string m_scheme;
};

}  // namespace

bool RegisterNetworkReaderClass() {
    static std::once_flag once;
    std::call_once(
        once, [] { RegisterClassFactory(CLSID_WMAsfReader, &CreateAndQuery<CVaNetworkReader>); });
    return true;
}
