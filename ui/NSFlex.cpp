#include "ui/NSFlex.h"

#include <QEvent>
#include <QHash>
#include <QResizeEvent>
#include <QWidget>

#include "ui/CmdTarget.h"
#include "ui/UiUtil.h"

namespace {

// The engine of each served window.
QHash<const QWidget*, CNSFlex*>& EngineMap() {
    static QHash<const QWidget*, CNSFlex*> map;
    return map;
}

// The control's rectangle in the window's client coordinates.
QRect RectInWindow(QWidget* control, QWidget* window) {
    if (control->parentWidget() == window)
        return control->geometry();
    QPoint origin = control->mapTo(window, QPoint(0, 0));
    return QRect(origin, control->size());
}

void PlaceInWindow(QWidget* control, QWidget* window, const QRect& rect) {
    QRect target = rect;
    if (control->parentWidget() != window && control->parentWidget())
        target.moveTopLeft(control->parentWidget()->mapFrom(window, rect.topLeft()));
    control->setGeometry(target);
}

}  // namespace

void CNSFlexConstraintList::Add(unsigned id, const CNSFlexHorizontalConstraint& horizontal,
                                const CNSFlexVerticalConstraint& vertical) {
    CRecord record;
    record.id = id;
    record.horizontal.reset(horizontal.Clone());
    record.vertical.reset(vertical.Clone());
    m_records.push_back(std::move(record));
}

CNSFlexConstraintList::CRecord* CNSFlexConstraintList::Find(unsigned id) {
    for (CRecord& record : m_records) {
        if (record.id == id)
            return &record;
    }
    return nullptr;
}

void CNSFlexConstraintList::RecordBaseRects() {
    if (!m_pWindow)
        return;
    for (CRecord& record : m_records) {
        if (QWidget* control = GetDlgItem(m_pWindow, record.id))
            record.base = RectInWindow(control, m_pWindow);
        record.horizontal->Prepare(m_pWindow, m_reference);
        record.vertical->Prepare(m_pWindow, m_reference);
    }
    m_bInitialised = true;
}

void CNSFlexConstraintList::Layout(QSize client) {
    if (m_records.empty() || !m_pWindow)
        return;
    if (!m_bInitialised)
        RecordBaseRects();
    // The growth as floats; each product is truncated toward zero.
    const float dx = static_cast<float>(client.width() - m_reference.width());
    const float dy = static_cast<float>(client.height() - m_reference.height());
    for (const CRecord& record : m_records) {
        QWidget* control = GetDlgItem(m_pWindow, record.id);
        if (!control)
            continue;
        const int baseRight = record.base.x() + record.base.width();
        const int baseBottom = record.base.y() + record.base.height();
        const int left = static_cast<int>(record.horizontal->m_left * dx) + record.base.x();
        const int top = static_cast<int>(record.vertical->m_top * dy) + record.base.y();
        const int width = static_cast<int>(dx * record.horizontal->m_right) + baseRight - left;
        const int height = static_cast<int>(dy * record.vertical->m_bottom) + baseBottom - top;
        PlaceInWindow(control, m_pWindow, QRect(left, top, width, height));
        if (control->isVisible()) {
            control->update();
            const auto children = control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            for (QWidget* child : children)
                child->update();
        }
    }
}

CNSFlex::CNSFlex() = default;

CNSFlex::~CNSFlex() {
    Detach();
}

CNSFlex* CNSFlex::FromWindow(const QWidget* window) {
    return EngineMap().value(window, nullptr);
}

