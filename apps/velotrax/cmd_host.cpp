// velotrax host: a small container window that creates the control by its
// ProgID (through the registered module) and drives it by hand or by a
// script that adds automation lines to those of the player window.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "apps/velotrax/Command.h"
#include "apps/velotrax/ControlModule.h"
#include "apps/velotrax/PlayerScript.h"
#include "apps/velotrax/PlayerWindow.h"
#include "control/VelotraxControl.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/Persist.h"
#include "platform/registry/Registry.h"
#include "support/MessageBox.h"
#include "ui/MsTimeCtrl.h"
#include "ui/VideoCtrlPanel.h"
#include "ui/VideoPanel.h"
#include "ui/VideoPlayerCtrl.h"

namespace {

const char* const kProgID = "Velotrax.VelotraxCtrl.1";

std::string ErrorText(HRESULT hr, const EXCEPINFO& info) {
    return "error: " + HResultText(hr == DISP_E_EXCEPTION ? info.scode : hr);
}

// The pending error object's description, if any.
std::string TakeErrorDescription() {
    CComPtr<IErrorInfo> info;
    std::string text;
    if (GetErrorInfo(0, &info) == S_OK && info)
        info->GetDescription(&text);
    return text;
}

std::string FormatValue(const VARIANT& v) {
    switch (v.vt) {
        case VT_BOOL:
            return v.boolVal ? "true" : "false";
        case VT_I4:
            return std::to_string(v.lVal);
        case VT_R8: {
            char text[32];
            std::snprintf(text, sizeof text, "%.4f", v.dblVal);
            return text;
        }
        case VT_BSTR:
            return v.bstrVal;
        case VT_EMPTY:
        case VT_NULL:
            return "null";
        case VT_DISPATCH: {
            CComPtr<IDispatch> picture;
            if (v.punkVal)
                v.punkVal->QueryInterface(IDispatch::iid, picture.ReleaseAndGetVoidAddress());
            if (!picture)
                return "null";
            // Width and height in HIMETRIC, shown in pixels at 96 per inch.
            VARIANT w, h;
            DispatchGet(picture, 4, &w);
            DispatchGet(picture, 5, &h);
            auto px = [](int32_t himetric) { return std::lround(himetric * 96.0 / 2540.0); };
            return "picture " + std::to_string(px(w.lVal)) + "x" + std::to_string(px(h.lVal));
        }
        default:
            return "vt " + std::to_string(v.vt);
    }
}

class CHost {
public:
    CHost(IDispatch* control, QWidget& window, CPlayerScript& script)
        : m_control(control), m_window(window), m_script(script) {
        m_site = CComPtr<IVelotraxControl>(control);
    }

