#pragma once
// What the playlist asks of the one who plays it: the play context opens
// clip files, reports the open file's position and length, and seeks.
#include <string>

#include "support/RefTime.h"

class IPlayListHandler {
public:
    // Closes the open media and opens 'path', keeping the run state; throws on failure.
    virtual void OpenClip(const std::string& path) = 0;
    // The playlist time line changed (lengths were learned).
    virtual void OnPlayListChanged() = 0;
    // The position inside the open file.
    virtual REFERENCE_TIME GetPosition() = 0;
    // The length of the open file, -1 when it cannot be told.
    virtual REFERENCE_TIME GetDuration() = 0;
    // Seeks inside the open file; allowRun lets a source that cannot seek
    // yet run first and seek later.
    virtual bool Seek(REFERENCE_TIME position, bool allowRun) = 0;

protected:
    ~IPlayListHandler() = default;
};
