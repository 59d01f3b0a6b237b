#include <gtest/gtest.h>

#include "platform/dshow/Filters.h"
#include "platform/dshow/GstSupport.h"
#include "platform/dshow/MediaTypeCaps.h"

namespace {

GstCaps* Caps(const char* text) {
    vagst::EnsureInit();
    return gst_caps_from_string(text);
}

TEST(MediaTypeCaps, RawFormatsMapBothWays) {
    struct Case {
        const char* format;
        GUID subtype;
        WORD bits;
        DWORD compression;
        bool topDown;
    };
    const Case cases[] = {
        {"YUY2", MEDIASUBTYPE_YUY2, 16, MakeFourCC('Y', 'U', 'Y', '2'), false},
        {"BGR", MEDIASUBTYPE_RGB24, 24, BI_RGB, true},
        {"BGRx", MEDIASUBTYPE_RGB32, 32, BI_RGB, true},
        {"BGRA", MEDIASUBTYPE_ARGB32, 32, BI_RGB, true},
        {"RGB15", MEDIASUBTYPE_RGB555, 16, BI_RGB, true},
        {"RGB16", MEDIASUBTYPE_RGB565, 16, BI_BITFIELDS, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        std::string text = std::string("video/x-raw,format=") + c.format +
                           ",width=322,height=240,framerate=25/1,pixel-aspect-ratio=1/1";
        GstCaps* caps = Caps(text.c_str());
        CMediaType mt;
        ASSERT_TRUE(vagst::MediaTypeFromCaps(caps, mt));
        EXPECT_EQ(MEDIATYPE_Video, mt.majortype);
        EXPECT_EQ(c.subtype, mt.subtype);
        ASSERT_EQ(FORMAT_VideoInfo, mt.formattype);
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format());
        EXPECT_EQ(c.bits, vih->bmiHeader.biBitCount);
        EXPECT_EQ(c.compression, vih->bmiHeader.biCompression);
        EXPECT_EQ(322, vih->bmiHeader.biWidth);
        EXPECT_EQ(c.topDown ? -240 : 240, vih->bmiHeader.biHeight);
        EXPECT_EQ(400000, vih->AvgTimePerFrame);
        EXPECT_EQ((RECT{0, 0, 322, 240}), vih->rcSource);
        EXPECT_EQ((RECT{0, 0, 322, 240}), vih->rcTarget);
        if (c.topDown) {  // RGB rows are padded to four bytes
            DWORD stride = (322 * c.bits / 8 + 3) & ~3u;
            EXPECT_EQ(stride * 240, vih->bmiHeader.biSizeImage);
        }
        if (c.compression == BI_BITFIELDS) {
            ASSERT_EQ(sizeof(VIDEOINFOHEADER) + 12, mt.FormatLength());
            const DWORD* masks =
                reinterpret_cast<const DWORD*>(mt.Format() + sizeof(VIDEOINFOHEADER));
            EXPECT_EQ(0xF800u, masks[0]);
        }
        GstCaps* back = vagst::CapsFromMediaType(mt);
        ASSERT_TRUE(back);
        EXPECT_TRUE(gst_caps_is_equal(caps, back)) << gst_caps_to_string(back);
        gst_caps_unref(back);
        gst_caps_unref(caps);
    }
}

TEST(MediaTypeCaps, InterlacedAndAnamorphicUseVideoInfo2) {
    GstCaps* caps = Caps(
        "video/x-raw,format=YUY2,width=720,height=576,framerate=25/1,pixel-aspect-ratio=64/45,"
        "interlace-mode=interleaved,field-order=top-field-first");
    CMediaType mt;
    ASSERT_TRUE(vagst::MediaTypeFromCaps(caps, mt));
    ASSERT_EQ(FORMAT_VideoInfo2, mt.formattype);
    auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.Format());
    EXPECT_TRUE(vih->dwInterlaceFlags & AMINTERLACE_IsInterlaced);
    EXPECT_TRUE(vih->dwInterlaceFlags & AMINTERLACE_Field1First);
    EXPECT_EQ(16u, vih->dwPictAspectRatioX);
    EXPECT_EQ(9u, vih->dwPictAspectRatioY);
    EXPECT_EQ(576, vih->bmiHeader.biHeight);
    GstCaps* back = vagst::CapsFromMediaType(mt);
    EXPECT_TRUE(gst_caps_is_equal(caps, back)) << gst_caps_to_string(back);
    gst_caps_unref(back);
    gst_caps_unref(caps);

