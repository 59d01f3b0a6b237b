#include "playlist/PlayList.h"

#include "playlist/AsxReader.h"
#include "playlist/ListFormats.h"
#include "playlist/WaitCursor.h"
#include "support/Exception.h"
#include "support/Strings.h"

// --- CClip ---------------------------------------------------------------------------

CPlayList::CClip::CClip(CClipFile* file, std::string title, REFERENCE_TIME start,
                        REFERENCE_TIME end, std::string abstract)
    : m_file(file),
      m_title(std::move(title)),
      m_abstract(std::move(abstract)),
      m_start(start),
      m_end(end) {}

REFERENCE_TIME CPlayList::CClip::GetDuration() const {
    return IsKnownTime(m_end) ? SubtractTimes(m_end, m_start) : -1;
}

REFERENCE_TIME CPlayList::CClip::GetListEnd() const {
    if (!IsKnownTime(m_listStart) || !IsKnownTime(m_end))
        return -1;
    return AddTimes(m_listStart, SubtractTimes(m_end, m_start));
}

bool CPlayList::CClip::ContainsFilePosition(REFERENCE_TIME position) const {
    return m_start <= position && (!IsKnownTime(m_end) || position < m_end);
}

bool CPlayList::CClip::ContainsListPosition(REFERENCE_TIME position, bool first, bool last) const {
    if (!IsKnownTime(m_listStart))
        return false;
    if (position < m_listStart)
        return first;
    return last || !IsKnownTime(m_end) || position < GetListEnd();
}

bool CPlayList::CClip::IsWholeFile() const {
    return m_start == 0 &&
           (!IsKnownTime(m_end) || (IsKnownTime(m_fileLength) && m_end >= m_fileLength));
}

bool CPlayList::CClip::SetFileLength(REFERENCE_TIME length) {
    m_fileLength = length;
    if (IsKnownTime(m_end) && m_end <= length)
        return false;
    m_end = length < m_start ? m_start : length;
    return true;
}

bool CPlayList::CClip::SetListStart(REFERENCE_TIME listStart) {
    bool changed = m_listStart != listStart;
    m_listStart = listStart;
    return changed;
}

// --- CPlayList -------------------------------------------------------------------------

CPlayList::CPlayList() = default;

CPlayList::~CPlayList() {
    Clear();
}

void CPlayList::Clear() {
    m_current = -1;
    m_clips.clear();
    m_clipFiles.clear();
}

void CPlayList::LoadFile(const std::string& path, const std::string& baseFolder) {
    // The extension tells the format: M3U, PLS and XSPF besides ASX and WVX;
    // for an http URL without one, the type the server gives it.
    if (!CListFormats::IsPlayListExtension(va::ToLowerAscii(va::GetExtension(path)))) {
        CListFormats::EFormat served;
        std::string text;
        if (CListFormats::FetchPlayList(path, served, text) &&
            served != CListFormats::EFormat::asx) {
            CListFormats::LoadText(*this, served, std::move(text),
                                   !baseFolder.empty() ? baseFolder : CAsxReader::FolderOf(path));
            return;
        }
    }
    CListFormats::EFormat format = CListFormats::FormatOfName(path);
    if (format == CListFormats::EFormat::asx)
        CAsxReader::LoadFile(*this, path, baseFolder);
    else
        CListFormats::LoadFile(*this, format, path, baseFolder);
}

void CPlayList::LoadXml(const std::string& text, const std::string& baseFolder) {
    CAsxReader::LoadXml(*this, text, baseFolder);
}

IPlayListHandler& CPlayList::Handler() const {
    // Using the playlist before a handler is attached is a fault of the caller.
    if (!m_handler)
        throw CComException(E_POINTER, nullptr);
    return *m_handler;
}

const CPlayList::CClip* CPlayList::GetClip(int index) const {
    if (index < 0 || index >= GetCount())
        return nullptr;
    return m_clips[static_cast<size_t>(index)].get();
}

CPlayList::CClipFile* CPlayList::GetClipFileFor(const std::string& path) {
    std::string key = va::ToLowerAscii(path);
    auto it = m_clipFiles.find(key);
    if (it != m_clipFiles.end())
        return it->second.get();
    auto file = std::make_unique<CClipFile>(path);
    CClipFile* raw = file.get();
    m_clipFiles.emplace(std::move(key), std::move(file));
    return raw;
}

REFERENCE_TIME CPlayList::GetDuration() const {
    REFERENCE_TIME total = 0;
    for (const auto& clip : m_clips) {
        REFERENCE_TIME d = clip->GetDuration();
        if (d > 0)
            total = AddTimes(total, d);
    }
    return total;
}

REFERENCE_TIME CPlayList::GetPosition() {
    REFERENCE_TIME p = Handler().GetPosition();
    const CClip* clip = GetClip(m_current);
    if (clip && IsKnownTime(clip->GetListStart()))
        return AddTimes(clip->GetListStart(), SubtractTimes(p, clip->GetStart()));
    return p;
}

