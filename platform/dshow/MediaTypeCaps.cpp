#include "platform/dshow/MediaTypeCaps.h"

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <numeric>

namespace vagst {
namespace {

struct CFormatMap {
    GstVideoFormat format;
    const GUID* subtype;
    DWORD compression;  // BI_RGB, BI_BITFIELDS or a FOURCC
    WORD bits;
};

const CFormatMap kFormats[] = {
    {GST_VIDEO_FORMAT_YUY2, &MEDIASUBTYPE_YUY2, MakeFourCC('Y', 'U', 'Y', '2'), 16},
    {GST_VIDEO_FORMAT_UYVY, &MEDIASUBTYPE_UYVY, MakeFourCC('U', 'Y', 'V', 'Y'), 16},
    {GST_VIDEO_FORMAT_BGR, &MEDIASUBTYPE_RGB24, BI_RGB, 24},
    {GST_VIDEO_FORMAT_BGRx, &MEDIASUBTYPE_RGB32, BI_RGB, 32},
    {GST_VIDEO_FORMAT_BGRA, &MEDIASUBTYPE_ARGB32, BI_RGB, 32},
    {GST_VIDEO_FORMAT_RGB15, &MEDIASUBTYPE_RGB555, BI_RGB, 16},
    {GST_VIDEO_FORMAT_RGB16, &MEDIASUBTYPE_RGB565, BI_BITFIELDS, 16},
    {GST_VIDEO_FORMAT_I420, &MEDIASUBTYPE_I420, MakeFourCC('I', '4', '2', '0'), 12},
    {GST_VIDEO_FORMAT_YV12, &MEDIASUBTYPE_YV12, MakeFourCC('Y', 'V', '1', '2'), 12},
    {GST_VIDEO_FORMAT_NV12, &MEDIASUBTYPE_NV12, MakeFourCC('N', 'V', '1', '2'), 12},
};

const CFormatMap* FindFormat(GstVideoFormat format) {
    for (const auto& f : kFormats)
        if (f.format == format)
            return &f;
    return nullptr;
}

const CFormatMap* FindSubtype(const GUID& subtype) {
    for (const auto& f : kFormats)
        if (*f.subtype == subtype)
            return &f;
    return nullptr;
}

bool IsRgb(const CFormatMap& f) {
    return f.compression == BI_RGB || f.compression == BI_BITFIELDS;
}

bool VideoFromCaps(const GstCaps* caps, CMediaType& mt) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps))
        return false;
    const CFormatMap* f = FindFormat(GST_VIDEO_INFO_FORMAT(&info));
    if (!f)
        return false;
    int width = GST_VIDEO_INFO_WIDTH(&info);
    int height = GST_VIDEO_INFO_HEIGHT(&info);
    bool interlaced = GST_VIDEO_INFO_IS_INTERLACED(&info);
    int parN = GST_VIDEO_INFO_PAR_N(&info), parD = GST_VIDEO_INFO_PAR_D(&info);
    if (parN <= 0 || parD <= 0)
        parN = parD = 1;

    BITMAPINFOHEADER bmi;
    bmi.biWidth = width;
    // RGB frames lie top-down in memory, which a DIB tells by a negative height.
    bmi.biHeight = IsRgb(*f) ? -height : height;
    bmi.biBitCount = f->bits;
    bmi.biCompression = f->compression;
    LONG stride = IsRgb(*f) ? ((width * f->bits / 8 + 3) & ~3) : width * f->bits / 8;
    bmi.biSizeImage = IsRgb(*f) || f->bits == 16 ? DWORD(stride) * DWORD(height)
                                                 : DWORD(width) * DWORD(height) * 3 / 2;
    RECT full{0, 0, width, height};
    REFERENCE_TIME avg = 0;
    if (GST_VIDEO_INFO_FPS_N(&info) > 0 && GST_VIDEO_INFO_FPS_D(&info) > 0)
        avg = gst_util_uint64_scale(10'000'000, GST_VIDEO_INFO_FPS_D(&info),
                                    GST_VIDEO_INFO_FPS_N(&info));
    DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
    ULONG extra = f->compression == BI_BITFIELDS ? sizeof(masks) : 0;

    mt.SetType(MEDIATYPE_Video);
    mt.SetSubtype(*f->subtype);
    mt.bFixedSizeSamples = 1;
    mt.bTemporalCompression = 0;
    mt.lSampleSize = bmi.biSizeImage;
    if (!interlaced && parN == parD) {
        VIDEOINFOHEADER vih;
        vih.rcSource = full;
        vih.rcTarget = full;
        vih.AvgTimePerFrame = avg;
        vih.bmiHeader = bmi;
        mt.SetFormatType(FORMAT_VideoInfo);
        BYTE* p = mt.AllocFormatBuffer(sizeof(vih) + extra);
        std::memcpy(p, &vih, sizeof(vih));
        if (extra)
            std::memcpy(p + sizeof(vih), masks, extra);
    } else {
        VIDEOINFOHEADER2 vih;
        vih.rcSource = full;
        vih.rcTarget = full;
        vih.AvgTimePerFrame = avg;
        vih.bmiHeader = bmi;
        if (interlaced) {
            vih.dwInterlaceFlags = AMINTERLACE_IsInterlaced | AMINTERLACE_FieldPatBothRegular |
                                   AMINTERLACE_DisplayModeBobOrWeave;
            if (GST_VIDEO_INFO_FIELD_ORDER(&info) != GST_VIDEO_FIELD_ORDER_BOTTOM_FIELD_FIRST)
                vih.dwInterlaceFlags |= AMINTERLACE_Field1First;
        }
        uint64_t ax = uint64_t(width) * parN, ay = uint64_t(height) * parD;
        uint64_t g = std::gcd(ax, ay);
        if (g == 0)
            g = 1;
        vih.dwPictAspectRatioX = DWORD(ax / g);
        vih.dwPictAspectRatioY = DWORD(ay / g);
        mt.SetFormatType(FORMAT_VideoInfo2);
        BYTE* p = mt.AllocFormatBuffer(sizeof(vih) + extra);
        std::memcpy(p, &vih, sizeof(vih));
        if (extra)
            std::memcpy(p + sizeof(vih), masks, extra);
    }
    return true;
}

