#pragma once
// The catalogue of every setting the player keeps: section, value name,
// type, default, the option id under which the player window binds it to a
// panel, and the panel. Also the forms of the recent-file names and of the
// floating frame's placement ("Pos").
#include <cstdint>
#include <span>
#include <string>

#include "options/AppOpt.h"
#include "platform/dshow/MediaType.h"

enum class EOptionType { none, boolean, integer, string };

// Which panel a setting is bound to.
enum EOptionPanel : unsigned {
    optPanelNone = 0,
    optPanelVideo = 1,
    optPanelControl = 2,
    optPanelBoth = optPanelVideo | optPanelControl,
};

// Option ids of the panels' option tables.
enum EPlayOptId : int {
    optIdNone = -1,
    optIdLastFile = 0,
    optIdFiles = 1,
    optIdMaxMRU = 2,
    optIdMRUReplace = 3,
    optIdVideoScale = 4,
    optIdDVDecRes = 5,
    optIdVMRAspectRatio = 6,
    optIdFixAudioClock = 7,
    optIdUseVideoFrameStep = 8,
    optIdWindOffset = 9,
    optIdDeInterlace = 10,
    optIdDeIntMethod = 11,
    optIdDeIntInterpolate = 12,
    optIdDeIntSharpen = 13,
    optIdSyncVideo = 14,
    optIdSyncVideoPos = 15,
    optIdPlayCont = 16,
    optIdSnapDir = 17,
    optIdSnapAutoFile = 18,
    optIdSnapImgQuality = 19,
    optIdSnapImgRangeDist = 20,
    optIdSnapImgRangeDistUnit = 21,
    optIdSnapFileExt = 22,
    optIdSnapFileExtImg = 23,
    optIdFileExtVideo = 24,
    optIdFlatLook = 29,
    optIdHelpCmd = 30,
};

struct COptionInfo {
    const char* section;
    const char* name;  // empty for a whole section; "File%d" for the recent-file names
    EOptionType type;
    bool hasDefault;
    int32_t intDefault;  // bool and integer defaults
    const char* stringDefault;
    int id;  // EPlayOptId, optIdNone for settings read directly
    unsigned panels;
    const char* use;

    // The default as an option value: empty without a default.
    CAppOpt Default() const;
};

// Every entry, in the order of the catalogue.
std::span<const COptionInfo> GetOptionCatalogue();
// The entry of a setting (section empty means "Settings"; names compare
// without regard to case, as the registry does); "LastFile2" and the
// "File%d" names of "Files" find their entries. Null when unknown.
const COptionInfo* FindOptionInfo(const std::string& section, const std::string& name);
// The entry bound under an option id, or null.
const COptionInfo* FindOptionInfoById(int id);

constexpr const char* kSectionSettings = "Settings";
constexpr const char* kSectionFiles = "Files";
constexpr const char* kSectionDeInterlace = "DeInterlace";
constexpr int kDefaultMaxMRU = 50;
// Memory budget in MiB of the decoded-frame cache (0 turns it off).
constexpr const char* kFrameCacheOption = "FrameCacheMB";
constexpr int kDefaultFrameCacheMiB = 512;

// "LastFile" for the first video, "LastFile2" for the second.
std::string LastFileOptionName(int videoIndex);
// "File<n>".
std::string RecentFileOptionName(int n);
// n when the name is "File%d" with 1 <= n <= maxMru, else 0.
int ParseRecentFileOptionName(const std::string& name, int maxMru);
// The recent-file limit for a stored "MaxMRU": 0 means 50.
int EffectiveMaxMRU(int32_t stored);

// Placement of the floating frame window as stored in "Pos".
struct CFramePlacement {
    bool maximised = false;
    bool useDefault = true;  // neither "Max" nor a usable rectangle
    RECT rect;
};
// "Max": maximised with the default rectangle. Else four integers separated
// by ';'; exactly four and a non-empty rectangle give the frame's rectangle,
// anything else the default placement.
CFramePlacement ParseFramePos(const std::string& text);
// "Max", or "left;top;right;bottom".
std::string FormatFramePos(const RECT& rect, bool maximised);
