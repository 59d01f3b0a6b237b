#pragma once
// A playlist: clips of one or more files played as one program on a single
// time line.
#include <string>

#include "playlist/IPlayListHandler.h"
#include "playlist/IPlayListInfo.h"

// CheckClipEnd and NextClip answers.
enum PlayListClipState {
    PLAYLIST_IN_CLIP = 0,     // still inside the current clip
    PLAYLIST_SAME_FILE = 1,   // the next clip continues in the open file
    PLAYLIST_OTHER_FILE = 2,  // the next clip needs another file
    PLAYLIST_FINISHED = 3,    // there is no next clip
};

class IPlayList {
public:
    // The handler is not owned.
    virtual void SetHandler(IPlayListHandler* handler) = 0;
    virtual void Clear() = 0;
    // Loads an ASX/WVX playlist from a path or URL; relative references
    // resolve against baseFolder, or the playlist's own folder when empty.
    virtual void LoadFile(const std::string& path, const std::string& baseFolder) = 0;
    // Loads playlist text; relative references resolve against baseFolder.
    virtual void LoadXml(const std::string& text, const std::string& baseFolder) = 0;
    virtual IPlayListInfo* GetInfo() = 0;
    virtual int GetCurrentClip() const = 0;
    // The sum of the known clip lengths.
    virtual REFERENCE_TIME GetDuration() const = 0;
    // The position on the playlist time line.
    virtual REFERENCE_TIME GetPosition() = 0;
    virtual void SetPosition(REFERENCE_TIME position) = 0;
    virtual int CheckClipEnd(bool reportOnly) = 0;
    virtual int NextClip() = 0;
    virtual ~IPlayList() = default;
};
