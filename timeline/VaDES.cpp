#include "timeline/VaDES.h"

#include <memory>

#include "support/Exception.h"
#include "timeline/VaErrorLogErrorInfo.h"
#include "timeline/VaMediaLocatorImpl.h"

namespace {

// An empty wrapper has nothing to call; no stale error description may ride along.
[[noreturn]] void ThrowEmpty() {
    SetErrorInfo(0, nullptr);
    ThrowHResult(E_POINTER);
}

// Checks a call that may have logged entries that are no failures: those
// went to the error log already and must not ride along with a later,
// unrelated failure of this thread.
void CheckAndSettle(HRESULT hr) {
    CheckHResult(hr);
    SetErrorInfo(0, nullptr);
}

template <class T>
T* CheckedPtr(const CComPtr<T>& p) {
    if (!p)
        ThrowEmpty();
    return p.Get();
}

// Asks an object for a typed view: null when it does not offer it, a throw
// for any other failure.
template <class T>
CComPtr<T> Typed(IUnknown* object) {
    CComPtr<T> typed;
    if (!object)
        return typed;
    HRESULT hr = object->QueryInterface(T::iid, typed.ReleaseAndGetVoidAddress());
    if (hr == E_NOINTERFACE)
        return nullptr;
    CheckHResult(hr);
    return typed;
}

}  // namespace

// ---------------------------------------------------------------- timeline

IAMTimeline* CVaAMTimeline::Checked() const {
    return CheckedPtr(m_timeline);
}

void CVaAMTimeline::Create() {
    m_timeline = nullptr;
    CComPtr<IAMTimeline> made;
    CheckHResult(made.CreateInstance(CLSID_AMTimeline, nullptr, CLSCTX_INPROC_SERVER));
    m_timeline = made;
}

void CVaAMTimeline::SetErrorLog() {
    CComPtr<IAMErrorLog> log(static_cast<IAMErrorLog*>(new CVaErrorLogErrorInfo()));
    SetErrorLog(log);
}

void CVaAMTimeline::SetErrorLog(IAMErrorLog* log) {
    CComPtr<IAMSetErrorLog> setLog = Typed<IAMSetErrorLog>(Checked());
    if (!setLog)
        ThrowHResult(E_NOINTERFACE);
    CheckHResult(setLog->put_ErrorLog(log));
}

void CVaAMTimeline::ClearAllGroups() {
    CheckHResult(Checked()->ClearAllGroups());
}

int CVaAMTimeline::GetGroupCount() const {
    long count = 0;
    CheckHResult(Checked()->GetGroupCount(&count));
    return int(count);
}

CVaAMTimelineGroup CVaAMTimeline::GetGroup(int index) const {
    CComPtr<IAMTimelineObj> group;
    CheckHResult(Checked()->GetGroup(&group, index));
    return CVaAMTimelineGroup(CVaAMTimelineObj(group));
}

REFERENCE_TIME CVaAMTimeline::GetDuration() const {
    REFERENCE_TIME duration = 0;
    CheckHResult(Checked()->GetDuration(&duration));
    return duration;
}

void CVaAMTimeline::LoadXtl(const std::string& path) {
    Checked();
    CVaXml2Dex reader;
    reader.Create();
    reader.ReadXMLFile(*this, path);
}

void CVaAMTimeline::ValidateSourceNames(long flags, const CVaMediaLocator* locator,
                                        DWORD timeoutMs) {
    IAMTimeline* timeline = Checked();
    // The services signal completion on an event of ours. They are not
    // trusted to signal it: the wait is bounded and ends in a time-out error.
    auto done = std::make_unique<CEvent>(true);
    CheckHResult(timeline->ValidateSourceNames(
        flags, locator && locator->IsValid() ? locator->Get() : nullptr, done.get()));
    if (!done->Wait(timeoutMs)) {
        // Services that finish late still find their event: it is left to them.
        done.release();
        SetErrorDescription("The check of the timeline's source files did not finish.");
        ThrowHResult(HRESULT_TIMEOUT);
    }
}

// ---------------------------------------------------------------- objects

IAMTimelineObj* CVaAMTimelineObj::CheckedObj() const {
    return CheckedPtr(m_obj);
}

void CVaAMTimelineObj::GetStartStop(REFERENCE_TIME& start, REFERENCE_TIME& stop) const {
    CheckHResult(CheckedObj()->GetStartStop(&start, &stop));
}

std::string CVaAMTimelineObj::GetUserName() const {
    std::string name;
    CheckHResult(CheckedObj()->GetUserName(&name));
    return name;
}

CVaAMTimelineComp::CVaAMTimelineComp(const CVaAMTimelineObj& obj)
    : CVaAMTimelineObj(obj), m_comp(Typed<IAMTimelineComp>(obj.GetObj())) {}

int CVaAMTimelineComp::GetTrackCount() const {
    long count = 0;
    CheckHResult(CheckedPtr(m_comp)->VTrackGetCount(&count));
    return int(count);
}

CVaAMTimelineObj CVaAMTimelineComp::GetTrack(int index) const {
    CComPtr<IAMTimelineObj> track;
    CheckHResult(CheckedPtr(m_comp)->GetVTrack(&track, index));
    return CVaAMTimelineObj(track);
}

CVaAMTimelineGroup::CVaAMTimelineGroup(const CVaAMTimelineObj& obj)
    : CVaAMTimelineComp(obj), m_group(Typed<IAMTimelineGroup>(obj.GetObj())) {}

void CVaAMTimelineGroup::SetOutputFPS(double fps) {
    CheckHResult(CheckedPtr(m_group)->SetOutputFPS(fps));
}

