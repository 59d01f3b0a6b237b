#pragma once
// CTimelineCombo: the clip list. It lists the clips of a playlist or an
// editing timeline with their times, optionally after a "<Show Files>" entry,
// and follows the playback position by selecting the clip that contains it.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/AutoSizeCombo.h"

class IPlayListInfo;
class CVaAMTimeline;

struct CTimelineItem {
    int64_t start = 0;  // 100 ns
    int64_t stop = 0;
    int64_t frameDuration = 0;
    std::string label;
};

class CTimelineCombo : public CAutoSizeCombo {
    Q_OBJECT
public:
    explicit CTimelineCombo(QWidget* parent = nullptr);
    ~CTimelineCombo() override;

    // The clips of a playlist: entry ranges and titles (or numbered names).
    void FillFromPlaylist(const IPlayListInfo& playlist);
    // The sources of the timeline's first video group, track by track, with
    // the group's frame duration; labelled by their names or their ranges.
    void FillFromTimeline(const CVaAMTimeline& timeline);
    // Clips given directly (a timeline's sources); kept sorted by start, an
    // item going before the first item with a later start.
    void FillFromItems(const std::vector<CTimelineItem>& items);
    void Clear();
    void SetFrameDuration(int64_t duration);

    void SelectIndex(int index);
    // Selects the entry that contains 'start' (see the .cpp for the search).
    void SelectTime(int64_t start, int64_t stop);
    // The selected clip's range; false for "<Show Files>" or no selection.
    bool GetSelectedRange(int64_t& start, int64_t& stop) const;
    bool IsShowFilesSelected() const;
    void SetShowFilesEntry(bool on);
    bool HasShowFilesEntry() const { return m_bShowFiles; }

    const std::vector<CTimelineItem>& Items() const { return m_items; }
    // The item index of a combo entry (-1 for "<Show Files>" or none).
    int ItemOfEntry(int entry) const;

    // "HH:MM:SS.hh" with the C locale's decimal point; "?" when negative.
    static std::string FormatTime(int64_t time);
    // "start - stop".
    static std::string FormatRange(int64_t start, int64_t stop);

private:
    // -1: the entry lies after the time, 0: contains it, 1: lies before it.
    int TestEntry(int entry, int64_t time) const;
    void Refill();

    std::vector<CTimelineItem> m_items;
    int64_t m_lastStart = -1;
    int64_t m_lastStop = -1;
    bool m_bShowFiles = false;
};
