#pragma once
// The playlist model: the clips of an ASX/WVX playlist on one time line,
// which clip is current, how playlist positions map into the open file,
// when a clip ends and which clip comes next. Everything that touches the
// open file goes through the handler. No lock of its own: the owner
// serializes every call.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "playlist/IPlayList.h"

class CAsxReader;

class CPlayList : public IPlayList, public IPlayListInfo {
public:
    // One media file; clips of the same file share one object.
    class CClipFile {
    public:
        explicit CClipFile(std::string path) : m_path(std::move(path)) {}
        const std::string& GetPath() const { return m_path; }

    private:
        std::string m_path;  // as resolved, in the letter case it was given
    };

    // One entry: a range of a file and its place on the time line.
    class CClip {
    public:
        CClip(CClipFile* file, std::string title, REFERENCE_TIME start, REFERENCE_TIME end,
              std::string abstract);

        CClipFile* GetFile() const { return m_file; }
        const std::string& GetTitle() const { return m_title; }
        const std::string& GetAbstract() const { return m_abstract; }
        REFERENCE_TIME GetStart() const { return m_start; }
        REFERENCE_TIME GetEnd() const { return m_end; }
        REFERENCE_TIME GetListStart() const { return m_listStart; }
        REFERENCE_TIME GetFileLength() const { return m_fileLength; }

        // end - start, or -1 when the end is unset.
        REFERENCE_TIME GetDuration() const;
        // list start + duration, or -1 when either is unset.
        REFERENCE_TIME GetListEnd() const;
        bool ContainsFilePosition(REFERENCE_TIME position) const;
        // Positions before the playlist belong to the first clip, positions
        // past its end to the last.
        bool ContainsListPosition(REFERENCE_TIME position, bool first, bool last) const;
        bool IsSameFile(const CClip* other) const { return other && other->m_file == m_file; }
        bool IsWholeFile() const;
        // Learns the file's length; true when the end changed.
        bool SetFileLength(REFERENCE_TIME length);
        // True when the value changed.
        bool SetListStart(REFERENCE_TIME listStart);

    private:
        CClipFile* m_file;
        std::string m_title;
        std::string m_abstract;
        REFERENCE_TIME m_start;
        REFERENCE_TIME m_end;
        REFERENCE_TIME m_listStart = -1;
        REFERENCE_TIME m_fileLength = -1;
    };

    CPlayList();
    ~CPlayList() override;
    CPlayList(const CPlayList&) = delete;
    CPlayList& operator=(const CPlayList&) = delete;

    // IPlayList
    void SetHandler(IPlayListHandler* handler) override { m_handler = handler; }
    void Clear() override;
    void LoadFile(const std::string& path, const std::string& baseFolder) override;
    void LoadXml(const std::string& text, const std::string& baseFolder) override;
    IPlayListInfo* GetInfo() override { return this; }
    int GetCurrentClip() const override { return m_current; }
    REFERENCE_TIME GetDuration() const override;
    REFERENCE_TIME GetPosition() override;
    void SetPosition(REFERENCE_TIME position) override;
    int CheckClipEnd(bool reportOnly) override;
    int NextClip() override;
    // Makes clip `index` current and opens its file even when the current
    // clip shares it (also when it is the current clip): for the owner after
    // an open failed, which leaves the current clip as it was but the graph
    // empty. PLAYLIST_OTHER_FILE, or PLAYLIST_FINISHED for an index outside.
    int ReopenClip(int index);
    // The clip's file could not be opened: its clips after the first last no
    // time, so the clips after them keep their places when the next opens.
    void SetClipUnplayable(int index);

    // IPlayListInfo
    int GetCount() const override { return static_cast<int>(m_clips.size()); }
    int FindClip(REFERENCE_TIME position) const override;
    std::string GetClipFile(int index) const override;
    std::string GetClipTitle(int index) const override;
    std::string GetClipAbstract(int index) const override;
    bool GetClipListRange(int index, REFERENCE_TIME& start, REFERENCE_TIME& end) const override;
    bool GetClipFileRange(int index, REFERENCE_TIME& start, REFERENCE_TIME& end) const override;
    bool IsWholeFile(int index) const override;

    // The folder relative references were resolved against by the last load.
    const std::string& GetBaseFolder() const { return m_baseFolder; }
    // The clip, or null for an index outside the list.
    const CClip* GetClip(int index) const;

private:
    friend class CAsxReader;
    friend class CListFormats;

    // The clip-file object for a path, shared by paths that differ only in case.
    CClipFile* GetClipFileFor(const std::string& path);
    void AppendClip(std::unique_ptr<CClip> clip) { m_clips.push_back(std::move(clip)); }
    void SetBaseFolder(std::string folder) { m_baseFolder = std::move(folder); }
    bool SelectClip(int index, bool reopen = false);
    bool UpdateDurations(int index);
    IPlayListHandler& Handler() const;

    IPlayListHandler* m_handler = nullptr;
    std::string m_baseFolder;
    std::vector<std::unique_ptr<CClip>> m_clips;
    std::map<std::string, std::unique_ptr<CClipFile>> m_clipFiles;
    int m_current = -1;
};
