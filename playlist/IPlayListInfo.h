#pragma once
// The read-only view of a playlist's clips. An index outside 0..count-1
// names no clip and is answered with empty strings, zero times and false.
#include <string>

#include "support/RefTime.h"

class IPlayListInfo {
public:
    virtual int GetCount() const = 0;
    // The clip holding a position of the playlist time line, -1 if none.
    virtual int FindClip(REFERENCE_TIME position) const = 0;
    virtual std::string GetClipFile(int index) const = 0;
    virtual std::string GetClipTitle(int index) const = 0;
    virtual std::string GetClipAbstract(int index) const = 0;
    // The clip's range on the playlist time line; true when its start is
    // known (the end may still be -1).
    virtual bool GetClipListRange(int index, REFERENCE_TIME& start, REFERENCE_TIME& end) const = 0;
    // The clip's range inside its file (the end may be -1).
    virtual bool GetClipFileRange(int index, REFERENCE_TIME& start, REFERENCE_TIME& end) const = 0;
    // Whether the clip plays its whole file.
    virtual bool IsWholeFile(int index) const = 0;

protected:
    ~IPlayListInfo() = default;
};