bool AudioFromCaps(const GstCaps* caps, CMediaType& mt) {
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps))
        return false;
    WAVEFORMATEX wfx;
    bool isFloat = GST_AUDIO_INFO_IS_FLOAT(&info);
    wfx.wFormatTag = isFloat ? 3 : 1;
    wfx.nChannels = WORD(GST_AUDIO_INFO_CHANNELS(&info));
    wfx.nSamplesPerSec = DWORD(GST_AUDIO_INFO_RATE(&info));
    wfx.wBitsPerSample = WORD(GST_AUDIO_INFO_WIDTH(&info));
    wfx.nBlockAlign = WORD(GST_AUDIO_INFO_BPF(&info));
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    mt.SetType(MEDIATYPE_Audio);
    mt.SetSubtype(isFloat ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM);
    mt.bFixedSizeSamples = 1;
    mt.lSampleSize = wfx.nBlockAlign;
    mt.SetFormatType(FORMAT_WaveFormatEx);
    mt.SetFormat(&wfx, sizeof(wfx));
    return true;
}

}  // namespace

GUID FourCCSubtype(DWORD fourcc) {
    GUID g = MakeGuid("00000000-0000-0010-8000-00AA00389B71");
    g.Data1 = fourcc;
    return g;
}

bool MediaTypeFromCaps(const GstCaps* caps, CMediaType& mt) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps))
        return false;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const char* name = gst_structure_get_name(s);
    mt.ResetFormatBuffer();
    mt.SetSubtype(GUID_NULL);
    mt.SetFormatType(FORMAT_None);
    mt.bFixedSizeSamples = 0;
    mt.bTemporalCompression = 1;
    mt.lSampleSize = 0;
    if (g_str_equal(name, "video/x-raw")) {
        if (gst_caps_is_fixed(caps) && VideoFromCaps(caps, mt))
            return true;
        mt.SetType(MEDIATYPE_Video);
        const char* format = gst_structure_get_string(s, "format");
        if (format) {
            if (const CFormatMap* f = FindFormat(gst_video_format_from_string(format)))
                mt.SetSubtype(*f->subtype);
        }
        return true;
    }
    if (g_str_equal(name, "audio/x-raw")) {
        if (gst_caps_is_fixed(caps) && AudioFromCaps(caps, mt))
            return true;
        mt.SetType(MEDIATYPE_Audio);
        return true;
    }
    if (g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/")) {
        mt.SetType(MEDIATYPE_Video);
        return true;
    }
    if (g_str_has_prefix(name, "audio/")) {
        mt.SetType(MEDIATYPE_Audio);
        return true;
    }
    mt.SetType(MEDIATYPE_Stream);
    return true;
}

