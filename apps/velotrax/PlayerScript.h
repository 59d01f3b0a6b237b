#pragma once
// The script driver of the player window: executes one command a line and
// prints one result line for each, so that a test or a person can drive
// every rule of the panels without a mouse.
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <string>

class CPlayerWindow;
class CVelotraxCtrl;
class CVideoPanel;
class QWidget;

class CPlayerScript {
public:
    // 'nextLine' yields the next line and false at the end of the script;
    // it may run the event loop while it waits for input.
    // While it lives, file and folder dialogs take the answers given by
    // "answer" lines instead of showing themselves.
    CPlayerScript(CPlayerWindow& window, FILE* out);
    ~CPlayerScript();
    CPlayerScript(const CPlayerScript&) = delete;
    CPlayerScript& operator=(const CPlayerScript&) = delete;
    // A script over any window: 'player' yields the player window (which
    // may change or be missing while the script runs).
    CPlayerScript(QWidget& window, std::function<CVelotraxCtrl*()> player, FILE* out);

    // Lines a host adds: asked first with the line's first word and the
    // rest; nullopt when the extension does not know the word.
    using Extension = std::function<std::optional<bool>(const std::string&, const std::string&)>;
    void SetExtension(Extension extension) { m_extension = std::move(extension); }

    bool Print(const std::string& text);
    bool Fail(const std::string& text);

    // Executes one line; false when the line failed.
    bool Execute(const std::string& line);
    // Runs lines until the end or "quit"; the exit status: 1 when any line
    // failed, else 0.
    int Run(const std::function<bool(std::string&)>& nextLine);
    bool IsQuitting() const { return m_quit; }

    // The number of times the video played to its end.
    int GetPlayEnds() const { return m_playEnds; }

    // Runs the event loop until 'done' holds or 'ms' pass; true when done.
    static bool WaitFor(const std::function<bool()>& done, int ms);

private:
    // True when the widget belongs to the window or to the player's window.
    bool Owns(const QWidget* widget) const;
    void ObservePlayEnds(CVideoPanel* video);

    QWidget& m_window;
    std::function<CVelotraxCtrl*()> m_player;
    Extension m_extension;
    CVideoPanel* m_observed = nullptr;
    FILE* m_out;
    int m_playEnds = 0;
    int m_playEndsSeen = 0;
    bool m_quit = false;
    // Answers for the next dialogs, in order; nothing stands for Cancel.
    std::deque<std::optional<std::string>> m_answers;
};

// The script's lines from a file or, for "-", from standard input (read
// on a thread of its own, so the window stays alive while it waits).
std::function<bool(std::string&)> OpenScriptSource(const std::string& path, std::string& error);
