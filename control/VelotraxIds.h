#pragma once
// Identities of the control: class, type library, interfaces, ProgID and
// the DISPIDs of its automation interface.
#include "platform/com/Dispatch.h"

inline constexpr CLSID CLSID_Velotrax = MakeGuid("6BA242CC-B9A8-4255-AC01-D88F6B7F483B");
inline constexpr GUID LIBID_VELOTRAXOCXLib = MakeGuid("304AA1AC-085D-4D55-ACE8-2E251D3A9B1E");
inline constexpr IID DIID__DVelotrax = MakeGuid("E9F13246-C563-4172-8D27-665F825C5704");
inline constexpr IID DIID__DVelotraxEvents = MakeGuid("BD78ED38-8800-40BE-86E8-542EF79F0D57");
inline constexpr GUID CATID_SafeForScripting = MakeGuid("7DD95801-9882-11CF-9FA9-00AA006C42C4");
inline constexpr GUID CATID_SafeForInitializing = MakeGuid("7DD95802-9882-11CF-9FA9-00AA006C42C4");

inline constexpr const char* kVelotraxProgID = "Velotrax.VelotraxCtrl.1";
inline constexpr DWORD kVelotraxMiscStatus = 0x20191;

enum EVelotraxDispId : DISPID {
    dispidAutoSize = 1,
    dispidMediaLocation = 2,
    dispidShowExternal = 3,
    dispidFileName = 4,
    dispidXTL = 5,
    dispidLocked = 6,
    dispidPlay = 7,
    dispidPause = 8,
    dispidStop = 9,
    dispidRender = 10,
    dispidUnrender = 11,
    dispidPlayList = 12,
    dispidVersion = 13,
    dispidPreferLocalApp = 14,
    dispidCurrentImage = 15,
    dispidDeinterlace = 16,
    dispidRepeat = 17,
    dispidRate = 18,
    dispidStartTime = 19,
    dispidStopTime = 20,
    dispidCurrentPos = 21,
    dispidUseTwoVideoWindowsExternal = 22,
    dispidSetPlayLists = 23,
    dispidAboutBox = DISPID_ABOUTBOX,
};