GstCaps* CapsFromMediaType(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype == MEDIATYPE_Video) {
        if (mt.subtype == GUID_NULL)
            return gst_caps_new_empty_simple("video/x-raw");
        const CFormatMap* f = FindSubtype(mt.subtype);
        if (!f)
            return nullptr;
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                            gst_video_format_to_string(f->format), nullptr);
        const BITMAPINFOHEADER* bmi = nullptr;
        REFERENCE_TIME avg = 0;
        const VIDEOINFOHEADER2* vih2 = nullptr;
        if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat &&
            mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
            auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
            bmi = &vih->bmiHeader;
            avg = vih->AvgTimePerFrame;
        } else if (mt.formattype == FORMAT_VideoInfo2 && mt.pbFormat &&
                   mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
            vih2 = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
            bmi = &vih2->bmiHeader;
            avg = vih2->AvgTimePerFrame;
        }
        if (bmi && bmi->biWidth > 0 && bmi->biHeight != 0) {
            LONG height = bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight;
            gst_caps_set_simple(caps, "width", G_TYPE_INT, int(bmi->biWidth), "height", G_TYPE_INT,
                                int(height), nullptr);
            if (avg > 0) {
                int n = 0, d = 0;
                gst_util_double_to_fraction(10'000'000.0 / double(avg), &n, &d);
                gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, n, d, nullptr);
            }
            if (vih2) {
                // Frames shown only as whole frames (weave) are progressive here.
                bool interlaced = (vih2->dwInterlaceFlags & AMINTERLACE_IsInterlaced) &&
                                  (vih2->dwInterlaceFlags & AMINTERLACE_DisplayModeMask) !=
                                      AMINTERLACE_DisplayModeWeaveOnly;
                gst_caps_set_simple(caps, "interlace-mode", G_TYPE_STRING,
                                    interlaced ? "interleaved" : "progressive", nullptr);
                if (interlaced)
                    gst_caps_set_simple(caps, "field-order", G_TYPE_STRING,
                                        (vih2->dwInterlaceFlags & AMINTERLACE_Field1First)
                                            ? "top-field-first"
                                            : "bottom-field-first",
                                        nullptr);
                if (vih2->dwPictAspectRatioX && vih2->dwPictAspectRatioY) {
                    // pixel aspect = picture aspect * height / width
                    uint64_t n = uint64_t(vih2->dwPictAspectRatioX) * height;
                    uint64_t d = uint64_t(vih2->dwPictAspectRatioY) * bmi->biWidth;
                    uint64_t g = std::gcd(n, d);
                    if (g) {
                        n /= g;
                        d /= g;
                    }
                    if (n <= G_MAXINT && d <= G_MAXINT)
                        gst_caps_set_simple(caps, "pixel-aspect-ratio", GST_TYPE_FRACTION, int(n),
                                            int(d), nullptr);
                }
            } else {
                gst_caps_set_simple(caps, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
            }
        }
        return caps;
    }
    if (mt.majortype == MEDIATYPE_Audio) {
        GstCaps* caps = gst_caps_new_empty_simple("audio/x-raw");
        if (mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat &&
            mt.cbFormat >= sizeof(WAVEFORMATEX)) {
            auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
            GstAudioFormat format = gst_audio_format_build_integer(
                wfx->wBitsPerSample > 8, G_LITTLE_ENDIAN, wfx->wBitsPerSample, wfx->wBitsPerSample);
            if (wfx->wFormatTag == 3)
                format =
                    wfx->wBitsPerSample == 64 ? GST_AUDIO_FORMAT_F64LE : GST_AUDIO_FORMAT_F32LE;
            gst_caps_set_simple(caps, "format", G_TYPE_STRING, gst_audio_format_to_string(format),
                                "rate", G_TYPE_INT, int(wfx->nSamplesPerSec), "channels",
                                G_TYPE_INT, int(wfx->nChannels), "layout", G_TYPE_STRING,
                                "interleaved", nullptr);
        }
        return caps;
    }
    if (mt.majortype == GUID_NULL)
        return gst_caps_new_any();
    return nullptr;
}

}  // namespace vagst
