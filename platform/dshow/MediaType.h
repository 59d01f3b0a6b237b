#pragma once
// Media types as the filter graph describes them: AM_MEDIA_TYPE with the
// video formats VIDEOINFOHEADER and VIDEOINFOHEADER2 and their
// BITMAPINFOHEADER, the major, sub- and format-type GUIDs, and CMediaType,
// which owns its format block. Plain structures with the Windows layouts;
// this header depends on nothing but the COM basics, so the pixel
// algorithms can use it without the media framework.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

using REFERENCE_TIME = int64_t;
struct IUnknown;

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    friend bool operator==(const RECT&, const RECT&) = default;
};

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct BITMAPINFOHEADER {
    DWORD biSize = sizeof(BITMAPINFOHEADER);
    LONG biWidth = 0;
    LONG biHeight = 0;
    WORD biPlanes = 1;
    WORD biBitCount = 0;
    DWORD biCompression = 0;
    DWORD biSizeImage = 0;
    LONG biXPelsPerMeter = 0;
    LONG biYPelsPerMeter = 0;
    DWORD biClrUsed = 0;
    DWORD biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

constexpr DWORD MakeFourCC(char a, char b, char c, char d) {
    return DWORD(uint8_t(a)) | (DWORD(uint8_t(b)) << 8) | (DWORD(uint8_t(c)) << 16) |
           (DWORD(uint8_t(d)) << 24);
}

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate = 0;
    DWORD dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);
static_assert(sizeof(VIDEOINFOHEADER) == 88);

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate = 0;
    DWORD dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    DWORD dwInterlaceFlags = 0;
    DWORD dwCopyProtectFlags = 0;
    DWORD dwPictAspectRatioX = 0;
    DWORD dwPictAspectRatioY = 0;
    DWORD dwControlFlags = 0;
    DWORD dwReserved2 = 0;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72);
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

struct WAVEFORMATEX {
    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
};

// Interlace flags of VIDEOINFOHEADER2.
constexpr DWORD AMINTERLACE_IsInterlaced = 0x00000001;
constexpr DWORD AMINTERLACE_1FieldPerSample = 0x00000002;
constexpr DWORD AMINTERLACE_Field1First = 0x00000004;
constexpr DWORD AMINTERLACE_FieldPatternMask = 0x00000030;
constexpr DWORD AMINTERLACE_FieldPatField1Only = 0x00000000;
constexpr DWORD AMINTERLACE_FieldPatField2Only = 0x00000010;
constexpr DWORD AMINTERLACE_FieldPatBothRegular = 0x00000020;
constexpr DWORD AMINTERLACE_FieldPatBothIrregular = 0x00000030;
constexpr DWORD AMINTERLACE_DisplayModeMask = 0x000000C0;
constexpr DWORD AMINTERLACE_DisplayModeBobOnly = 0x00000000;
constexpr DWORD AMINTERLACE_DisplayModeWeaveOnly = 0x00000040;
constexpr DWORD AMINTERLACE_DisplayModeBobOrWeave = 0x00000080;

// Sample flags (IMediaSample2 properties).
constexpr DWORD AM_SAMPLE_SPLICEPOINT = 0x01;
constexpr DWORD AM_SAMPLE_PREROLL = 0x02;
constexpr DWORD AM_SAMPLE_DATADISCONTINUITY = 0x04;
constexpr DWORD AM_SAMPLE_TYPECHANGED = 0x08;
constexpr DWORD AM_SAMPLE_TIMEVALID = 0x10;
constexpr DWORD AM_SAMPLE_TIMEDISCONTINUITY = 0x40;
constexpr DWORD AM_SAMPLE_FLUSH_ON_PAUSE = 0x80;
constexpr DWORD AM_SAMPLE_STOPVALID = 0x100;
constexpr DWORD AM_SAMPLE_ENDOFSTREAM = 0x200;
// Video flags in the type-specific flags of a sample.
constexpr DWORD AM_VIDEO_FLAG_FIELD_MASK = 0x0003;
constexpr DWORD AM_VIDEO_FLAG_INTERLEAVED_FRAME = 0x0000;
constexpr DWORD AM_VIDEO_FLAG_FIELD1 = 0x0001;
constexpr DWORD AM_VIDEO_FLAG_FIELD2 = 0x0002;
constexpr DWORD AM_VIDEO_FLAG_FIELD1FIRST = 0x0004;
constexpr DWORD AM_VIDEO_FLAG_WEAVE = 0x0008;
constexpr DWORD AM_VIDEO_FLAG_REPEAT_FIELD = 0x0040;