    std::optional<bool> Execute(const std::string& word, const std::string& rest) {
        std::vector<std::string> args;
        std::istringstream in(rest);
        for (std::string w; in >> w;)
            args.push_back(w);
        if (word == "set") {
            // The value is everything after the name (spaces included).
            if (args.empty())
                return m_script.Fail("set needs a name and a value");
            std::string value = rest.substr(rest.find(args[0]) + args[0].size());
            if (!value.empty() && (value[0] == ' ' || value[0] == '\t'))
                value.erase(0, 1);
            return Put(Id(args[0]), value);
        }
        if (word == "get") {
            if (args.size() != 1)
                return m_script.Fail("get needs a name");
            return Get(Id(args[0]));
        }
        if (word == "call") {
            if (args.empty())
                return m_script.Fail("call needs a name");
            return Call(Id(args[0]), {args.begin() + 1, args.end()});
        }
        if (word == "dispid") {
            if (args.size() < 2)
                return m_script.Fail("dispid needs a number and get, put or call");
            char* end = nullptr;
            long id = std::strtol(args[0].c_str(), &end, 10);
            if (*end)
                return m_script.Fail("bad dispid " + args[0]);
            if (args[1] == "get" && args.size() == 2)
                return Get(DISPID(id));
            if (args[1] == "put" && args.size() >= 3) {
                std::string value = rest.substr(rest.find(" put ") + 5);
                return Put(DISPID(id), value);
            }
            if (args[1] == "call")
                return Call(DISPID(id), {args.begin() + 2, args.end()});
            return m_script.Fail("dispid needs get, put VALUE or call [ARG...]");
        }
        if (word == "modified")
            return m_script.Print(m_site && m_site->GetModified(true) ? "1" : "0");
        if (word == "external")
            return m_script.Print(m_site ? m_site->DescribeExternal() : "none");
        if (word == "save-bag" || word == "load-bag")
            return Bag(word == "save-bag", rest);
        if (word == "save-stream" || word == "load-stream")
            return Stream(word == "save-stream", rest);
        if (word == "stored") {
            // The stored text of FileName, XTL or PlayList.
            if (args.size() != 1 || !m_site)
                return m_script.Fail("stored needs a name");
            std::string text = m_site->GetStoredText(Id(args[0]));
            if (text.size() > 200)
                return m_script.Print("length " + std::to_string(text.size()));
            return m_script.Print(text);
        }
        if (word == "units") {
            // The player's selection in 100 ns units, as the play context holds it.
            CVideoPanel* video = Video();
            if (!video)
                return m_script.Print("no player");
            REFERENCE_TIME start = -1, stop = -1;
            video->GetPlayCtx().GetSelection(start, stop);
            return m_script.Print(std::to_string(start) + " " + std::to_string(stop));
        }
        if (word == "frame")
            return m_script.Print(DescribeFrame());
        if (word == "frame-state") {
            QWidget* frame = m_site ? m_site->GetFrameWindow() : nullptr;
            if (!frame || !frame->isWindow())
                return m_script.Fail("no free-floating frame");
            if (rest == "max")
                frame->showMaximized();
            else if (rest == "min")
                frame->showMinimized();
            else if (rest == "normal")
                frame->showNormal();
            else
                return m_script.Fail("frame-state needs max, min or normal");
            QCoreApplication::processEvents();
            return m_script.Print("ok");
        }
        if (word == "close-frame") {
            QWidget* frame = m_site ? m_site->GetFrameWindow() : nullptr;
            if (!frame || !frame->isWindow())
                return m_script.Fail("no free-floating frame");
            frame->close();
            QCoreApplication::processEvents();
            return m_script.Print("ok");
        }
        if (word == "link") {
            QWidget* control = m_site ? m_site->GetControlWindow() : nullptr;
            if (!control)
                return m_script.Fail("no control window");
            QWidget* frame = m_site->GetFrameWindow();
            bool inPlace = frame && !frame->isWindow() && frame->isVisible();
            return m_script.Print(std::string(inPlace ? "hidden " : "shown ") +
                                  std::to_string(control->width()) + "x" +
                                  std::to_string(control->height()));
        }
        if (word == "focus") {
            CVelotraxCtrl* player = Player();
            CVideoCtrlPanel* ctrl = player ? player->GetControlPanel(0) : nullptr;
            if (!ctrl)
                return m_script.Fail("no player");
            QWidget* target = nullptr;
            if (rest == "file")
                target = ctrl->GetFileCombo();
            else if (rest == "time")
                target = ctrl->GetTimeCtrl();
            else if (rest == "video")
                target = reinterpret_cast<QWidget*>(Video()->GetVideoWindow());
            if (!target)
                return m_script.Fail("focus needs file, time or video");
            target->window()->activateWindow();
            target->setFocus(Qt::OtherFocusReason);
            QCoreApplication::processEvents();
            return m_script.Print("ok");
        }
        if (word == "file-cursor") {
            CVelotraxCtrl* player = Player();
            CVideoCtrlPanel* ctrl = player ? player->GetControlPanel(0) : nullptr;
            if (!ctrl || !ctrl->GetFileCombo()->lineEdit())
                return m_script.Fail("no file box");
            return m_script.Print(
                std::to_string(ctrl->GetFileCombo()->lineEdit()->cursorPosition()));
        }
        return std::nullopt;
    }

