#pragma once
// The wrapper values over the editing services: each holds counted
// references to the services' interfaces, turns failed calls into
// CComException and is legal when empty (IsValid tells). An operation on an
// empty wrapper throws CComException with E_POINTER. A typed wrapper made
// from an object wrapper holds the object and asks it for its typed view;
// when the object does not offer it, the wrapper is not valid.
#include <string>

#include "platform/des/Des.h"

class CVaAMTimelineGroup;
class CVaAMTimelineObj;
class CVaAMTimelineSrc;
class CVaMediaLocator;

class CVaDESBase {
public:
    virtual ~CVaDESBase() = default;
    virtual bool IsValid() const = 0;

protected:
    CVaDESBase() = default;
    CVaDESBase(const CVaDESBase&) = default;
    CVaDESBase& operator=(const CVaDESBase&) = default;
};

class CVaAMTimeline : public CVaDESBase {
public:
    // How long ValidateSourceNames waits for the services to finish, in ms.
    static constexpr DWORD kValidateTimeoutMs = 60000;

    CVaAMTimeline() = default;
    bool IsValid() const override { return m_timeline != nullptr; }

    // Makes a new, empty timeline, releasing the one held before.
    void Create();
    // Gives the timeline a new error log that turns its entries into the
    // thread's error information; or the log given.
    void SetErrorLog();
    void SetErrorLog(IAMErrorLog* log);
    void ClearAllGroups();
    int GetGroupCount() const;
    CVaAMTimelineGroup GetGroup(int index) const;
    // The end of the timeline's last clip.
    REFERENCE_TIME GetDuration() const;
    // Reads an XTL file into the timeline.
    void LoadXtl(const std::string& path);
    // Checks the sources' names, repairing them through the locator (or
    // only checking them without one); throws HRESULT_TIMEOUT when the
    // services do not finish within the time-out (ms).
    void ValidateSourceNames(long flags, const CVaMediaLocator* locator,
                             DWORD timeoutMs = kValidateTimeoutMs);

    IAMTimeline* Get() const { return m_timeline.Get(); }

private:
    IAMTimeline* Checked() const;

    CComPtr<IAMTimeline> m_timeline;
};

class CVaAMTimelineObj : public CVaDESBase {
public:
    CVaAMTimelineObj() = default;
    explicit CVaAMTimelineObj(IAMTimelineObj* obj) : m_obj(obj) {}
    bool IsValid() const override { return m_obj != nullptr; }

    void GetStartStop(REFERENCE_TIME& start, REFERENCE_TIME& stop) const;
    std::string GetUserName() const;

    IAMTimelineObj* GetObj() const { return m_obj.Get(); }

protected:
    IAMTimelineObj* CheckedObj() const;
    // The object's typed view, or null when it does not offer it.
    template <class T>
    CComPtr<T> QueryTyped() const;

    CComPtr<IAMTimelineObj> m_obj;
};

class CVaAMTimelineComp : public CVaAMTimelineObj {
public:
    CVaAMTimelineComp() = default;
    explicit CVaAMTimelineComp(const CVaAMTimelineObj& obj);
    bool IsValid() const override { return m_obj != nullptr && m_comp != nullptr; }

    int GetTrackCount() const;
    // A track or composition of the composition.
    CVaAMTimelineObj GetTrack(int index) const;

private:
    CComPtr<IAMTimelineComp> m_comp;
};

class CVaAMTimelineGroup : public CVaAMTimelineComp {
public:
    CVaAMTimelineGroup() = default;
    explicit CVaAMTimelineGroup(const CVaAMTimelineObj& obj);
    bool IsValid() const override { return m_group != nullptr && CVaAMTimelineComp::IsValid(); }

    void SetOutputFPS(double fps);
    double GetOutputFPS() const;
    bool IsVideo() const;

private:
    CComPtr<IAMTimelineGroup> m_group;
};

class CVaAMTimelineTrack : public CVaAMTimelineObj {
public:
    CVaAMTimelineTrack() = default;
    explicit CVaAMTimelineTrack(const CVaAMTimelineObj& obj);
    bool IsValid() const override { return m_obj != nullptr && m_track != nullptr; }

    // The source after 'previous' (null: the first); an empty wrapper at the end.
    CVaAMTimelineSrc GetNextSource(const CVaAMTimelineSrc* previous) const;

private:
    CComPtr<IAMTimelineTrack> m_track;
};

class CVaAMTimelineSrc : public CVaAMTimelineObj {
public:
    CVaAMTimelineSrc() = default;
    explicit CVaAMTimelineSrc(const CVaAMTimelineObj& obj);
    bool IsValid() const override { return m_obj != nullptr && m_src != nullptr; }

    std::string GetMediaName() const;
    void GetMediaTimes(REFERENCE_TIME& start, REFERENCE_TIME& stop) const;

private:
    CComPtr<IAMTimelineSrc> m_src;
};

class CVaAMSetErrorLog : public CVaDESBase {
public:
    CVaAMSetErrorLog() = default;
    explicit CVaAMSetErrorLog(IUnknown* object);
    bool IsValid() const override { return m_setLog != nullptr; }

    void SetErrorLog(IAMErrorLog* log);

private:
    CComPtr<IAMSetErrorLog> m_setLog;
};

class CVaXml2Dex : public CVaDESBase {
public:
    bool IsValid() const override { return m_reader != nullptr; }

    void Create();
    void ReadXMLFile(const CVaAMTimeline& timeline, const std::string& path);
    void ReadXML(const CVaAMTimeline& timeline, const std::string& text);

private:
    IXml2Dex* Checked() const;

    CComPtr<IXml2Dex> m_reader;
};

class CVaMediaLocator : public CVaDESBase {
public:
    bool IsValid() const override { return m_locator != nullptr; }

    // Holds a new locator of the player's own (CVaMediaLocatorImpl).
    void CreateOwn();
    void AddFoundLocation(const std::string& folder);

    IMediaLocator* Get() const { return m_locator.Get(); }

private:
    CComPtr<IMediaLocator> m_locator;
};

// The render engine. Copies share one engine holder; the last owner scraps
// the engine when its front end was connected.
class CVaRenderEngine : public CVaDESBase {
public:
    CVaRenderEngine() = default;
    CVaRenderEngine(const CVaRenderEngine& other);
    CVaRenderEngine& operator=(const CVaRenderEngine& other);
    ~CVaRenderEngine() override;
    bool IsValid() const override { return m_holder && m_holder->engine; }

    void Create();
    void SetTimelineObject(const CVaAMTimeline& timeline);
    void SetFilterGraph(IGraphBuilder* graph);
    void SetDynamicReconnectLevel(long level);
    void ConnectFrontEnd();
    void RenderOutputPins();
    void ScrapIt();
    bool IsConnected() const { return m_holder && m_holder->connected; }

private:
    struct CHolder {
        int refs = 1;
        CComPtr<IRenderEngine> engine;
        bool connected = false;
    };
    IRenderEngine* Checked() const;
    void Release();

    CHolder* m_holder = nullptr;
};
