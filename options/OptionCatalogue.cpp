#include "options/OptionCatalogue.h"

#include <cstdio>
#include <cstdlib>

#include "support/Strings.h"

namespace {

using T = EOptionType;

constexpr COptionInfo kCatalogue[] = {
    // Bound by the player window to the panels.
    {"Settings", "VideoScale", T::integer, true, 1, nullptr, optIdVideoScale, optPanelVideo,
     "scaling mode of the video window: 0 original size, 1 maximum size, 2 best fit"},
    {"Settings", "DVDecRes", T::none, false, 0, nullptr, optIdDVDecRes, optPanelVideo,
     "bound, not read"},
    {"Settings", "VMRAspectRatio", T::boolean, true, 1, nullptr, optIdVMRAspectRatio, optPanelVideo,
     "aspect correction of the video window and the deinterlace filter"},
    {"Settings", "FixAudioClock", T::integer, true, 1, nullptr, optIdFixAudioClock, optPanelVideo,
     "audio-clock correction: 0 off, 1 on, 2 on only on newer systems"},
    {"Settings", "UseVideoFrameStep", T::boolean, true, 0, nullptr, optIdUseVideoFrameStep,
     optPanelVideo, "bound, not read"},
    {"Settings", "WindOffset", T::integer, true, 1000, nullptr, optIdWindOffset, optPanelVideo,
     "step in milliseconds of Back, Forward and the jog wheel"},
    {"DeInterlace", "DeInterlace", T::boolean, true, 0, nullptr, optIdDeInterlace, optPanelVideo,
     "deinterlacing on"},
    {"DeInterlace", "Method", T::integer, true, 3, nullptr, optIdDeIntMethod, optPanelVideo,
     "deinterlace method"},
    {"DeInterlace", "Interpolate", T::integer, true, 1, nullptr, optIdDeIntInterpolate,
     optPanelVideo, "interpolation of the deinterlace filter"},
    {"DeInterlace", "Sharpen", T::integer, true, 2, nullptr, optIdDeIntSharpen, optPanelVideo,
     "sharpening of the deinterlace filter"},
    {"Settings", "PlayCont", T::boolean, true, 0, nullptr, optIdPlayCont, optPanelVideo,
     "continuous play; also the automation property Repeat"},
    {"Settings", "SyncVideoPos", T::boolean, true, 1, nullptr, optIdSyncVideoPos, optPanelBoth,
     "position coupling of two videos"},
    {"Settings", "Dir", T::string, false, 0, nullptr, optIdSnapDir, optPanelVideo,
     "folder of the last snapshot"},
    {"Settings", "AutoFile", T::boolean, false, 0, nullptr, optIdSnapAutoFile, optPanelVideo,
     "name snapshot files automatically"},
    {"Settings", "ImgQuality", T::integer, false, 0, nullptr, optIdSnapImgQuality, optPanelVideo,
     "JPEG quality 0 to 100 (the snapshot writer uses 30 while nothing is stored)"},
    {"Settings", "ImgRangeDist", T::none, false, 0, nullptr, optIdSnapImgRangeDist, optPanelVideo,
     "handed to the snapshot object, not read"},
    {"Settings", "ImgRangeDistUnit", T::none, false, 0, nullptr, optIdSnapImgRangeDistUnit,
     optPanelVideo, "handed to the snapshot object, not read"},
    {"Settings", "FileExt", T::string, false, 0, nullptr, optIdSnapFileExt, optPanelVideo,
     "extension of the last snapshot file type"},
    {"Settings", "FileExtImg", T::string, false, 0, nullptr, optIdSnapFileExtImg, optPanelVideo,
     "extension of the last still-image type"},
    {"Settings", "FileExtVideo", T::none, false, 0, nullptr, optIdFileExtVideo, optPanelVideo,
     "bound, not read"},
    {"Files", "LastFile", T::string, false, 0, nullptr, optIdLastFile, optPanelBoth,
     "last media file of the video (\"LastFile2\" for a second video)"},
    {"Files", "", T::none, false, 0, nullptr, optIdFiles, optPanelControl, "the recent-file list"},
    {"Settings", "MaxMRU", T::integer, true, kDefaultMaxMRU, nullptr, optIdMaxMRU, optPanelControl,
     "length limit of the recent-file list; 0 means 50"},
    {"Settings", "MRUReplace", T::boolean, true, 1, nullptr, optIdMRUReplace, optPanelControl,
     "the file search replaces the recent-file list"},
    {"Settings", "SyncVideo", T::boolean, true, 1, nullptr, optIdSyncVideo, optPanelControl,
     "synchronise two videos"},
    {"Settings", "FlatLook", T::boolean, true, 1, nullptr, optIdFlatLook, optPanelControl,
     "flat look of the panel buttons"},
    {"Settings", "HelpCmd", T::integer, true, 0, nullptr, optIdHelpCmd, optPanelControl,
     "watched, not acted on"},
    // Read and written directly.
    {"Settings", "Tooltips", T::boolean, true, 1, nullptr, optIdNone, optPanelNone,
     "dialogs show tooltips"},
    {"Settings", "FrameCacheMB", T::integer, true, kDefaultFrameCacheMiB, nullptr, optIdNone,
     optPanelNone,
     "memory budget in MiB of the decoded frames kept for Step Back, the jog wheel's backward "
     "speeds and reverse play; 0 turns the cache off"},
    {"Settings", "Pos", T::string, false, 0, nullptr, optIdNone, optPanelNone,
     "placement of the floating frame: \"Max\" or \"left;top;right;bottom\""},
    {"Files", "File%d", T::string, false, 0, nullptr, optIdNone, optPanelNone,
     "recent-file list entries"},
};

// n of "File<n>" with only digits after "File" and n >= 1, else 0.
int RecentFileNumber(const std::string& name) {
    if (!va::StartsWithNoCase(name, "File") || name.size() == 4 || name.size() > 13)
        return 0;
    long n = 0;
    for (size_t i = 4; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n >= 1 && n <= INT32_MAX ? static_cast<int>(n) : 0;
}

}  // namespace

CAppOpt COptionInfo::Default() const {
    if (!hasDefault)
        return CAppOpt();
    switch (type) {
        case EOptionType::boolean:
            return CAppOpt(intDefault != 0);
        case EOptionType::integer:
            return CAppOpt(intDefault);
        case EOptionType::string:
            return CAppOpt(stringDefault ? stringDefault : "");
        case EOptionType::none:
            break;
    }
    return CAppOpt();
}

std::span<const COptionInfo> GetOptionCatalogue() {
    return kCatalogue;
}

const COptionInfo* FindOptionInfo(const std::string& section, const std::string& name) {
    const std::string sec = section.empty() ? kSectionSettings : section;
    std::string wanted = name;
    if (va::EqualsNoCase(sec, kSectionFiles)) {
        if (va::EqualsNoCase(name, LastFileOptionName(1)))
            wanted = "LastFile";
        if (RecentFileNumber(name) > 0)
            wanted = "File%d";
    }
    for (const COptionInfo& info : kCatalogue)
        if (va::EqualsNoCase(info.section, sec) && va::EqualsNoCase(info.name, wanted))
            return &info;
    return nullptr;
}

const COptionInfo* FindOptionInfoById(int id) {
    if (id < 0)
        return nullptr;
    for (const COptionInfo& info : kCatalogue)
        if (info.id == id)
            return &info;
    return nullptr;
}

std::string LastFileOptionName(int videoIndex) {
    return videoIndex == 0 ? "LastFile" : "LastFile2";
}

std::string RecentFileOptionName(int n) {
    return "File" + std::to_string(n);
}

int ParseRecentFileOptionName(const std::string& name, int maxMru) {
    // The form is "File%d": the number may be signed or padded as sscanf reads it.
    int n = 0;
    char rest = 0;
    if (std::sscanf(name.c_str(), "File%d%c", &n, &rest) != 1)
        return 0;
    return n >= 1 && n <= maxMru ? n : 0;
}

int EffectiveMaxMRU(int32_t stored) {
    return stored == 0 ? kDefaultMaxMRU : stored;
}

CFramePlacement ParseFramePos(const std::string& text) {
    CFramePlacement placement;
    if (text == "Max") {
        placement.maximised = true;
        return placement;
    }
    RECT r;
    int read = std::sscanf(text.c_str(), "%d;%d;%d;%d", &r.left, &r.top, &r.right, &r.bottom);
    if (read == 4 && r.right > r.left && r.bottom > r.top) {
        placement.useDefault = false;
        placement.rect = r;
    }
    return placement;
}

std::string FormatFramePos(const RECT& rect, bool maximised) {
    if (maximised)
        return "Max";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d;%d;%d;%d", rect.left, rect.top, rect.right, rect.bottom);
    return buf;
}
