#pragma once
// The plain window of `velotrax play FILE`: the video only, in a host widget
// that fills the client area, driven by keys. Space plays or pauses, F or
// Alt+Enter switch full screen, Escape leaves it, 1/2/3 choose Original
// Size, Maximum Size and Best Fit, A toggles aspect correction.
#include <QWidget>
#include <functional>

class CPlayCtx;

class CVideoOnlyWindow : public QWidget {
public:
    CVideoOnlyWindow(CPlayCtx& ctx, const QString& title);

    // The widget the video window lives in.
    QWidget* Host() const { return m_host; }
    // Hands the host and the drain (this window) to the play context.
    void Attach();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Act(const std::function<void()>& action);

    CPlayCtx& m_ctx;
    QWidget* m_host;
};
