#include "platform/dshow/GstSupport.h"

#include <mutex>

namespace vagst {

void EnsureInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!gst_is_initialized())
            gst_init(nullptr, nullptr);
    });
}

HRESULT HResultFromError(const GError* error, bool sourceReachedEnd) {
    if (!error)
        return E_FAIL;
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
            case GST_RESOURCE_ERROR_NOT_FOUND:
                return VFW_E_NOT_FOUND;
            case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            case GST_RESOURCE_ERROR_OPEN_READ:
            case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
            case GST_RESOURCE_ERROR_READ:
                return E_ACCESSDENIED;
            case GST_RESOURCE_ERROR_BUSY:
            case GST_RESOURCE_ERROR_OPEN_WRITE:
            case GST_RESOURCE_ERROR_WRITE:
                return VFW_E_NO_AUDIO_HARDWARE;
            case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
                return E_OUTOFMEMORY;
            default:
                return E_FAIL;
        }
    }
    if (error->domain == GST_STREAM_ERROR) {
        switch (error->code) {
            case GST_STREAM_ERROR_TYPE_NOT_FOUND:
            case GST_STREAM_ERROR_WRONG_TYPE:
                return VFW_E_UNKNOWN_FILE_TYPE;
            case GST_STREAM_ERROR_CODEC_NOT_FOUND:
                return VFW_E_NO_DECOMPRESSOR;
            case GST_STREAM_ERROR_NOT_IMPLEMENTED:
                return VFW_E_UNSUPPORTED_STREAM;
            case GST_STREAM_ERROR_DECRYPT:
            case GST_STREAM_ERROR_DECRYPT_NOKEY:
                return VFW_E_UNSUPPORTED_STREAM;
            case GST_STREAM_ERROR_FAILED:
            case GST_STREAM_ERROR_DEMUX:
            case GST_STREAM_ERROR_DECODE:
            case GST_STREAM_ERROR_FORMAT:
                return sourceReachedEnd ? VFW_E_FILE_TOO_SHORT : VFW_E_INVALID_FILE_FORMAT;
            default:
                return VFW_E_RUNTIME_ERROR;
        }
    }
    if (error->domain == GST_CORE_ERROR) {
        if (error->code == GST_CORE_ERROR_MISSING_PLUGIN)
            return VFW_E_NO_DECOMPRESSOR;
        if (error->code == GST_CORE_ERROR_NEGOTIATION)
            return VFW_E_NO_ACCEPTABLE_TYPES;
        return VFW_E_RUNTIME_ERROR;
    }
    if (error->domain == GST_LIBRARY_ERROR)
        return VFW_E_RUNTIME_ERROR;
    return E_FAIL;
}

std::string FactoryName(GstElement* element) {
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    if (!factory)
        return {};
    return gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
}

std::string FactoryKlass(GstElement* element) {
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    if (!factory)
        return {};
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass ? klass : "";
}

}  // namespace vagst