bool CPlayList::SelectClip(int index, bool reopen) {
    if (index < 0 || index >= GetCount() || (index == m_current && !reopen))
        return false;
    const CClip* prev = GetClip(m_current);
    CClip* next = m_clips[static_cast<size_t>(index)].get();
    bool opened = false;
    if (!next->IsSameFile(prev) || reopen) {
        CWaitCursorScope wait;
        Handler().OpenClip(next->GetFile()->GetPath());
        opened = true;
        UpdateDurations(index);
    }
    m_current = index;
    if (!opened || next->GetStart() > 0)
        Handler().Seek(next->GetStart(), opened);
    return opened;
}

bool CPlayList::UpdateDurations(int index) {
    REFERENCE_TIME d = Handler().GetDuration();
    if (d < 0)
        return false;
    CClip* opened = m_clips[static_cast<size_t>(index)].get();
    bool changed = opened->SetFileLength(d);
    if (m_clips.size() >= 2) {
        REFERENCE_TIME prevEnd = -1;
        for (size_t i = 0; i < m_clips.size(); ++i) {
            CClip* clip = m_clips[i].get();
            if (static_cast<int>(i) != index && clip->IsSameFile(opened) && clip->SetFileLength(d))
                changed = true;
            if (IsKnownTime(prevEnd) && clip->SetListStart(prevEnd))
                changed = true;
            prevEnd = clip->GetListEnd();
        }
    }
    if (changed && m_current >= 0)
        Handler().OnPlayListChanged();
    return changed;
}

int CPlayList::FindClip(REFERENCE_TIME position) const {
    const int count = GetCount();
    auto test = [&](int i) {
        return m_clips[static_cast<size_t>(i)]->ContainsListPosition(position, i == 0,
                                                                     i == count - 1);
    };
    if (m_current < 0) {
        for (int i = 0; i < count; ++i)
            if (test(i))
                return i;
        return -1;
    }
    for (int i = m_current; i < count; ++i)
        if (test(i))
            return i;
    for (int i = 0; i < m_current; ++i)
        if (test(i))
            return i;
    return -1;
}

void CPlayList::SetPosition(REFERENCE_TIME position) {
    int c = FindClip(position);
    bool opened = false;
    if (c >= 0 && c != m_current)
        opened = SelectClip(c);
    REFERENCE_TIME f = position;
    const CClip* clip = GetClip(m_current);
    if (clip && IsKnownTime(clip->GetListStart()))
        f = AddTimes(SubtractTimes(position, clip->GetListStart()), clip->GetStart());
    if (opened && f <= 0)
        return;  // the fresh file already stands at its beginning
    Handler().Seek(f, false);
}

int CPlayList::CheckClipEnd(bool reportOnly) {
    const CClip* clip = GetClip(m_current);
    if (!clip)
        return PLAYLIST_IN_CLIP;
    if (clip->ContainsFilePosition(Handler().GetPosition()))
        return PLAYLIST_IN_CLIP;
    if (m_current == GetCount() - 1)
        return PLAYLIST_FINISHED;
    if (!reportOnly)
        return SelectClip(m_current + 1) ? PLAYLIST_OTHER_FILE : PLAYLIST_SAME_FILE;
    return GetClip(m_current + 1)->IsSameFile(clip) ? PLAYLIST_SAME_FILE : PLAYLIST_OTHER_FILE;
}

int CPlayList::NextClip() {
    if (m_current >= 0 && m_current < GetCount() - 1)
        return SelectClip(m_current + 1) ? PLAYLIST_OTHER_FILE : PLAYLIST_SAME_FILE;
    return PLAYLIST_FINISHED;
}

int CPlayList::ReopenClip(int index) {
    if (index < 0 || index >= GetCount())
        return PLAYLIST_FINISHED;
    SelectClip(index, true);
    return PLAYLIST_OTHER_FILE;
}

void CPlayList::SetClipUnplayable(int index) {
    // The first clip keeps its place at the start: a play from the start
    // tries its file again.
    const CClip* failed = GetClip(index);
    if (!failed)
        return;
    for (size_t i = 1; i < m_clips.size(); ++i)
        if (m_clips[i]->IsSameFile(failed))
            m_clips[i]->SetFileLength(0);
}

std::string CPlayList::GetClipFile(int index) const {
    const CClip* clip = GetClip(index);
    return clip ? clip->GetFile()->GetPath() : std::string();
}

std::string CPlayList::GetClipTitle(int index) const {
    const CClip* clip = GetClip(index);
    return clip ? clip->GetTitle() : std::string();
}

std::string CPlayList::GetClipAbstract(int index) const {
    const CClip* clip = GetClip(index);
    return clip ? clip->GetAbstract() : std::string();
}

bool CPlayList::GetClipListRange(int index, REFERENCE_TIME& start, REFERENCE_TIME& end) const {
    const CClip* clip = GetClip(index);
    if (!clip) {
        start = end = 0;
        return false;
    }
    start = clip->GetListStart();
    end = clip->GetListEnd();
    return IsKnownTime(start);
}

bool CPlayList::GetClipFileRange(int index, REFERENCE_TIME& start, REFERENCE_TIME& end) const {
    const CClip* clip = GetClip(index);
    if (!clip) {
        start = end = 0;
        return false;
    }
    start = clip->GetStart();
    end = clip->GetEnd();
    return true;
}

bool CPlayList::IsWholeFile(int index) const {
    const CClip* clip = GetClip(index);
    return clip && clip->IsWholeFile();
}
