#include "deinterlace/SubtypeNames.h"

#include "platform/dshow/MediaType.h"

namespace deint {

const char* SubtypeName(const GUID& subtype) {
    static const struct {
        const GUID* guid;
        const char* name;
    } kNames[] = {
        {&MEDIASUBTYPE_YUY2, "MEDIASUBTYPE_YUY2"},
        {&MEDIASUBTYPE_UYVY, "MEDIASUBTYPE_UYVY"},
        {&MEDIASUBTYPE_YV12, "MEDIASUBTYPE_YV12"},
        {&MEDIASUBTYPE_I420, "MEDIASUBTYPE_I420"},
        {&MEDIASUBTYPE_NV12, "MEDIASUBTYPE_NV12"},
        {&MEDIASUBTYPE_RGB565, "MEDIASUBTYPE_RGB565"},
        {&MEDIASUBTYPE_RGB555, "MEDIASUBTYPE_RGB555"},
        {&MEDIASUBTYPE_RGB24, "MEDIASUBTYPE_RGB24"},
        {&MEDIASUBTYPE_RGB32, "MEDIASUBTYPE_RGB32"},
        {&MEDIASUBTYPE_ARGB32, "MEDIASUBTYPE_ARGB32"},
        {&MEDIASUBTYPE_PCM, "MEDIASUBTYPE_PCM"},
        {&MEDIASUBTYPE_IEEE_FLOAT, "MEDIASUBTYPE_IEEE_FLOAT"},
    };
    for (const auto& entry : kNames)
        if (*entry.guid == subtype)
            return entry.name;
    return "Unknown GUID Name";
}

}  // namespace deint
