// Graph events (window mode and handle mode), frame capture and the video
// queries of the wrapper.
#include <QEvent>
#include <QImage>
#include <QWidget>
#include <cstring>
#include <memory>

#include "playback/VaFilterGraph.h"
#include "playback/VaGraphUtil.h"
#include "support/Exception.h"

// ---- events

OAEVENT CVaFilterGraphRep::GetEventHandle() {
    CComPtr<IMediaEventEx> events = TakeMediaEvent();
    if (!events)
        ThrowHResult(E_NOINTERFACE);
    OAEVENT handle = nullptr;
    CheckHResult(events->GetEventHandle(&handle));
    m_handleMode = true;
    events->SetNotifyWindow(nullptr, 0, 0);
    return handle;
}

HRESULT CVaFilterGraphRep::ProcessEvents(CVaCheckEvent* sink) {
    CComPtr<IMediaEventEx> events = TakeMediaEvent();
    if (!events)
        ThrowHResult(E_NOINTERFACE);
    // A completion or abort that came through the window before the worker
    // attached goes first.
    if (LONG remembered = m_terminalEvent.exchange(0)) {
        if (sink)
            sink->OnEvent(remembered, 0, 0);
    }
    for (;;) {
        LONG code = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        HRESULT hr = events->GetEvent(&code, &param1, &param2, 0);
        if (FAILED(hr))
            return hr;
        try {
            HandleEvent(code, param1, param2, false);
            if (sink)
                sink->OnEvent(code, param1, param2);
        } catch (...) {
            events->FreeEventParams(code, param1, param2);
            throw;
        }
        events->FreeEventParams(code, param1, param2);
    }
}

void CVaFilterGraphRep::OnGraphNotify() {
    // Once the worker waits on the handle, a notification still queued from
    // before must not take its events away.
    if (m_handleMode)
        return;
    CComPtr<IMediaEventEx> events = TakeMediaEvent();
    if (!events)
        return;
    // New events replace a remembered completion; a notification that
    // finds the queue already emptied by an earlier one keeps it.
    bool first = true;
    for (;;) {
        LONG code = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        if (FAILED(events->GetEvent(&code, &param1, &param2, 0)))
            break;
        if (first)
            m_terminalEvent = 0;
        first = false;
        if (code == EC_COMPLETE || code == EC_ERRORABORT)
            m_terminalEvent = code;
        HandleEvent(code, param1, param2, true);
        events->FreeEventParams(code, param1, param2);
    }
}

void CVaFilterGraphRep::HandleEvent(LONG code, LONG_PTR param1, LONG_PTR param2, bool updateNow) {
    if (code != EC_VIDEO_SIZE_CHANGED && code != EC_PAUSED && code != EC_FULLSCREEN_LOST)
        return;
    try {
        OnVideoEvent(code, param1, updateNow);
    } catch (const CException&) {
        // A failure of the window's own handling does not stop the pump.
    }
}

// ---- frame capture and queries

bool CVaFilterGraphRep::GetCurrentImage(std::vector<BYTE>& dib, BYTE** bits) {
    if (bits)
        *bits = nullptr;
    CComPtr<IBasicVideo> video = va::GraphInterface<IBasicVideo>(m_graph);
    if (!video)
        return false;
    LONG size = 0;
    if (FAILED(video->GetCurrentImage(&size, nullptr)) ||
        size < static_cast<LONG>(sizeof(BITMAPINFOHEADER)))
        return false;
    // The picture is written straight into the caller's vector (its storage
    // is aligned for the header's LONGs).
    dib.resize(static_cast<size_t>(size));
    LONG filled = size;
    if (FAILED(video->GetCurrentImage(&filled, reinterpret_cast<LONG*>(dib.data())))) {
        dib.clear();
        return false;
    }
    BITMAPINFOHEADER header;
    std::memcpy(static_cast<void*>(&header), dib.data(), sizeof(header));
    uint64_t colours = header.biClrUsed;
    if (colours == 0 && header.biBitCount <= 8)
        colours = uint64_t(1) << header.biBitCount;
    uint64_t offset =
        uint64_t(header.biSize) + colours * 4 + (header.biCompression == BI_BITFIELDS ? 12 : 0);
    // The header describes the buffer; a header that points past it is refused.
    if (header.biSize < sizeof(BITMAPINFOHEADER) || offset > static_cast<uint64_t>(size)) {
        dib.clear();
        return false;
    }
    if (bits)
        *bits = dib.data() + offset;
    return true;
}

