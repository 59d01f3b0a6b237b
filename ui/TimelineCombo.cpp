#include "ui/TimelineCombo.h"

#include <QAbstractItemView>
#include <clocale>
#include <cstdio>

#include "playlist/IPlayListInfo.h"
#include "resources/StringTable.h"
#include "timeline/VaDES.h"
#include "ui/UiStrings.h"

namespace {

std::string CleanTitle(const std::string& title) {
    std::string label;
    label.reserve(title.size());
    for (char c : title) {
        if (c == '\r')
            continue;
        label += (c == '\n' || c == '\t') ? ' ' : c;
    }
    return label;
}

}  // namespace

CTimelineCombo::CTimelineCombo(QWidget* parent) : CAutoSizeCombo(parent) {}

CTimelineCombo::~CTimelineCombo() = default;

std::string CTimelineCombo::FormatTime(int64_t time) {
    if (time < 0)
        return "?";
    const int64_t ms = time / 10000;
    const int64_t seconds = ms / 1000;
    const char* point = std::localeconv()->decimal_point;
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%02d:%02d:%02d%s%02ld", static_cast<int>(seconds / 3600),
                  static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60),
                  point ? point : ".", static_cast<long>(ms % 1000 / 10));
    return buffer;
}

std::string CTimelineCombo::FormatRange(int64_t start, int64_t stop) {
    return FormatTime(start) + " - " + FormatTime(stop);
}

void CTimelineCombo::FillFromPlaylist(const IPlayListInfo& playlist) {
    m_items.clear();
    const int count = std::max(0, playlist.GetCount());
    const int digits = static_cast<int>(std::to_string(count).size());
    for (int i = 0; i < count; ++i) {
        CTimelineItem item;
        REFERENCE_TIME start = 0, stop = 0;
        playlist.GetClipListRange(i, start, stop);
        item.start = start < 0 ? 0 : start;
        item.stop = stop < 0 ? 0 : stop;
        item.label = CleanTitle(playlist.GetClipTitle(i));
        if (item.label.empty()) {
            std::string name = playlist.GetClipFile(i);
            if (name.empty())
                name = FormatRange(item.start, item.stop);
            char index[32];
            std::snprintf(index, sizeof(index), "(%0*d) ", digits, i + 1);
            item.label = index + name;
        }
        m_items.push_back(std::move(item));
    }
    Refill();
}

void CTimelineCombo::FillFromTimeline(const CVaAMTimeline& timeline) {
    std::vector<CTimelineItem> items;
    for (int g = 0, groups = timeline.GetGroupCount(); g < groups; ++g) {
        CVaAMTimelineGroup group = timeline.GetGroup(g);
        if (!group.IsValid() || !group.IsVideo())
            continue;
        const double fps = group.GetOutputFPS();
        const int64_t d = fps > 0 ? static_cast<int64_t>(10'000'000 / fps) : 0;
        for (int t = 0, tracks = group.GetTrackCount(); t < tracks; ++t) {
            CVaAMTimelineTrack track(group.GetTrack(t));
            if (!track.IsValid())
                continue;  // a composition
            for (CVaAMTimelineSrc src = track.GetNextSource(nullptr); src.IsValid();
                 src = track.GetNextSource(&src)) {
                CTimelineItem item;
                REFERENCE_TIME start = 0, stop = 0;
                src.GetStartStop(start, stop);
                item.start = start;
                item.stop = stop;
                item.frameDuration = d;
                item.label = src.GetUserName();
                items.push_back(std::move(item));
            }
        }
        break;
    }
    FillFromItems(items);
}

void CTimelineCombo::FillFromItems(const std::vector<CTimelineItem>& items) {
    m_items.clear();
    for (const CTimelineItem& item : items) {
        CTimelineItem copy = item;
        if (copy.label.empty())
            copy.label = FormatRange(copy.start, copy.stop);
        auto later = std::find_if(m_items.begin(), m_items.end(), [&](const CTimelineItem& other) {
            return other.start > copy.start;
        });
        m_items.insert(later, std::move(copy));
    }
    Refill();
}

void CTimelineCombo::Clear() {
    m_items.clear();
    Refill();
}

void CTimelineCombo::Refill() {
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    const bool blocked = blockSignals(true);
    clear();
    if (m_bShowFiles)
        addItem(QString::fromStdString(LoadResString(IDS_SHOW_FILES)), -1);
    for (size_t i = 0; i < m_items.size(); ++i)
        addItem(QString::fromStdString(m_items[i].label), static_cast<int>(i));
    blockSignals(blocked);
    setUpdatesEnabled(updates);
    m_lastStart = m_lastStop = -1;
}

void CTimelineCombo::SetFrameDuration(int64_t duration) {
    for (CTimelineItem& item : m_items)
        item.frameDuration = duration;
}

int CTimelineCombo::ItemOfEntry(int entry) const {
    if (entry < 0 || entry >= count())
        return -1;
    const QVariant data = itemData(entry);
    return data.isValid() ? data.toInt() : -1;
}

void CTimelineCombo::SelectIndex(int index) {
    if (IsDroppedDown() || index < 0)
        return;
    const int entry = index + (m_bShowFiles ? 1 : 0);
    if (entry < count() && currentIndex() != entry)
        setCurrentIndex(entry);
}

int CTimelineCombo::TestEntry(int entry, int64_t time) const {
    if (entry < 0 || entry >= count())
        return 1;
    const QVariant data = itemData(entry);
    if (!data.isValid())
        return 1;
    const int index = data.toInt();
    if (index < 0)
        return 1;
    if (index >= static_cast<int>(m_items.size()))
        return -1;
    const CTimelineItem& item = m_items[index];
    const int64_t d = item.frameDuration;
    const int64_t t = RoundToFrame(time, d);
    if (t < RoundToFrame(item.start, d))
        return -1;
    if (t < RoundToFrame(item.stop, d))
        return 0;
    return 1;
}

void CTimelineCombo::SelectTime(int64_t start, int64_t stop) {
    if ((start == m_lastStart && stop == m_lastStop) || IsDroppedDown())
        return;
    m_lastStart = start;
    m_lastStop = stop;
    const int selected = currentIndex();
    const int result = TestEntry(selected, start);
    if (result == 0)
        return;
    // Entries after the selected one first, then from the top.
    auto scan = [&](int from, int to) {
        for (int entry = from; entry < to; ++entry) {
            const int test = TestEntry(entry, start);
            if (test == 0) {
                setCurrentIndex(entry);
                return true;
            }
            if (test < 0)
                break;
        }
        return false;
    };
    if (result > 0 && scan(selected + 1, count()))
        return;
    scan(0, selected);
}

bool CTimelineCombo::GetSelectedRange(int64_t& start, int64_t& stop) const {
    const int index = ItemOfEntry(currentIndex());
    if (index < 0 || index >= static_cast<int>(m_items.size()))
        return false;
    start = m_items[index].start;
    stop = m_items[index].stop;
    return true;
}

bool CTimelineCombo::IsShowFilesSelected() const {
    return m_bShowFiles && currentIndex() == 0 && ItemOfEntry(0) < 0;
}

void CTimelineCombo::SetShowFilesEntry(bool on) {
    if (on == m_bShowFiles)
        return;
    m_bShowFiles = on;
    const bool blocked = blockSignals(true);
    if (on)
        insertItem(0, QString::fromStdString(LoadResString(IDS_SHOW_FILES)), -1);
    else if (count() > 0 && ItemOfEntry(0) < 0)
        removeItem(0);
    blockSignals(blocked);
}
