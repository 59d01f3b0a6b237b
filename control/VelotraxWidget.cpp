#include "control/VelotraxWidget.h"

#include <QResizeEvent>

#include "control/Module.h"
#include "control/VelotraxIds.h"
#include "control/VelotraxOleCtrl.h"

struct VelotraxWidget::CImpl {
    CComPtr<CVelotraxOleCtrl> control;
    QWidget* window = nullptr;
};

namespace {

VARIANT Get(CVelotraxOleCtrl* control, DISPID id, int& error) {
    VARIANT v;
    EXCEPINFO info;
    HRESULT hr = control ? DispatchGet(control, id, &v, &info) : E_POINTER;
    error = hr == DISP_E_EXCEPTION ? info.scode : hr;
    return v;
}

void Put(CVelotraxOleCtrl* control, DISPID id, const VARIANT& value, int& error) {
    EXCEPINFO info;
    HRESULT hr = control ? DispatchPut(control, id, value, &info) : E_POINTER;
    error = hr == DISP_E_EXCEPTION ? info.scode : hr;
}

void Call(CVelotraxOleCtrl* control, DISPID id, const std::vector<VARIANT>& args, int& error) {
    EXCEPINFO info;
    HRESULT hr = control ? DispatchCall(control, id, args, nullptr, &info) : E_POINTER;
    error = hr == DISP_E_EXCEPTION ? info.scode : hr;
}

}  // namespace

VelotraxWidget::VelotraxWidget(QWidget* parent) : QWidget(parent), m_impl(new CImpl) {
    EnsureModuleStarted();
    m_impl->control = new CVelotraxOleCtrl;
    m_impl->window = m_impl->control->CreateControlWindow(this);
    if (!m_impl->window)
        m_lastError = E_FAIL;
}

VelotraxWidget::~VelotraxWidget() {
    // The control goes first, while this widget is still whole.
    if (m_impl->window)
        m_impl->window->setParent(nullptr);
    m_impl->control = nullptr;
    delete m_impl;
}

QSize VelotraxWidget::sizeHint() const {
    return QSize(640, 520);
}

void VelotraxWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_impl->window && !m_impl->control->GetAutoSize())
        m_impl->window->resize(event->size());
}

#define VT_GET_STRING(getter, id)                                                     \
    QString VelotraxWidget::getter() const {                                          \
        return QString::fromStdString(Get(m_impl->control, id, m_lastError).bstrVal); \
    }
#define VT_GET_BOOL(getter, id)                                    \
    bool VelotraxWidget::getter() const {                          \
        return Get(m_impl->control, id, m_lastError).boolVal != 0; \
    }
#define VT_GET_INT(getter, id)                             \
    int VelotraxWidget::getter() const {                   \
        return Get(m_impl->control, id, m_lastError).lVal; \
    }
#define VT_SET_BOOL(setter, id)                                       \
    void VelotraxWidget::setter(bool on) {                            \
        Put(m_impl->control, id, VARIANT::FromBool(on), m_lastError); \
    }
#define VT_SET_INT(setter, id)                                      \
    void VelotraxWidget::setter(int ms) {                           \
        Put(m_impl->control, id, VARIANT::FromI4(ms), m_lastError); \
    }
#define VT_SET_STRING(setter, id)                                                       \
    void VelotraxWidget::setter(const QString& text) {                                  \
        Put(m_impl->control, id, VARIANT::FromString(text.toStdString()), m_lastError); \
    }
#define VT_CALL(method, id)                         \
    void VelotraxWidget::method() {                 \
        Call(m_impl->control, id, {}, m_lastError); \
    }

VT_GET_STRING(fileName, dispidFileName)
VT_GET_STRING(mediaLocation, dispidMediaLocation)
VT_GET_STRING(version, dispidVersion)
VT_GET_BOOL(autoSize, dispidAutoSize)
VT_GET_BOOL(showExternal, dispidShowExternal)
VT_GET_BOOL(locked, dispidLocked)
VT_GET_BOOL(preferLocalApp, dispidPreferLocalApp)
VT_GET_BOOL(useTwoVideoWindowsExternal, dispidUseTwoVideoWindowsExternal)
VT_GET_BOOL(deinterlace, dispidDeinterlace)
VT_GET_BOOL(repeat, dispidRepeat)
VT_GET_INT(startTime, dispidStartTime)
VT_GET_INT(stopTime, dispidStopTime)
VT_GET_INT(currentPos, dispidCurrentPos)
VT_SET_STRING(setFileName, dispidFileName)
VT_SET_STRING(setMediaLocation, dispidMediaLocation)
VT_SET_STRING(setXtl, dispidXTL)
VT_SET_STRING(setPlayList, dispidPlayList)
VT_SET_BOOL(setAutoSize, dispidAutoSize)
VT_SET_BOOL(setShowExternal, dispidShowExternal)
VT_SET_BOOL(setLocked, dispidLocked)
VT_SET_BOOL(setPreferLocalApp, dispidPreferLocalApp)
VT_SET_BOOL(setUseTwoVideoWindowsExternal, dispidUseTwoVideoWindowsExternal)
VT_SET_BOOL(setDeinterlace, dispidDeinterlace)
VT_SET_BOOL(setRepeat, dispidRepeat)
VT_SET_INT(setStartTime, dispidStartTime)
VT_SET_INT(setStopTime, dispidStopTime)
VT_SET_INT(setCurrentPos, dispidCurrentPos)
VT_CALL(play, dispidPlay)
VT_CALL(pause, dispidPause)
VT_CALL(stop, dispidStop)
VT_CALL(render, dispidRender)
VT_CALL(unrender, dispidUnrender)
VT_CALL(aboutBox, dispidAboutBox)

double VelotraxWidget::rate() const {
    VARIANT v = Get(m_impl->control, dispidRate, m_lastError);
    return v.vt == VT_R8 ? v.dblVal : 1.0;
}

void VelotraxWidget::setRate(double rate) {
    Put(m_impl->control, dispidRate, VARIANT::FromR8(rate), m_lastError);
}

void VelotraxWidget::setPlayLists(const QString& first, const QString& second) {
    Call(m_impl->control, dispidSetPlayLists,
         {VARIANT::FromString(first.toStdString()), VARIANT::FromString(second.toStdString())},
         m_lastError);
}
