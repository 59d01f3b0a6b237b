#pragma once
// Media types to and from GStreamer caps. Raw video maps to VIDEOINFOHEADER
// (progressive, square pixels) or VIDEOINFOHEADER2 (interlaced or
// non-square pixels): YUY2<->YUY2, RGB24<->BGR, RGB32<->BGRx,
// ARGB32<->BGRA, RGB555<->RGB15, RGB565<->RGB16, and the common planar
// YUV formats by their FOURCC. RGB types are top-down in memory (negative
// biHeight), as GStreamer lays frames out. Raw audio maps to WAVEFORMATEX;
// anything else to its major type with a null subtype.
#include <gst/gst.h>

#include "platform/dshow/MediaType.h"

namespace vagst {

// Fills mt from fixed caps; false when the caps carry no usable type.
bool MediaTypeFromCaps(const GstCaps* caps, CMediaType& mt);

// Caps for a media type (a new reference); null when it has no caps.
// Fields the type leaves open (null subtype, no format) stay open.
GstCaps* CapsFromMediaType(const AM_MEDIA_TYPE& mt);

// The subtype GUID for a FOURCC.
GUID FourCCSubtype(DWORD fourcc);

}  // namespace vagst