    // Bottom field first and progressive with square pixels.
    caps = Caps(
        "video/x-raw,format=YUY2,width=720,height=480,framerate=30000/1001,"
        "interlace-mode=interleaved,field-order=bottom-field-first");
    ASSERT_TRUE(vagst::MediaTypeFromCaps(caps, mt));
    vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.Format());
    EXPECT_FALSE(vih->dwInterlaceFlags & AMINTERLACE_Field1First);
    EXPECT_EQ(333666, vih->AvgTimePerFrame);  // 1001/30000 s, truncated
    EXPECT_EQ(3u, vih->dwPictAspectRatioX);
    EXPECT_EQ(2u, vih->dwPictAspectRatioY);
    gst_caps_unref(caps);
}

TEST(MediaTypeCaps, PartialAndOtherTypes) {
    CMediaType mt;
    GstCaps* caps = Caps("video/x-raw,format={ I420, YUY2 }");
    ASSERT_TRUE(vagst::MediaTypeFromCaps(caps, mt));
    EXPECT_EQ(MEDIATYPE_Video, mt.majortype);
    EXPECT_EQ(FORMAT_None, mt.formattype);
    gst_caps_unref(caps);
    caps = Caps("audio/x-raw,format=S16LE,rate=48000,channels=2,layout=interleaved");
    ASSERT_TRUE(vagst::MediaTypeFromCaps(caps, mt));
    EXPECT_EQ(MEDIATYPE_Audio, mt.majortype);
    EXPECT_EQ(MEDIASUBTYPE_PCM, mt.subtype);
    ASSERT_EQ(FORMAT_WaveFormatEx, mt.formattype);
    auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.Format());
    EXPECT_EQ(2, wfx->nChannels);
    EXPECT_EQ(48000u, wfx->nSamplesPerSec);
    EXPECT_EQ(4, wfx->nBlockAlign);
    GstCaps* back = vagst::CapsFromMediaType(mt);
    EXPECT_TRUE(gst_caps_is_equal(caps, back)) << gst_caps_to_string(back);
    gst_caps_unref(back);
    gst_caps_unref(caps);
    caps = Caps("video/x-vp8,width=320,height=240");
    ASSERT_TRUE(vagst::MediaTypeFromCaps(caps, mt));
    EXPECT_EQ(MEDIATYPE_Video, mt.majortype);
    EXPECT_EQ(GUID_NULL, mt.subtype);
    gst_caps_unref(caps);
    caps = Caps("application/x-matroska");
    ASSERT_TRUE(vagst::MediaTypeFromCaps(caps, mt));
    EXPECT_EQ(MEDIATYPE_Stream, mt.majortype);
    gst_caps_unref(caps);
    caps = gst_caps_new_any();
    EXPECT_FALSE(vagst::MediaTypeFromCaps(caps, mt));
    gst_caps_unref(caps);
    // A type without caps: an unknown subtype.
    CMediaType odd;
    odd.SetType(MEDIATYPE_Video);
    odd.SetSubtype(MakeGuid("12345678-0000-0010-8000-00AA00389B71"));
    EXPECT_EQ(nullptr, vagst::CapsFromMediaType(odd));
}

