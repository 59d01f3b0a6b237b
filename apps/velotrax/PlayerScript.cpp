#include "apps/velotrax/PlayerScript.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>
#include <QWheelEvent>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "apps/velotrax/PlayerWindow.h"
#include "options/AppOptions.h"
#include "platform/dshow/Renderers.h"
#include "support/Exception.h"
#include "ui/AutoSizeCombo.h"
#include "ui/CmdTarget.h"
#include "ui/DialogAnswer.h"
#include "ui/MsTimeCtrl.h"
#include "ui/PlayerIds.h"
#include "ui/StaticVideo.h"
#include "ui/TimelineCombo.h"
#include "ui/VideoCtrlPanel.h"
#include "ui/VideoPanel.h"
#include "ui/VideoPlayerCtrl.h"
#include "ui/WheelWnd.h"

namespace {

constexpr int kDefaultWaitMs = 10000;

// Command names a person may use instead of the numbers.
const std::map<std::string, unsigned>& CommandNames() {
    static const std::map<std::string, unsigned> names = {
        {"play", ID_PLAY},
        {"pause", ID_PAUSE},
        {"stop", ID_STOP},
        {"begin", ID_BEGIN},
        {"end", ID_END},
        {"back", ID_BACK},
        {"forward", ID_FORWARD},
        {"step-back", ID_STEP_BACK},
        {"step-forward", ID_STEP_FORWARD},
        {"open-file", ID_OPEN_FILE},
        {"reload", ID_RELOAD_FILE},
        {"deinterlace", ID_DEINTERLACE},
        {"find", ID_FIND},
        {"continuous-play", ID_CONTINUOUS_PLAY},
        {"mark-begin", ID_MARK_BEGIN},
        {"mark-end", ID_MARK_END},
        {"snapshot", ID_SAVE_SNAPSHOT},
        {"play-pause", ID_PLAY_PAUSE},
        {"select-all-none", ID_SELECT_ALL_NONE},
        {"refresh-frame-rate", ID_REFRESH_FRAME_RATE},
        {"about", IDC_ABOUT},
        {"rate-100", ID_RATE_100},
        {"rate-90", ID_RATE_90},
        {"rate-75", ID_RATE_75},
        {"rate-66", ID_RATE_66},
        {"rate-50", ID_RATE_50},
        {"rate-33", ID_RATE_33},
        {"rate-25", ID_RATE_25},
        {"rate-10", ID_RATE_10},
        {"rate-3", ID_RATE_3},
        {"rate-120", ID_RATE_120},
        {"rate-150", ID_RATE_150},
        {"rate-200", ID_RATE_200},
        {"reverse-25", ID_REVERSE_25},
        {"reverse-50", ID_REVERSE_50},
        {"reverse-100", ID_REVERSE_100},
    };
    return names;
}

bool ParseCommandId(const std::string& text, unsigned& id) {
    auto it = CommandNames().find(text);
    if (it != CommandNames().end()) {
        id = it->second;
        return true;
    }
    try {
        size_t used = 0;
        unsigned long value = std::stoul(text, &used, 0);
        if (used != text.size() || value == 0 || value > 0xFFFF)
            return false;
        id = unsigned(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ParseInt(const std::string& text, int& value) {
    try {
        size_t used = 0;
        value = std::stoi(text, &used, 10);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

const char* StateName(CPlayCtx::PlayState state) {
    switch (state) {
        case CPlayCtx::PlayStopped:
            return "stopped";
        case CPlayCtx::PlayPaused:
            return "paused";
        case CPlayCtx::PlayRunning:
            return "running";
        default:
            return "none";
    }
}

// Splits off the first word; 'rest' keeps the remainder without the
// white space in front (paths may hold spaces).
std::string FirstWord(const std::string& line, std::string& rest) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        rest.clear();
        return std::string();
    }
    size_t end = line.find_first_of(" \t", start);
    std::string word =
        line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t next = end == std::string::npos ? std::string::npos : line.find_first_not_of(" \t", end);
    rest = next == std::string::npos ? std::string() : line.substr(next);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r'))
        rest.pop_back();
    return word;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

QString KeyText(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier))
        return QString();
    if (key == Qt::Key_Space)
        return " ";
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        QChar c(char16_t('a' + (key - Qt::Key_A)));
        return (modifiers & Qt::ShiftModifier) ? QString(c.toUpper()) : QString(c);
    }
    if (key >= 0x20 && key < 0x7f)
        return QString(QChar(char16_t(key)));
    return QString();
}

}  // namespace

CPlayerScript::CPlayerScript(CPlayerWindow& window, FILE* out)
    : CPlayerScript(
          window, [&window] { return window.GetPlayer(); }, out) {}

CPlayerScript::CPlayerScript(QWidget& window, std::function<CVelotraxCtrl*()> player, FILE* out)
    : m_window(window), m_player(std::move(player)), m_out(out) {
    if (CVelotraxCtrl* p = m_player())
        ObservePlayEnds(p->GetVideoPanel(0));
    SetDialogAnswerer([this](EDialogKind kind) -> std::optional<std::string> {
        if (kind == EDialogKind::About)
            return std::string();
        if (m_answers.empty()) {
            std::fprintf(stderr, "velotrax: no answer given for a dialog: cancelled\n");
            return std::nullopt;
        }
        std::optional<std::string> answer = std::move(m_answers.front());
        m_answers.pop_front();
        return answer;
    });
}

CPlayerScript::~CPlayerScript() {
    SetDialogAnswerer(nullptr);
}

void CPlayerScript::ObservePlayEnds(CVideoPanel* video) {
    if (!video || video == m_observed)
        return;
    m_observed = video;
    video->SetPlayEndObserver([this] { ++m_playEnds; });
}

bool CPlayerScript::Owns(const QWidget* widget) const {
    if (!widget)
        return false;
    if (m_window.isAncestorOf(widget))
        return true;
    CVelotraxCtrl* player = m_player();
    return player && (player == widget || player->isAncestorOf(widget));
}

bool CPlayerScript::Print(const std::string& text) {
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
    return true;
}

bool CPlayerScript::Fail(const std::string& text) {
    Print("error: " + text);
    return false;
}

bool CPlayerScript::WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        qint64 left = ms - clock.elapsed();
        if (left <= 0)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                        int(std::min<qint64>(left, 20)));
    }
    return true;
}

