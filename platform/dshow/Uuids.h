#pragma once
// Class ids of the graph's objects: the ones the player creates through
// CoCreateInstance and the ones filters report from GetClassID.
#include "platform/com/Guid.h"
#include "platform/dshow/Clock.h"

// The filter graph manager (IGraphBuilder and the control interfaces).
inline constexpr CLSID CLSID_FilterGraph = MakeGuid("E436EBB3-524F-11CE-9F53-0020AF0BA770");
inline constexpr CLSID CLSID_FilterGraphNoThread = MakeGuid("E436EBB8-524F-11CE-9F53-0020AF0BA770");
// Class ids filters report: the file source, the colour converter, the
// classic video renderer, the mixing renderer, the sound renderer and the
// network reader. Our own renderers report the classic renderer's id (video)
// and the sound renderer's id (audio).
inline constexpr CLSID CLSID_AsyncReader = MakeGuid("E436EBB5-524F-11CE-9F53-0020AF0BA770");
inline constexpr CLSID CLSID_URLReader = MakeGuid("E436EBB6-524F-11CE-9F53-0020AF0BA770");
inline constexpr CLSID CLSID_Colour = MakeGuid("1643E180-90F5-11CE-97D5-00AA0055595A");
inline constexpr CLSID CLSID_VideoRenderer = MakeGuid("70E102B0-5556-11CE-97C0-00AA0055595A");
inline constexpr CLSID CLSID_VideoMixingRenderer = MakeGuid("B87BEB7B-8D29-423F-AE4D-6582C10175AC");
inline constexpr CLSID CLSID_DSoundRender = MakeGuid("79376820-07D0-11CF-A24D-0020AFD79767");
inline constexpr CLSID CLSID_AudioRender = MakeGuid("E30629D1-27E5-11CE-875D-00608CB78066");
inline constexpr CLSID CLSID_WMAsfReader = MakeGuid("187463A0-5BB7-11D3-ACBE-0080C75E246E");
// Any other element in the graph reports this id (a wrapped media element).
inline constexpr CLSID CLSID_VaGstElement = MakeGuid("5E0C2D0A-7C55-4B7E-9B7A-3F2B6A1D9E41");
