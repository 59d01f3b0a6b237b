#pragma once
// The hand-off to the maker's desktop video applications. When the control
// prefers a local application it looks for one (running first, then
// installed), starts it when needed, brings it to the front and forwards
// media and transport requests to it as CopyData messages.
//
// Kinds, tried in the order 3, 1, 2:
//
//   kind  recognised running by                       executable        product key minimum 1 bus
//   name com.korvani.ZAN_VELOTRAX_CLASS     veloTRAX.exe      orbalis veloTRAX       4.0.7.1 2 bus
//   name com.korvani.ZAN_ZENTRAVISOR_CLASS  zentraVISOR.exe   orbalis zentraVISOR    2.0.4.1 3
//   shared memory "velotrax5_Interop" holding   velotrax.exe      orbalis velotrax 5     5.0.3.1
//         the process id, whose process owns the bus name com.korvani.velotrax5_Interop
//
// The bus protocol is in platform/interop/AppWindow.h. A running
// application's executable is the one its process runs; an installed one is
// found in the registry store under
//
//   HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE, for each company key
//   "Korvani", then "Korvani Software":
//     Software\<company>\<product key>   value "InstallDir" (string)
//
// which the applications' installers write; the executable is
// <InstallDir>/<executable>. Versions are the product version of the
// executable's version note compared as one 64-bit number; an executable
// without a note never qualifies.
//
// Starting waits for the application's bus name: looked for at once and
// after waits of 1, 2, ... 10 s, the event loop running meanwhile (timers
// fire, windows repaint); the wait ends early when the name appears.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QByteArray>

#include "platform/interop/AppWindow.h"

class QEventLoop;

// How the control asks for the external desktop application: the control
// holds one object made by CreateExternalApp().
class IVelotraxExternalApp {
public:
    virtual ~IVelotraxExternalApp() = default;
    // Looks for an application again (PreferLocalApp changed, control
    // created); forgets the previous choice first. Nothing when 'prefer' is
    // false.
    virtual void Find(bool prefer) = 0;
    // An application kind was chosen.
    virtual bool IsChosen() const = 0;
    // Starts the chosen application when needed and brings it to the front;
    // false (and the choice forgotten) when that fails.
    virtual bool StartAndActivate() = 0;
    // The application's main window is known (Unrender forwards only then).
    virtual bool IsWindowKnown() = 0;
    // Messages to the application (dropped when it cannot take them).
    virtual void Forward(int code) = 0;
    virtual void Forward(int code, int32_t value) = 0;
    virtual void Forward(int code, const std::string& text) = 0;
    // For hosts: "none", or the kind, path and window state.
    virtual std::string Describe() const = 0;
};

std::unique_ptr<IVelotraxExternalApp> CreateExternalApp();

class CExternalApp : public IVelotraxExternalApp {
public:
    enum EKind { kindNone = 0 };

    // Message codes.
    enum ECode : uint32_t {
        codeNoMedia = 10,        // none
        codeFileName = 11,       // file name
        codeXtlFile = 12,        // name of a temporary XTL file
        codePlayList = 13,       // playlist text
        codeRender = 20,         // 32-bit 0, before 11/12/13 on behalf of Render
        codeUnrender = 21,       // 32-bit 1
        codeMediaLocation = 30,  // directory
        codePlay = 40,
        codePause = 41,
        codeStop = 42,
        codeDeinterlace = 50,  // 32-bit 0 or -1
        codeRate = 51,         // 32-bit rate x 100, truncated
        codeRepeat = 52,       // 32-bit 0 or -1
        codeCurrentPos = 60,   // 32-bit milliseconds
        codeStartTime = 61,
        codeStopTime = 62,
    };

    struct CKindInfo {
        int kind;
        const char* busClass;  // window class (kinds 1, 2) or mapping name (kind 3)
        const char* mapping;   // shared-memory object; null for kinds 1 and 2
        const char* exeName;
        const char* productKey;
        uint64_t minVersion;
    };
    // The kind's row of the table above; null for an unknown kind.
    static const CKindInfo* KindInfo(int kind);
    // The company keys and the value naming the installation directory.
    static const char* const kCompanyKeys[2];
    static constexpr const char kInstallDirValue[] = "InstallDir";

    CExternalApp();
    ~CExternalApp() override;
    CExternalApp(const CExternalApp&) = delete;
    CExternalApp& operator=(const CExternalApp&) = delete;

    // Forgets kind, path and window; then, when a local application is
    // preferred, looks for a running application of kind 3, 1, 2 and then an
    // installed one of kind 3, 1, 2, stopping at the first that qualifies.
    void LookFor(bool preferLocalApp);
    void Forget();

    int GetKind() const { return m_kind; }
    bool IsChosen() const override { return m_kind != kindNone; }
    const std::string& GetPath() const { return m_path; }
    const CAppWindow& GetWindow() const { return m_window; }
    // True while a started application is being waited for.
    bool IsStarting() const { return m_starting; }

    // Makes sure the chosen application runs and brings it to the front.
    // False when none is chosen, or when it cannot be started or its bus name
    // never appears: then the kind is forgotten and the caller shows its own
    // player. A call made while a start is waited for answers true at once
    // (the outer call decides).
    bool StartAndActivate() override;

    // Messages; each answers whether it was sent (or queued while a start is
    // waited for, and sent when the application appears). A message is
    // dropped when no window is known, the application shows a modal window
    // or does not answer.
    bool Send(uint32_t code);
    bool SendValue(uint32_t code, int32_t value);
    bool SendBool(uint32_t code, bool value);  // -1 or 0
    bool SendString(uint32_t code, const std::string& text);
    bool SendRate(double rate);

    // The data forms: a 32-bit little-endian value; a UTF-8 text as UTF-16LE
    // with its terminator, 2 x (bytes of the text + 1) bytes in all (zeros
    // after the terminator when the text is not ASCII); rate x 100 truncated
    // (clamped to 32 bits, 0 for NaN).
    static QByteArray ValueData(int32_t value);
    static QByteArray StringData(const std::string& text);
    static int32_t RateValue(double rate);

    // IVelotraxExternalApp
    void Find(bool prefer) override { LookFor(prefer); }
    // Looks for the main window again when the known one is gone.
    bool IsWindowKnown() override;
    void Forward(int code) override { Send(uint32_t(code)); }
    void Forward(int code, int32_t value) override { SendValue(uint32_t(code), value); }
    void Forward(int code, const std::string& text) override { SendString(uint32_t(code), text); }
    std::string Describe() const override;

    // The waits between looks for a started application, in milliseconds
    // (1000, 2000, ... 10000 unless set here or by VELOTRAX_EXTERNAL_WAIT).
    void SetWaitSchedule(std::vector<int> delaysMs) { m_waitSchedule = std::move(delaysMs); }

private:
    enum class EWait { found, missing, abandoned };

    bool FindRunning(const CKindInfo& info);
    bool FindInstalled(const CKindInfo& info);
    CAppWindow FindMainWindow(const CKindInfo& info) const;
    EWait WaitForMainWindow(const CKindInfo& info);
    bool Deliver(uint32_t code, QByteArray data);

    int m_kind = kindNone;
    std::string m_path;
    CAppWindow m_window;
    std::vector<int> m_waitSchedule;
    bool m_starting = false;
    bool m_posted = false;  // a message was posted since the last answered call
    std::vector<std::pair<uint32_t, QByteArray>> m_pending;
    unsigned m_generation = 0;  // bumped by every Forget
    std::shared_ptr<bool> m_alive;
    QEventLoop* m_waitLoop = nullptr;
};