bool CPlayerScript::Execute(const std::string& line) {
    std::string rest;
    const std::string word = FirstWord(line, rest);
    if (word.empty() || word[0] == '#')
        return true;
    std::vector<std::string> args = Words(rest);

    try {
        if (m_extension) {
            if (std::optional<bool> done = m_extension(word, rest))
                return *done;
        }
        if (word == "quit") {
            m_quit = true;
            return Print("ok");
        }
        CVelotraxCtrl* player = m_player();
        CVideoPanel* video = player ? player->GetVideoPanel(0) : nullptr;
        CVideoCtrlPanel* ctrl = player ? player->GetControlPanel(0) : nullptr;
        if (!video || !ctrl)
            return Fail("the player has no panels");
        ObservePlayEnds(video);
        if (word == "open") {
            if (rest.empty())
                return Fail("open needs a path");
            m_playEndsSeen = m_playEnds;
            return player->OpenFile(0, rest) ? Print("ok") : Fail("cannot open " + rest);
        }
        if (word == "command" || word == "state") {
            unsigned id = 0;
            if (args.size() != 1 || !ParseCommandId(args[0], id))
                return Fail(word + " needs a command id");
            CCmdUI ui(id);
            bool answered = player->OnCmdMsg(id, CN_UPDATE_COMMAND_UI, &ui);
            if (word == "state")
                return Print(args[0] + " enabled=" + (answered && ui.m_bEnabled ? "1" : "0") +
                             " checked=" + (ui.m_nCheck != 0 ? "1" : "0"));
            if (answered && !ui.m_bEnabled)
                return Print("disabled");
            if (!player->OnCmdMsg(id, CN_COMMAND, nullptr))
                return Fail("no handler for " + args[0]);
            return Print("ok");
        }
        if (word == "key") {
            QKeySequence sequence = QKeySequence::fromString(QString::fromStdString(rest));
            if (rest.empty() || sequence.isEmpty() || sequence[0].key() == Qt::Key_unknown)
                return Fail("unknown key " + rest);
            for (int i = 0; i < sequence.count(); ++i) {
                QKeyCombination combination = sequence[i];
                QWidget* target = QApplication::focusWidget();
                if (!target || !Owns(target))
                    target = reinterpret_cast<QWidget*>(video->GetVideoWindow());
                Qt::Key key = combination.key();
                Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
                QKeyEvent press(QEvent::KeyPress, key, modifiers, KeyText(key, modifiers));
                QApplication::sendEvent(target, &press);
                QKeyEvent release(QEvent::KeyRelease, key, modifiers, KeyText(key, modifiers));
                if (QWidget* now = QApplication::focusWidget(); now && Owns(now))
                    target = now;
                QApplication::sendEvent(target, &release);
            }
            QCoreApplication::processEvents();
            return Print("ok");
        }
        if (word == "text") {
            if (args.size() != 1)
                return Fail("text needs a name");
            const std::string& name = args[0];
            if (name == "time")
                return Print(ctrl->GetTimeCtrl()->Text().trimmed().toStdString());
            if (name == "rate")
                return Print(ctrl->GetRateText().toStdString());
            if (name == "file")
                return Print(ctrl->GetFileCombo()->currentText().toStdString());
            if (name == "status")
                return Print(video->GetVideoWindow()->GetStatusText().toStdString());
            if (name == "clip")
                return Print(ctrl->GetClipCombo()->isVisible()
                                 ? ctrl->GetClipCombo()->currentText().toStdString()
                                 : std::string());
            if (name == "recent") {
                std::string joined;
                for (const std::string& file : ctrl->GetRecentFiles())
                    joined += (joined.empty() ? "" : "|") + file;
                return Print(joined);
            }
            if (name == "speed")
                return Print(std::to_string(video->GetShuttleSpeed()));
            if (name == "fullscreen")
                return Print(video->IsFullScreen() ? "1" : "0");
            if (name == "title")
                return Print(m_window.windowTitle().toStdString());
            if (name == "selection") {
                REFERENCE_TIME start = -1, stop = -1;
                if (!video->GetPlayCtx().GetSelection(start, stop))
                    return Print("none");
                return Print(std::to_string(RefTimeToMs(start)) + " " +
                             std::to_string(RefTimeToMs(stop)));
            }
            return Fail("unknown text " + name);
        }
        if (word == "pos") {
            CPlayCtx& ctx = video->GetPlayCtx();
            std::string ms = video->IsFileLoaded()
                                 ? std::to_string(RefTimeToMs(video->GetRoundedPosition()))
                                 : "-1";
            return Print(ms + " " + StateName(ctx.GetState()));
        }
        if (word == "rate") {
            char text[32];
            std::snprintf(text, sizeof text, "%.4f", video->GetPlayCtx().GetRate());
            return Print(text);
        }
        if (word == "wait-state") {
            static const std::map<std::string, CPlayCtx::PlayState> states = {
                {"stopped", CPlayCtx::PlayStopped},
                {"paused", CPlayCtx::PlayPaused},
                {"running", CPlayCtx::PlayRunning}};
            int ms = kDefaultWaitMs;
            if (args.empty() || !states.count(args[0]) || args.size() > 2 ||
                (args.size() == 2 && !ParseInt(args[1], ms)))
                return Fail("wait-state needs stopped, paused or running");
            CPlayCtx::PlayState wanted = states.at(args[0]);
            if (!WaitFor([&] { return video->GetPlayCtx().GetState() == wanted; }, ms))
                return Fail(std::string("timeout, state ") +
                            StateName(video->GetPlayCtx().GetState()));
            return Print("ok");
        }
        if (word == "wait-end") {
            int ms = kDefaultWaitMs;
            if (args.size() > 1 || (args.size() == 1 && !ParseInt(args[0], ms)))
                return Fail("wait-end takes a time in ms");
            if (!WaitFor([&] { return m_playEnds > m_playEndsSeen; }, ms))
                return Fail("timeout");
            m_playEndsSeen = m_playEnds;
            return Print("ok");
        }
        if (word == "sleep") {
            int ms = 0;
            if (args.size() != 1 || !ParseInt(args[0], ms) || ms < 0)
                return Fail("sleep needs a time in ms");
            WaitFor([] { return false; }, ms);
            return Print("ok");
        }
        if (word == "screenshot") {
            if (rest.empty())
                return Fail("screenshot needs a file");
            QCoreApplication::processEvents();
            QPixmap shot = m_window.grab();
            return shot.save(QString::fromStdString(rest), "PNG") ? Print("ok")
                                                                  : Fail("cannot write " + rest);
        }
        if (word == "image") {
            // The frame shown, as the snapshot takes it.
            if (rest.empty())
                return Fail("image needs a file");
            QImage frame = video->GetPlayCtx().GetCurrentImageBitmap();
            if (frame.isNull())
                return Fail("no frame");
            return frame.save(QString::fromStdString(rest), "PNG") ? Print("ok")
                                                                   : Fail("cannot write " + rest);
        }
        if (word == "drop") {
            if (rest.empty())
                return Fail("drop needs a path or URL");
            QMimeData data;
            QString target = QString::fromStdString(rest);
            data.setUrls({target.contains("://")
                              ? QUrl(target)
                              : QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath())});
            QPoint at = video->rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(video, &enter);
            if (!enter.isAccepted())
                return Fail("drop refused");
            QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(video, &drop);
            QCoreApplication::processEvents();
            return Print("ok");
        }
        if (word == "mouse" || word == "cursor" || word == "wheel") {
            QWidget* target = reinterpret_cast<QWidget*>(video->GetVideoWindow());
            QPoint at = target->rect().center();
            size_t first = word == "cursor" ? 0 : 1;
            if (word != "cursor" && args.empty())
                return Fail(word + " needs an argument");
            if (args.size() == first + 2) {
                // Positions are offsets from the centre of the video.
                int dx = 0, dy = 0;
                if (!ParseInt(args[first], dx) || !ParseInt(args[first + 1], dy))
                    return Fail("bad position");
                at += QPoint(dx, dy);
            } else if (args.size() != first) {
                return Fail("bad arguments");
            }
            QPoint global = target->mapToGlobal(at);
            QCursor::setPos(global);
            if (word == "cursor") {
                // The jog wheel follows the cursor on its own timer.
                WaitFor([] { return false; }, 3 * CWheelWnd::kTimerPeriod);
                return Print("ok");
            }
            if (word == "wheel") {
                int delta = 0;
                if (!ParseInt(args[0], delta))
                    return Fail("wheel needs a delta");
                QWheelEvent wheel(QPointF(at), QPointF(global), QPoint(), QPoint(0, delta),
                                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(target, &wheel);
                return Print("ok");
            }
            static const std::map<std::string, Qt::MouseButton> buttons = {
                {"left", Qt::LeftButton}, {"right", Qt::RightButton}, {"middle", Qt::MiddleButton}};
            if (!buttons.count(args[0]))
                return Fail("mouse needs left, right or middle");
            Qt::MouseButton button = buttons.at(args[0]);
            // An open wheel takes the mouse: the click goes to it.
            QWidget* receiver = CWheelWnd::GetOpenWheel() ? CWheelWnd::GetOpenWheel() : target;
            QPoint local = receiver->mapFromGlobal(global);
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(local), QPointF(global), button,
                              button, Qt::NoModifier);
            QApplication::sendEvent(receiver, &press);
            QMouseEvent release(QEvent::MouseButtonRelease, QPointF(local), QPointF(global), button,
                                Qt::NoButton, Qt::NoModifier);
            if (CWheelWnd* wheel = CWheelWnd::GetOpenWheel(); wheel && receiver == target)
                receiver = wheel;
            QApplication::sendEvent(receiver, &release);
            QCoreApplication::processEvents();
            return Print("ok");
        }
        if (word == "lock") {
            if (args.size() != 1 || (args[0] != "0" && args[0] != "1"))
                return Fail("lock needs 0 or 1");
            player->SetLocked(args[0] == "1");
            return Print("ok");
        }
        if (word == "option") {
            // option SECTION NAME [VALUE]: a value that reads as a number is
            // stored as one.
            if (args.size() < 2)
                return Fail("option needs a section and a name");
            std::string section = args[0] == "-" ? std::string() : args[0];
            if (args.size() == 2)
                return Print(GetAppOptions().GetOption(section, args[1]).GetString());
            std::string value = rest.substr(rest.find(args[1]) + args[1].size());
            value.erase(0, value.find_first_not_of(" \t"));
            int number = 0;
            if (ParseInt(value, number))
                GetAppOptions().SetOption(section, args[1], CAppOpt(int32_t(number)));
            else
                GetAppOptions().SetOption(section, args[1], CAppOpt(value));
            return Print("ok");
        }
        if (word == "time" || word == "time-shown") {
            // time LINE: LINE's result and the milliseconds it took;
            // time-shown LINE: until the video shows a new frame after it.
            if (rest.empty())
                return Fail(word + " needs a line");
            CComPtr<IBaseFilter> filter = video->GetPlayCtx().GetGraph()->FindVideoWindowFilter();
            auto* renderer = dynamic_cast<CVideoRendererFilter*>(filter.Get());
            if (word == "time-shown" && !renderer)
                return Fail("no video");
            const uint64_t framesBefore = renderer ? renderer->FramesShown() : 0;
            char* text = nullptr;
            size_t size = 0;
            FILE* captured = open_memstream(&text, &size);
            if (!captured)
                return Fail("out of memory");
            FILE* out = m_out;
            m_out = captured;
            QElapsedTimer clock;
            clock.start();
            bool ok = Execute(rest);
            if (word == "time-shown" &&
                !WaitFor([&] { return renderer->FramesShown() != framesBefore; }, kDefaultWaitMs))
                ok = false;
            const qint64 ns = clock.nsecsElapsed();
            m_out = out;
            std::fclose(captured);
            std::string result(text, size);
            std::free(text);
            while (!result.empty() && result.back() == '\n')
                result.pop_back();
            char ms[32];
            std::snprintf(ms, sizeof ms, " %.3f", double(ns) / 1e6);
            Print(result + ms);
            return ok;
        }
        if (word == "answer") {
            // answer PATH|cancel: the answer of the next file or folder dialog.
            if (rest.empty())
                return Fail("answer needs a path or cancel");
            m_answers.push_back(rest == "cancel" ? std::nullopt : std::optional<std::string>(rest));
            return Print("ok");
        }
        if (word == "focus") {
            static const std::map<std::string, int> names = {
                {"file", 0}, {"time", 1}, {"video", 2}, {"rate", 3}};
            if (args.size() != 1 || !names.count(args[0]))
                return Fail("focus needs file, time, video or rate");
            QWidget* widgets[] = {ctrl->GetFileCombo(), ctrl->GetTimeCtrl(),
                                  reinterpret_cast<QWidget*>(video->GetVideoWindow()),
                                  ctrl->GetDlgItem(ID_PLAY)};
            QWidget* target = widgets[names.at(args[0])];
            m_window.activateWindow();
            target->setFocus(Qt::OtherFocusReason);
            QCoreApplication::processEvents();
            return Print("ok");
        }
        if (word == "edit") {
            // edit TEXT: the file combo's edit text (empty without TEXT).
            ctrl->GetFileCombo()->setEditText(QString::fromStdString(rest));
            return Print("ok");
        }
        return Fail("unknown command " + word);
    } catch (...) {
        std::string text = "failed";
        try {
            throw;
        } catch (const CException& e) {
            text = BuildErrorText(e, 0);
        } catch (const std::exception& e) {
            text = e.what();
        }
        return Fail(text);
    }
}