    CVelotraxCtrl* Player() const {
        // The player window belongs to the module; it is read through this
        // program's view of the same classes.
        return m_site ? static_cast<CVelotraxCtrl*>(m_site->GetPlayerWindow()) : nullptr;
    }

private:
    CVideoPanel* Video() const {
        CVelotraxCtrl* player = Player();
        return player ? player->GetVideoPanel(0) : nullptr;
    }

    DISPID Id(const std::string& name) { return DispatchIdOf(m_control, name); }

    bool Report(HRESULT hr, const EXCEPINFO& info, const std::string& okText = "ok") {
        if (FAILED(hr))
            return m_script.Fail(ErrorText(hr, info).substr(7));
        return m_script.Print(okText);
    }

    bool Put(DISPID id, const std::string& value) {
        EXCEPINFO info;
        HRESULT hr = DispatchPut(m_control, id, VARIANT::FromString(value), &info);
        QCoreApplication::processEvents();
        return Report(hr, info);
    }

    bool Get(DISPID id) {
        EXCEPINFO info;
        VARIANT result;
        HRESULT hr = DispatchGet(m_control, id, &result, &info);
        return Report(hr, info, SUCCEEDED(hr) ? FormatValue(result) : std::string());
    }

    bool Call(DISPID id, const std::vector<std::string>& words) {
        std::vector<VARIANT> args;
        for (const std::string& w : words)
            args.push_back(VARIANT::FromString(w));
        EXCEPINFO info;
        VARIANT result;
        HRESULT hr = DispatchCall(m_control, id, args, &result, &info);
        QCoreApplication::processEvents();
        return Report(hr, info, result.vt == VT_EMPTY ? "ok" : FormatValue(result));
    }

    bool Bag(bool save, const std::string& path) {
        CComPtr<IPersistPropertyBag> persist(m_control);
        if (!persist || path.empty())
            return m_script.Fail(path.empty() ? "needs a file" : "no property bag");
        CComPtr<CPropertyBag> bag(new CPropertyBag);
        std::string error;
        if (save) {
            HRESULT hr = persist->Save(bag, true, true);
            if (FAILED(hr))
                return m_script.Fail(HResultText(hr));
            return bag->SaveFile(path, &error) ? m_script.Print("ok") : m_script.Fail(error);
        }
        if (!bag->LoadFile(path, &error))
            return m_script.Fail(error);
        HRESULT hr = persist->Load(bag, nullptr);
        return FAILED(hr) ? m_script.Fail(HResultText(hr)) : m_script.Print("ok");
    }

    bool Stream(bool save, const std::string& path) {
        CComPtr<IPersistStreamInit> persist(m_control);
        if (!persist || path.empty())
            return m_script.Fail(path.empty() ? "needs a file" : "no stream persistence");
        if (save) {
            CComPtr<CMemoryStream> stream(new CMemoryStream);
            HRESULT hr = persist->Save(stream, true);
            if (FAILED(hr))
                return m_script.Fail(HResultText(hr));
            FILE* f = std::fopen(path.c_str(), "wb");
            if (!f)
                return m_script.Fail("cannot write " + path);
            std::fwrite(stream->Data().data(), 1, stream->Data().size(), f);
            std::fclose(f);
            return m_script.Print("ok");
        }
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            return m_script.Fail("cannot read " + path);
        std::vector<uint8_t> data;
        for (int c; (c = std::fgetc(f)) != EOF;)
            data.push_back(uint8_t(c));
        std::fclose(f);
        CComPtr<CMemoryStream> stream(new CMemoryStream(std::move(data)));
        HRESULT hr = persist->Load(stream);
        return FAILED(hr) ? m_script.Fail(HResultText(hr)) : m_script.Print("ok");
    }