double CVaAMTimelineGroup::GetOutputFPS() const {
    double fps = 0;
    CheckHResult(CheckedPtr(m_group)->GetOutputFPS(&fps));
    return fps;
}

bool CVaAMTimelineGroup::IsVideo() const {
    DES_MEDIA_KIND kind = DES_MEDIA_VIDEO;
    CheckHResult(CheckedPtr(m_group)->GetMediaKind(&kind));
    return kind == DES_MEDIA_VIDEO;
}

CVaAMTimelineTrack::CVaAMTimelineTrack(const CVaAMTimelineObj& obj)
    : CVaAMTimelineObj(obj), m_track(Typed<IAMTimelineTrack>(obj.GetObj())) {}

CVaAMTimelineSrc CVaAMTimelineTrack::GetNextSource(const CVaAMTimelineSrc* previous) const {
    CComPtr<IAMTimelineObj> next;
    CheckHResult(CheckedPtr(m_track)->GetNextSrcEx(previous ? previous->GetObj() : nullptr, &next));
    return next ? CVaAMTimelineSrc(CVaAMTimelineObj(next)) : CVaAMTimelineSrc();
}

CVaAMTimelineSrc::CVaAMTimelineSrc(const CVaAMTimelineObj& obj)
    : CVaAMTimelineObj(obj), m_src(Typed<IAMTimelineSrc>(obj.GetObj())) {}

std::string CVaAMTimelineSrc::GetMediaName() const {
    std::string name;
    CheckHResult(CheckedPtr(m_src)->GetMediaName(&name));
    return name;
}

void CVaAMTimelineSrc::GetMediaTimes(REFERENCE_TIME& start, REFERENCE_TIME& stop) const {
    CheckHResult(CheckedPtr(m_src)->GetMediaTimes(&start, &stop));
}

// ---------------------------------------------------------------- error log, reader, locator

CVaAMSetErrorLog::CVaAMSetErrorLog(IUnknown* object) : m_setLog(Typed<IAMSetErrorLog>(object)) {}

void CVaAMSetErrorLog::SetErrorLog(IAMErrorLog* log) {
    CheckHResult(CheckedPtr(m_setLog)->put_ErrorLog(log));
}

IXml2Dex* CVaXml2Dex::Checked() const {
    return CheckedPtr(m_reader);
}

void CVaXml2Dex::Create() {
    m_reader = nullptr;
    CComPtr<IXml2Dex> made;
    CheckHResult(made.CreateInstance(CLSID_Xml2Dex, nullptr, CLSCTX_INPROC_SERVER));
    m_reader = made;
}

void CVaXml2Dex::ReadXMLFile(const CVaAMTimeline& timeline, const std::string& path) {
    CheckAndSettle(Checked()->ReadXMLFile(CheckedPtr(CComPtr<IAMTimeline>(timeline.Get())), path));
}

void CVaXml2Dex::ReadXML(const CVaAMTimeline& timeline, const std::string& text) {
    CheckAndSettle(Checked()->ReadXML(CheckedPtr(CComPtr<IAMTimeline>(timeline.Get())), text));
}

void CVaMediaLocator::CreateOwn() {
    CComPtr<IMediaLocator> own;
    own.Attach(new CVaMediaLocatorImpl());  // its count starts at 1
    m_locator = own;
}

void CVaMediaLocator::AddFoundLocation(const std::string& folder) {
    CheckHResult(CheckedPtr(m_locator)->AddFoundLocation(folder));
}

// ---------------------------------------------------------------- render engine

CVaRenderEngine::CVaRenderEngine(const CVaRenderEngine& other) : m_holder(other.m_holder) {
    if (m_holder)
        ++m_holder->refs;
}

CVaRenderEngine& CVaRenderEngine::operator=(const CVaRenderEngine& other) {
    if (other.m_holder)
        ++other.m_holder->refs;
    Release();
    m_holder = other.m_holder;
    return *this;
}

CVaRenderEngine::~CVaRenderEngine() {
    Release();
}

void CVaRenderEngine::Release() {
    CHolder* holder = std::exchange(m_holder, nullptr);
    if (!holder || --holder->refs > 0)
        return;
    if (holder->connected && holder->engine)
        holder->engine->ScrapIt();  // a failure leaves nothing to undo here
    delete holder;
}

IRenderEngine* CVaRenderEngine::Checked() const {
    if (!m_holder || !m_holder->engine)
        ThrowEmpty();
    return m_holder->engine.Get();
}

void CVaRenderEngine::Create() {
    CComPtr<IRenderEngine> made;
    CheckHResult(made.CreateInstance(CLSID_RenderEngine, nullptr, CLSCTX_INPROC_SERVER));
    Release();
    m_holder = new CHolder();
    m_holder->engine = made;
}

void CVaRenderEngine::SetTimelineObject(const CVaAMTimeline& timeline) {
    CheckHResult(Checked()->SetTimelineObject(timeline.Get()));
}

void CVaRenderEngine::SetFilterGraph(IGraphBuilder* graph) {
    if (!graph)
        ThrowEmpty();
    CheckHResult(Checked()->SetFilterGraph(graph));
}

void CVaRenderEngine::SetDynamicReconnectLevel(long level) {
    CheckHResult(Checked()->SetDynamicReconnectLevel(level));
}

void CVaRenderEngine::ConnectFrontEnd() {
    CheckAndSettle(Checked()->ConnectFrontEnd());
    m_holder->connected = true;
}

void CVaRenderEngine::RenderOutputPins() {
    CheckAndSettle(Checked()->RenderOutputPins());
}

void CVaRenderEngine::ScrapIt() {
    IRenderEngine* engine = Checked();
    m_holder->connected = false;
    CheckHResult(engine->ScrapIt());
}
