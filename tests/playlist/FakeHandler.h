#pragma once
// A play context stand-in that records what the playlist asks of it.
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "playlist/IPlayListHandler.h"
#include "support/Strings.h"

class CFakeHandler : public IPlayListHandler {
public:
    struct SeekCall {
        REFERENCE_TIME position;
        bool allowRun;
        bool operator==(const SeekCall&) const = default;
    };

    // File lengths by lower-cased path; unknown files report -1.
    std::map<std::string, REFERENCE_TIME> lengths;
    std::vector<std::string> opened;
    std::vector<SeekCall> seeks;
    int changes = 0;
    REFERENCE_TIME position = 0;
    std::string failOn;  // OpenClip of this path throws
    std::string openFile;

    void OpenClip(const std::string& path) override {
        if (!failOn.empty() && path == failOn)
            throw std::runtime_error("cannot open " + path);
        opened.push_back(path);
        openFile = path;
        position = 0;
    }
    void OnPlayListChanged() override { ++changes; }
    REFERENCE_TIME GetPosition() override { return position; }
    REFERENCE_TIME GetDuration() override {
        auto it = lengths.find(va::ToLowerAscii(openFile));
        return it == lengths.end() ? -1 : it->second;
    }
    bool Seek(REFERENCE_TIME p, bool allowRun) override {
        seeks.push_back({p, allowRun});
        position = p;
        return true;
    }
    void Reset() {
        opened.clear();
        seeks.clear();
        changes = 0;
    }
};