QImage CVaFilterGraphRep::GetCurrentBitmap() {
    std::vector<BYTE> dib;
    BYTE* bits = nullptr;
    if (!GetCurrentImage(dib, &bits))
        return QImage();
    BITMAPINFOHEADER header;
    std::memcpy(static_cast<void*>(&header), dib.data(), sizeof(header));
    const int bitCount = header.biBitCount;
    if ((bitCount != 24 && bitCount != 32) || header.biWidth <= 0 || header.biHeight == 0 ||
        (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS))
        return QImage();
    const int64_t width = header.biWidth;
    const int64_t height = header.biHeight < 0 ? -int64_t(header.biHeight) : header.biHeight;
    const int64_t stride = ((width * bitCount + 31) / 32) * 4;
    const BYTE* end = dib.data() + dib.size();
    if (width > 32768 || height > 32768 || bits + stride * height > end)
        return QImage();
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const bool bottomUp = header.biHeight > 0;
    for (int64_t y = 0; y < height; ++y) {
        const BYTE* src = bits + stride * (bottomUp ? height - 1 - y : y);
        QRgb* dst = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (int64_t x = 0; x < width; ++x) {
            const BYTE* p = src + x * (bitCount / 8);
            dst[x] = qRgb(p[2], p[1], p[0]);
        }
    }
    return image;
}

bool CVaFilterGraphRep::HasVideo() {
    if (m_hasVideo < 0) {
        if (!m_graph)
            return false;
        m_hasVideo = va::GraphInterface<IBasicVideo>(m_graph) && FindVideoWindowFilter() ? 1 : 0;
    }
    return m_hasVideo == 1;
}

bool CVaFilterGraphRep::IsInterlaced() {
    CComPtr<IBaseFilter> renderer = FindVideoWindowFilter();
    if (!renderer)
        return false;
    CComPtr<IPin> pin;
    if (!FindConnectedPin(renderer, PINDIR_INPUT, false, MEDIATYPE_Video, GUID_NULL, GUID_NULL,
                          std::addressof(pin), nullptr, nullptr))
        return false;
    AM_MEDIA_TYPE mt{};
    if (FAILED(pin->ConnectionMediaType(&mt)))
        return false;
    const VIDEOINFOHEADER2* info = va::GetVideoInfoHeader2(mt);
    bool interlaced = info && (info->dwInterlaceFlags & AMINTERLACE_IsInterlaced) != 0;
    FreeMediaType(mt);
    return interlaced;
}

// ---- the hook on the notification object and the video's windows

bool CVaFilterGraphRep::OnHookedEvent(QObject* window, QEvent* event) {
    const int type = static_cast<int>(event->type());
    if (window == m_nfyWnd.data()) {
        if (type == WM_VA_GRAPHNOTIFY) {
            try {
                OnGraphNotify();
            } catch (const CException&) {
            }
            // The notification object never sees the graph's message.
            return true;
        }
        if (type == WM_VA_UIWORK) {
            RunUiWork(event);
            return true;
        }
        if (event->type() == QEvent::Timer && m_pollCounter > 0 &&
            static_cast<QTimerEvent*>(event)->timerId() == m_pollTimerId)
            OnPollTimer();
        return false;
    }
    if (window == m_topWnd.data() && m_videoWindow)
        m_videoWindow->NotifyOwnerMessage(window, type, 0, 0);
    if (window == m_hostWnd.data()) {
        if (event->type() == QEvent::Resize) {
            UpdateVideoPosition();
        } else if (event->type() == QEvent::WindowDeactivate ||
                   event->type() == QEvent::ApplicationDeactivate) {
            // Activation reaches top-level windows only: the host while it
            // covers the screen itself (a child host's window going
            // inactive, e.g. behind the renderer's own full screen, is not
            // the application losing the user).
            QWidget* host = qobject_cast<QWidget*>(window);
            if (m_fullScreen && host && host->isWindow())
                SetFullScreen(false);
        } else if (type == WM_VA_VIDEOLAYOUT) {
            Repaint();
        }
    }
    return false;
}