void CNSFlex::Attach(QWidget* window, int minWidth, int minHeight) {
    if (m_pWindow || !window)
        return;
    m_pWindow = window;
    m_bRedrawWhileSizing = true;
    window->installEventFilter(this);
    EngineMap().insert(window, this);
    // Forget the window as soon as it goes away.
    connect(window, &QObject::destroyed, this, [this, window]() {
        EngineMap().remove(window);
        m_pList.reset();
        m_pWindow = nullptr;
    });
    const QSize reference = window->size();
    if (minWidth == 0 && minHeight == 0) {
        minWidth = reference.width();
        minHeight = reference.height();
    }
    m_minWidth = minWidth;
    m_minHeight = minHeight;
    // Only a top-level window has a tracking size; children are placed by their parent.
    if (window->isWindow() && (m_minWidth > 0 || m_minHeight > 0))
        window->setMinimumSize(std::max(m_minWidth, 0), std::max(m_minHeight, 0));
    m_pList = std::make_unique<CNSFlexConstraintList>(window, reference);
}

void CNSFlex::Detach() {
    if (m_pWindow) {
        m_pWindow->removeEventFilter(this);
        disconnect(m_pWindow, nullptr, this, nullptr);
        EngineMap().remove(m_pWindow);
    }
    m_pWindow = nullptr;
    m_pList.reset();
    m_bRedrawWhileSizing = false;
    m_bWasMaximised = false;
    m_minWidth = m_minHeight = 0;
}

bool CNSFlex::AddConstraint(unsigned id, float left, float right, float top, float bottom) {
    return AddConstraint(id, CNSFlexHorizontalConstraint(left, right),
                         CNSFlexVerticalConstraint(top, bottom));
}

bool CNSFlex::AddConstraint(unsigned id, const CNSFlexHorizontalConstraint& horizontal,
                            const CNSFlexVerticalConstraint& vertical) {
    if (!m_pWindow || !m_pList || !GetDlgItem(m_pWindow, id))
        return false;
    m_pList->Add(id, horizontal, vertical);
    return true;
}

void CNSFlex::ShowControl(unsigned id, bool show) {
    if (!m_pList || !m_pList->Find(id))
        return;
    if (QWidget* control = GetDlgItem(m_pWindow, id))
        control->setVisible(show);
}

void CNSFlex::MoveControl(QWidget* control, int x, int y, int width, int height, bool keepPos,
                          bool keepSize) {
    if (!control)
        return;
    QWidget* window = m_pWindow ? m_pWindow.data() : control->parentWidget();
    if (keepSize) {
        width = control->width();
        height = control->height();
    }
    if (keepPos) {
        QPoint now = window ? RectInWindow(control, window).topLeft() : control->pos();
        x = now.x();
        y = now.y();
    }
    if (window)
        PlaceInWindow(control, window, QRect(x, y, width, height));
    else
        control->setGeometry(x, y, width, height);
    CNSFlexConstraintList::CRecord* record =
        (m_pWindow && m_pList) ? m_pList->Find(GetDlgCtrlID(control)) : nullptr;
    if (!record)
        return;
    if (!m_pList->IsInitialised())
        m_pList->RecordBaseRects();
    // The base is kept at the reference size of the window.
    const QSize client = m_pWindow->size();
    const QSize reference = m_pList->Reference();
    if (!client.isEmpty()) {
        width = ui::MulDiv(width, reference.width(), client.width());
        height = ui::MulDiv(height, reference.height(), client.height());
    }
    record->base = QRect(x, y, width, height);
}

void CNSFlex::OnSize(QSize client) {
    if (m_pList)
        m_pList->Layout(client);
}

bool CNSFlex::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_pWindow)
        return false;
    switch (event->type()) {
        case QEvent::Resize: {
            if (m_pWindow->isMinimized()) {
                m_bWasMaximised = false;
                break;
            }
            OnSize(static_cast<QResizeEvent*>(event)->size());
            const bool maximised = m_pWindow->isMaximized();
            if (maximised || m_bWasMaximised != maximised)
                m_pWindow->update();
            m_bWasMaximised = maximised;
            break;
        }
        case QEvent::WindowStateChange:
            if (m_pWindow->isMinimized())
                m_bWasMaximised = false;
            break;
        default:
            break;
    }
    return false;
}