// Major types.
inline constexpr GUID MEDIATYPE_Video = MakeGuid("73646976-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIATYPE_Audio = MakeGuid("73647561-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIATYPE_Stream = MakeGuid("E436EB83-524F-11CE-9F53-0020AF0BA770");
// Subtypes.
inline constexpr GUID MEDIASUBTYPE_YUY2 = MakeGuid("32595559-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_UYVY = MakeGuid("59565955-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_YV12 = MakeGuid("32315659-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_I420 = MakeGuid("30323449-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_NV12 = MakeGuid("3231564E-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_RGB565 = MakeGuid("E436EB7B-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB555 = MakeGuid("E436EB7C-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB24 = MakeGuid("E436EB7D-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB32 = MakeGuid("E436EB7E-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_ARGB32 = MakeGuid("773C9AC0-3274-11D0-B724-00AA006C1A01");
inline constexpr GUID MEDIASUBTYPE_PCM = MakeGuid("00000001-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIASUBTYPE_IEEE_FLOAT = MakeGuid("00000003-0000-0010-8000-00AA00389B71");
// Format types.
inline constexpr GUID FORMAT_None = MakeGuid("0F6417D6-C318-11D0-A43F-00A0C9223196");
inline constexpr GUID FORMAT_VideoInfo = MakeGuid("05589F80-C356-11CE-BF01-00AA0055595A");
inline constexpr GUID FORMAT_VideoInfo2 = MakeGuid("F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA");
inline constexpr GUID FORMAT_WaveFormatEx = MakeGuid("05589F81-C356-11CE-BF01-00AA0055595A");

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples = 1;
    BOOL bTemporalCompression = 0;
    ULONG lSampleSize = 0;
    GUID formattype;
    IUnknown* pUnk = nullptr;
    ULONG cbFormat = 0;
    BYTE* pbFormat = nullptr;
};

// An AM_MEDIA_TYPE that owns its format block; copies copy the block.
class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType() = default;
    CMediaType(const AM_MEDIA_TYPE& mt) { Assign(mt); }
    CMediaType(const CMediaType& mt) : AM_MEDIA_TYPE() { Assign(mt); }
    CMediaType& operator=(const AM_MEDIA_TYPE& mt) {
        if (this != &mt)
            Assign(mt);
        return *this;
    }
    CMediaType& operator=(const CMediaType& mt) {
        return *this = static_cast<const AM_MEDIA_TYPE&>(mt);
    }
    ~CMediaType() = default;

    const GUID* Type() const { return &majortype; }
    const GUID* Subtype() const { return &subtype; }
    const GUID* FormatType() const { return &formattype; }
    void SetType(const GUID& g) { majortype = g; }
    void SetSubtype(const GUID& g) { subtype = g; }
    void SetFormatType(const GUID& g) { formattype = g; }
    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }

    // Copies 'size' bytes into a new format block.
    void SetFormat(const void* data, ULONG size) {
        m_format.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
        Sync();
    }
    // A zeroed format block of 'size' bytes; returns it.
    BYTE* AllocFormatBuffer(ULONG size) {
        m_format.assign(size, 0);
        Sync();
        return pbFormat;
    }
    void ResetFormatBuffer() {
        m_format.clear();
        Sync();
    }

    // The video format's bitmap header, or null for another format.
    const BITMAPINFOHEADER* BitmapHeader() const {
        if (formattype == FORMAT_VideoInfo && cbFormat >= sizeof(VIDEOINFOHEADER))
            return &reinterpret_cast<const VIDEOINFOHEADER*>(pbFormat)->bmiHeader;
        if (formattype == FORMAT_VideoInfo2 && cbFormat >= sizeof(VIDEOINFOHEADER2))
            return &reinterpret_cast<const VIDEOINFOHEADER2*>(pbFormat)->bmiHeader;
        return nullptr;
    }

    friend bool operator==(const CMediaType& a, const CMediaType& b) {
        return a.majortype == b.majortype && a.subtype == b.subtype &&
               a.formattype == b.formattype && a.m_format == b.m_format;
    }

private:
    void Assign(const AM_MEDIA_TYPE& mt) {
        std::vector<BYTE> format;
        if (mt.pbFormat && mt.cbFormat)
            format.assign(mt.pbFormat, mt.pbFormat + mt.cbFormat);
        static_cast<AM_MEDIA_TYPE&>(*this) = mt;
        pUnk = nullptr;
        m_format = std::move(format);
        Sync();
    }
    void Sync() {
        cbFormat = static_cast<ULONG>(m_format.size());
        pbFormat = m_format.empty() ? nullptr : m_format.data();
    }
    // 8-byte aligned storage for the format structures.
    std::vector<BYTE> m_format;
};