    std::string DescribeFrame() {
        QWidget* frame = m_site ? m_site->GetFrameWindow() : nullptr;
        if (!frame)
            return "none";
        // Frames and players get numbers in the order they are first seen.
        auto number = [](std::map<const void*, int>& seen, const void* p) {
            auto it = seen.find(p);
            if (it == seen.end())
                it = seen.emplace(p, int(seen.size()) + 1).first;
            return std::to_string(it->second);
        };
        std::string text = frame->isWindow() ? "floating" : "embedded";
        if (frame->isWindow() && frame->isMaximized())
            text += " maximized";
        if (frame->isWindow() && frame->isMinimized())
            text += " minimized";
        text += " frame=" + number(m_frames, frame);
        text += " player=" + number(m_players, Player());
        return text;
    }

    IDispatch* m_control;
    CComPtr<IVelotraxControl> m_site;
    QWidget& m_window;
    CPlayerScript& m_script;
    std::map<const void*, int> m_frames, m_players;
};

// Creates the control by its ProgID, registering the module first when
// the ProgID is unknown and 'autoRegister' allows it.
HRESULT CreateControl(bool autoRegister, CComPtr<IDispatch>& control, std::string& error) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kProgID, &clsid);
    if (hr == REGDB_E_CLASSNOTREG && autoRegister) {
        std::string module = DefaultControlModule();
        if (module.empty()) {
            error = "the control module is not installed";
            return hr;
        }
        hr = RegisterControlModule(module, false, &error);
        if (FAILED(hr))
            return hr;
        hr = CLSIDFromProgID(kProgID, &clsid);
    }
    if (FAILED(hr)) {
        error = std::string(kProgID) + " is not registered";
        return hr;
    }
    hr = control.CreateInstance(clsid);
    if (FAILED(hr)) {
        error = TakeErrorDescription();
        if (error.empty())
            error = "cannot create " + std::string(kProgID);
    }
    return hr;
}