int CPlayerScript::Run(const std::function<bool(std::string&)>& nextLine) {
    bool failed = false;
    std::string line;
    while (!m_quit && nextLine(line)) {
        if (!Execute(line))
            failed = true;
    }
    return failed ? 1 : 0;
}

std::function<bool(std::string&)> OpenScriptSource(const std::string& path, std::string& error) {
    if (path != "-") {
        auto in = std::make_shared<std::ifstream>(path);
        if (!*in) {
            error = "cannot read the script " + path;
            return nullptr;
        }
        return [in](std::string& line) { return bool(std::getline(*in, line)); };
    }
    // Standard input is read on a thread of its own; the user-interface
    // thread keeps handling events while it waits for the next line.
    struct CSource {
        std::mutex lock;
        std::deque<std::string> lines;
        bool ended = false;
    };
    auto source = std::make_shared<CSource>();
    std::thread([source] {
        std::string line;
        while (std::getline(std::cin, line)) {
            std::lock_guard guard(source->lock);
            source->lines.push_back(line);
        }
        std::lock_guard guard(source->lock);
        source->ended = true;
    }).detach();
    return [source](std::string& line) {
        for (;;) {
            {
                std::lock_guard guard(source->lock);
                if (!source->lines.empty()) {
                    line = std::move(source->lines.front());
                    source->lines.pop_front();
                    return true;
                }
                if (source->ended)
                    return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            20);
        }
    };
}
