#include "apps/velotrax/VideoOnlyWindow.h"

#include <QKeyEvent>
#include <QVBoxLayout>
#include <functional>

#include "playback/PlayCtx.h"
#include "support/Exception.h"

CVideoOnlyWindow::CVideoOnlyWindow(CPlayCtx& ctx, const QString& title) : m_ctx(ctx) {
    setWindowTitle(title);
    m_host = new QWidget(this);
    m_host->setObjectName(QStringLiteral("videoHost"));
    // Around the video the host shows black.
    QPalette palette = m_host->palette();
    palette.setColor(QPalette::Window, Qt::black);
    m_host->setPalette(palette);
    m_host->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_host);
    setFocusPolicy(Qt::StrongFocus);
}

void CVideoOnlyWindow::Attach() {
    m_ctx.SetVideoWindow(m_host);
    m_ctx.SetMessageDrain(this);
}

void CVideoOnlyWindow::Act(const std::function<void()>& action) {
    ReportExceptions(action);
}

void CVideoOnlyWindow::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool alt = event->modifiers() & Qt::AltModifier;
    switch (key) {
        case Qt::Key_Space:
            Act([&] { m_ctx.RunOrPause(m_ctx.GetState() != CPlayCtx::PlayRunning); });
            return;
        case Qt::Key_F:
            Act([&] { m_ctx.SetFullScreen(!m_ctx.IsFullScreen()); });
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (alt) {
                Act([&] { m_ctx.SetFullScreen(!m_ctx.IsFullScreen()); });
                return;
            }
            break;
        case Qt::Key_Escape:
            Act([&] {
                if (m_ctx.IsFullScreen())
                    m_ctx.SetFullScreen(false);
            });
            return;
        case Qt::Key_1:
        case Qt::Key_2:
        case Qt::Key_3:
            Act([&] { m_ctx.SetScaleMode(key - Qt::Key_1); });
            return;
        case Qt::Key_A:
            Act([&] { m_ctx.SetPreserveAspectRatio(!m_ctx.GetGraph()->GetAspectCorrection()); });
            return;
        default:
            break;
    }
    QWidget::keyPressEvent(event);
}