int RunHost(int argc, char** argv) {
    CCommandLine cl(
        "host", {"[--script FILE|-] [--prop NAME=VALUE]... [--size WxH] [--bag FILE]"},
        "A container window holding the control, created by its ProgID\n"
        "Velotrax.VelotraxCtrl.1 (the built module is registered first when the\n"
        "ProgID is unknown). --bag loads persisted properties, --prop sets automation\n"
        "properties before the window is made. A script takes the player's lines\n"
        "(see velotrax player --help) and these:\n"
        "  set NAME VALUE | get NAME | call NAME [ARG...] | dispid N get|put|call [ARG...]\n"
        "  modified | save-bag FILE | load-bag FILE | save-stream FILE | load-stream FILE\n"
        "  external | stored NAME | units | frame | frame-state max|min|normal\n"
        "  close-frame | link | focus file|time|video | file-cursor\n"
        "Failed calls print 'error: 0x...' with the HRESULT.");
    cl.AddOption({"script"}, "execute FILE (- reads standard input)", "FILE");
    cl.AddOption({"prop"}, "set property NAME to VALUE before the window is made", "NAME=VALUE");
    cl.AddOption({"size"}, "the control's size (default 640x520)", "WxH");
    cl.AddOption({"bag"}, "load the persisted properties from FILE", "FILE");
    cl.AddOption({"no-register"}, "never register the module (fail when it is not registered)");
    if (auto status = cl.Parse(argc, argv))
        return *status;
    if (!cl.Positional().empty())
        return cl.UsageError("takes no arguments");
    int width = 640, height = 520;
    if (cl.IsSet("size")) {
        char x = 0;
        std::istringstream in(cl.Value("size"));
        if (!(in >> width >> x >> height) || x != 'x' || width <= 0 || height <= 0 ||
            width > 10000 || height > 10000)
            return cl.UsageError("--size needs WxH");
    }
    std::vector<std::pair<std::string, std::string>> props;
    for (const std::string& p : cl.Values("prop")) {
        size_t eq = p.find('=');
        if (eq == std::string::npos || eq == 0)
            return cl.UsageError("--prop needs NAME=VALUE");
        props.emplace_back(p.substr(0, eq), p.substr(eq + 1));
    }

    if (IsHeadless() && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qargc = 1;
    char* qargv[] = {argv[0], nullptr};
    QApplication app(qargc, qargv);
    InstallQtTranslations(app);
    QApplication::setApplicationName("velotrax");
    const bool offscreen = QGuiApplication::platformName() == "offscreen";

    std::function<bool(std::string&)> source;
    if (cl.IsSet("script")) {
        std::string error;
        source = OpenScriptSource(cl.Value("script"), error);
        if (!source) {
            std::fprintf(stderr, "velotrax host: %s\n", error.c_str());
            return kExitUsage;
        }
        SetMessageBoxHandler([](const std::string& text, unsigned, unsigned) {
            std::fprintf(stderr, "velotrax: %s\n", text.c_str());
            std::fflush(stderr);
            return IDOK;
        });
    }

    int status = kExitOk;
    {
        CComPtr<IDispatch> control;
        std::string error;
        HRESULT hr = CreateControl(!cl.IsSet("no-register"), control, error);
        if (FAILED(hr)) {
            std::fprintf(stderr, "velotrax host: %s (%s)\n", error.c_str(),
                         HResultText(hr).c_str());
            return kExitFailure;
        }
        if (cl.IsSet("bag")) {
            CComPtr<CPropertyBag> bag(new CPropertyBag);
            CComPtr<IPersistPropertyBag> persist(control);
            if (!bag->LoadFile(cl.Value("bag"), &error) || !persist ||
                FAILED(persist->Load(bag, nullptr))) {
                std::fprintf(stderr, "velotrax host: %s\n",
                             error.empty() ? "the bag cannot be loaded" : error.c_str());
                return kExitFailure;
            }
        }
        for (const auto& [name, value] : props) {
            EXCEPINFO info;
            hr = DispatchPut(control, DispatchIdOf(control, name), VARIANT::FromString(value),
                             &info);
            if (FAILED(hr)) {
                std::fprintf(stderr, "velotrax host: --prop %s: %s\n", name.c_str(),
                             ErrorText(hr, info).c_str());
                return kExitFailure;
            }
        }
        QWidget window;
        window.setWindowTitle("Velotrax Host");
        window.resize(width, height);
        CComPtr<IVelotraxControl> site(control);
        QWidget* controlWindow = site ? site->CreateControlWindow(&window) : nullptr;
        if (!controlWindow) {
            std::fprintf(stderr, "velotrax host: the control's window cannot be created\n");
            return kExitFailure;
        }
        // The control keeps the size it asks for (AutoSize); the window
        // starts at the control's size.
        controlWindow->setGeometry(0, 0, width, height);
        window.show();
        // The control's deferred start runs before the first line.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (source) {
            std::unique_ptr<CHost> host;
            CPlayerScript script(
                window, [&host] { return host ? host->Player() : nullptr; }, stdout);
            host = std::make_unique<CHost>(control, window, script);
            script.SetExtension([&host](const std::string& word, const std::string& rest) {
                return host->Execute(word, rest);
            });
            status = script.Run(source);
        } else if (!offscreen) {
            status = QApplication::exec();
        }
        window.hide();
        // The control goes before its container.
        controlWindow->setParent(nullptr);
        site = nullptr;
        control = nullptr;
    }
    if (cl.IsSet("script"))
        SetMessageBoxHandler(nullptr);
    return status;
}

CCommandRegistrar reg({"host", "a container of the control, driven by a script or by hand",
                       &RunHost});

}  // namespace