TEST(MediaTypeCaps, HeapCopiesOwnTheirFormat) {
    CMediaType mt;
    mt.SetType(MEDIATYPE_Video);
    mt.SetFormatType(FORMAT_VideoInfo);
    mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER))[0] = 7;
    AM_MEDIA_TYPE* copy = CreateMediaType(&mt);
    ASSERT_TRUE(copy);
    EXPECT_NE(mt.pbFormat, copy->pbFormat);
    EXPECT_EQ(7, copy->pbFormat[0]);
    EXPECT_EQ(sizeof(VIDEOINFOHEADER), copy->cbFormat);
    DeleteMediaType(copy);
    DeleteMediaType(nullptr);
    AM_MEDIA_TYPE plain;
    EXPECT_EQ(S_OK, CopyMediaType(&plain, &mt));
    FreeMediaType(plain);
    EXPECT_EQ(nullptr, plain.pbFormat);
    EXPECT_EQ(0u, plain.cbFormat);
}

TEST(GstErrors, ErrorsMapToDistinctResults) {
    vagst::EnsureInit();
    auto map = [](GQuark domain, int code, bool end = false) {
        GError* e = g_error_new_literal(domain, code, "x");
        HRESULT hr = vagst::HResultFromError(e, end);
        g_error_free(e);
        return hr;
    };
    EXPECT_EQ(VFW_E_NOT_FOUND, map(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND));
    EXPECT_EQ(E_ACCESSDENIED, map(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ));
    EXPECT_EQ(VFW_E_UNKNOWN_FILE_TYPE, map(GST_STREAM_ERROR, GST_STREAM_ERROR_TYPE_NOT_FOUND));
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, map(GST_STREAM_ERROR, GST_STREAM_ERROR_DEMUX));
    EXPECT_EQ(VFW_E_FILE_TOO_SHORT, map(GST_STREAM_ERROR, GST_STREAM_ERROR_DEMUX, true));
    EXPECT_EQ(VFW_E_NO_DECOMPRESSOR, map(GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN));
    EXPECT_EQ(E_FAIL, vagst::HResultFromError(nullptr, false));
}

}  // namespace

#include "platform/com/ErrorText.h"

namespace {

// Every result the graph hands out reads as a sentence in both languages.
TEST(GstErrors, GraphResultsHaveTexts) {
    for (HRESULT hr : {VFW_E_NOT_FOUND,
                       E_ACCESSDENIED,
                       VFW_E_UNKNOWN_FILE_TYPE,
                       VFW_E_FILE_TOO_SHORT,
                       VFW_E_NO_DECOMPRESSOR,
                       VFW_E_UNSUPPORTED_AUDIO,
                       VFW_E_INVALID_FILE_FORMAT,
                       VFW_E_TIMEOUT,
                       VFW_E_CANNOT_RENDER,
                       VFW_E_CANNOT_CONNECT,
                       VFW_E_TYPE_NOT_ACCEPTED,
                       INET_E_INVALID_URL,
                       NS_E_PROTOCOL_NOT_SUPPORTED,
                       VFW_E_CANNOT_LOAD_SOURCE_FILTER,
                       VFW_E_NOT_STOPPED,
                       VFW_E_NOT_IN_GRAPH,
                       VFW_E_RUNTIME_ERROR,
                       VFW_E_NO_ACCEPTABLE_TYPES,
                       VFW_E_WRONG_STATE,
                       VFW_E_NOT_CONNECTED,
                       VFW_E_ALREADY_CONNECTED,
                       VFW_E_INVALID_DIRECTION,
                       VFW_E_NO_AUDIO_HARDWARE,
                       VFW_E_UNSUPPORTED_STREAM,
                       VFW_S_DUPLICATE_NAME,
                       VFW_S_PARTIAL_RENDER,
                       VFW_S_AUDIO_NOT_RENDERED,
                       VFW_S_VIDEO_NOT_RENDERED,
                       VFW_S_STATE_INTERMEDIATE}) {
        for (LANGID language : {LANGID(0x0409), LANGID(0x0407)}) {
            std::string text = AMGetErrorText(hr, language);
            if (text.empty())
                text = FormatSystemMessage(hr, language);
            EXPECT_FALSE(text.empty()) << std::hex << hr << " " << language;
        }
    }
}

}  // namespace
