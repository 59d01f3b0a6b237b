#include "ui/NiftyButton.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

#include "support/Exception.h"
#include "ui/CmdTarget.h"
#include "ui/DialogExt.h"
#include "ui/Icons.h"
#include "ui/MenuResource.h"

namespace {

// A one-pixel edge like the system draws: 'topLeft' on the top and left
// sides, 'bottomRight' on the bottom and right sides.
void DrawEdge(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

}  // namespace

CNiftyButton::CNiftyButton(QWidget* parent) : QPushButton(parent) {
    Init();
}

CNiftyButton::CNiftyButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    Init();
}

CNiftyButton::~CNiftyButton() = default;

void CNiftyButton::Init() {
    setAutoDefault(false);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, true);
    setIconSize(QSize(kIconSize, kIconSize));
}

void CNiftyButton::SetIcon(unsigned iconId) {
    SetIcon(iconId ? LoadIconResource(iconId) : QIcon());
}

void CNiftyButton::SetIcon(const QIcon& icon) {
    m_icon = icon;
    update();
}

void CNiftyButton::SetDropDownMenu(unsigned menuId, int subMenu) {
    std::unique_ptr<QMenu> menu = menuId ? LoadMenuResource(menuId, nullptr) : nullptr;
    SetDropDownMenu(std::move(menu), subMenu);
}

void CNiftyButton::SetDropDownMenu(std::unique_ptr<QMenu> menu, int subMenu) {
    m_pMenu = std::move(menu);
    m_nSubMenu = m_pMenu ? subMenu : -1;
    update();
}

QMenu* CNiftyButton::GetDropDownMenu() const {
    return GetSubMenu(m_pMenu.get(), m_nSubMenu);
}

void CNiftyButton::SetFlat(bool flat) {
    if (m_bFlat == flat)
        return;
    m_bFlat = flat;
    if (!flat)
        m_bHot = false;
    update();
}

void CNiftyButton::SetCheck(bool checked) {
    if (m_bChecked == checked)
        return;
    m_bChecked = checked;
    repaint();
}

QSize CNiftyButton::sizeHint() const {
    const QFontMetrics metrics(font());
    int width = 8 + (m_pMenu ? kDropDownWidth : 0);
    if (!m_icon.isNull())
        width += kIconSize + 4;
    if (!text().isEmpty())
        width += metrics.horizontalAdvance(text()) + 4;
    // The pressed look shifts the content by one pixel.
    width += 2;
    const int height = std::max(kIconSize, metrics.height()) + 10;
    return QSize(std::max(width, 24), height);
}

bool CNiftyButton::IsInDropDownZone(const QPoint& point) const {
    return m_pMenu && rect().contains(point) && point.x() >= width() - kDropDownWidth;
}

bool CNiftyButton::hitButton(const QPoint& pos) const {
    return rect().contains(pos) && !IsInDropDownZone(pos);
}

void CNiftyButton::TrackMenu(QMenu* menu, const QPoint& globalPos) {
    // The owner updates the items (the current rate gets its mark) and
    // receives the picked command.
    QWidget* owner = parentWidget();
    CCmdTarget* target = nullptr;
    for (QWidget* w = owner; w && !target; w = w->parentWidget())
        target = dynamic_cast<CCmdTarget*>(w);
    if (auto* dialog = qobject_cast<CDialogExt*>(owner))
        dialog->OnInitMenuPopup(menu);
    else if (target)
        UpdateMenuItems(menu, target);
    QAction* picked = menu->exec(globalPos);
    unsigned id = GetMenuItemID(picked);
    if (!id)
        return;
    Q_EMIT menuCommand(id);
    if (target)
        ReportExceptions([target, id] { target->RouteCommand(id); });
}

void CNiftyButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QPushButton::mousePressEvent(event);
        return;
    }
    if (m_bMenuOpen) {
        // The click that closes the menu does nothing else.
        m_bMenuOpen = false;
        update();
        return;
    }
    if (IsInDropDownZone(event->position().toPoint())) {
        if (QMenu* menu = GetDropDownMenu()) {
            m_bMenuOpen = true;
            repaint();
            QPointer<CNiftyButton> self(this);
            TrackMenu(menu, mapToGlobal(rect().bottomLeft() + QPoint(0, 1)));
            if (!self)
                return;
            m_bMenuOpen = false;
            m_bPressed = false;
            update();
        }
        return;
    }
    m_bPressed = true;
    m_bTracking = true;
    update();
    QPushButton::mousePressEvent(event);
}

void CNiftyButton::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void CNiftyButton::mouseReleaseEvent(QMouseEvent* event) {
    m_bTracking = false;
    if (m_bPressed) {
        m_bPressed = false;
        update();
    }
    QPushButton::mouseReleaseEvent(event);
}

void CNiftyButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    if (m_bTracking && !m_bMenuOpen) {
        // Pressed follows whether the cursor is over the button.
        bool over = isDown();
        if (over != m_bPressed) {
            m_bPressed = over;
            update();
        }
    }
    if (m_bFlat && !m_bHot) {
        m_bHot = true;
        update();
    }
}

void CNiftyButton::enterEvent(QEnterEvent* event) {
    if (m_bFlat && !m_bHot) {
        m_bHot = true;
        update();
    }
    QPushButton::enterEvent(event);
}

void CNiftyButton::leaveEvent(QEvent* event) {
    if (m_bHot) {
        m_bHot = false;
        update();
    }
    QPushButton::leaveEvent(event);
}

void CNiftyButton::changeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::EnabledChange:
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
        case QEvent::FontChange:
            update();
            break;
        default:
            break;
    }
    QPushButton::changeEvent(event);
}

void CNiftyButton::paintEvent(QPaintEvent*) {
    ++m_nPaints;
    QPainter p(this);
    const QPalette& pal = palette();
    const bool enabled = isEnabled();
    const bool pushed = m_bPressed && !m_bMenuOpen;
    const bool focused = hasFocus();
    const bool menu = m_pMenu != nullptr;
    const QRect item = rect();

    // 1. Background.
    if (!m_bFlat) {
        p.fillRect(item, pal.color(QPalette::Button));
        QStyleOptionButton option;
        option.initFrom(this);
        option.state &= ~(QStyle::State_MouseOver | QStyle::State_HasFocus);
        if (m_bChecked)
            option.state |= QStyle::State_On | QStyle::State_Sunken;
        else if (pushed)
            option.state |= QStyle::State_Sunken;
        else
            option.state |= QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &p, this);
        if (enabled && (m_bPressed || focused)) {
            p.setPen(Qt::black);
            p.setBrush(Qt::NoBrush);
            p.drawRect(item.adjusted(0, 0, -1, -1));
        }
    } else {
        const bool light = m_bChecked && !m_bHot && !m_bMenuOpen && enabled;
        p.fillRect(item, pal.color(light ? QPalette::Light : QPalette::Button));
        if (enabled) {
            if (m_bChecked || pushed)
                DrawEdge(p, item, pal.color(QPalette::Dark), pal.color(QPalette::Light));
            else if (m_bHot || m_bMenuOpen)
                DrawEdge(p, item, pal.color(QPalette::Light), pal.color(QPalette::Dark));
        }
    }
    // 2. Focus rectangle (classic look).
    if (!m_bFlat && focused) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = item.adjusted(4, 4, -(4 + (menu ? kDropDownWidth : 0)), -3);
        focus.backgroundColor = pal.color(QPalette::Button);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }

    // 3. Content: icon, then caption.
    QRect content = item.adjusted(4, 4, -(4 + (menu ? kDropDownWidth : 0)), -4);
    if ((m_bPressed || m_bChecked) && !m_bMenuOpen)
        content.translate(1, 1);
    const QString caption = text();
    int textLeft = content.left();
    if (!m_icon.isNull()) {
        const int size = kIconSize;
        int x = (caption.isEmpty() || content.width() < size + 4)
                    ? content.left() + (content.width() - size) / 2
                    : content.left() + 2;
        int y = content.top() + (content.height() - size) / 2;
        m_icon.paint(&p, QRect(x, y, size, size), Qt::AlignCenter,
                     enabled ? QIcon::Normal : QIcon::Disabled);
        textLeft = x + size + 2;
    }
    if (!caption.isEmpty()) {
        int flags = Qt::AlignVCenter | Qt::TextSingleLine;
        QStyleOptionButton option;
        option.initFrom(this);
        if (!style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this))
            flags |= Qt::TextHideMnemonic;
        else
            flags |= Qt::TextShowMnemonic;
        QRect textRect = content;
        if (m_icon.isNull()) {
            flags |= Qt::AlignHCenter;
        } else {
            flags |= Qt::AlignLeft;
            textRect.setLeft(textLeft);
        }
        style()->drawItemText(&p, textRect, flags, pal, enabled, caption, QPalette::ButtonText);
    }

    // 4. Drop-down zone.
    if (menu) {
        QRect inner = item.adjusted(2, 2, -2, -2);
        QRect zone(inner.left() + inner.width() - kDropDownWidth, inner.top(), kDropDownWidth,
                   inner.height());
        const bool active = m_bPressed || m_bChecked || m_bMenuOpen || m_bHot;
        if (!m_bFlat || active) {
            p.setPen(pal.color(QPalette::Dark));
            p.drawLine(zone.left(), zone.top(), zone.left(), zone.bottom());
            p.setPen(pal.color(QPalette::Light));
            p.drawLine(zone.left() + 1, zone.top(), zone.left() + 1, zone.bottom());
        }
        if (m_bMenuOpen && enabled)
            DrawEdge(p, zone.adjusted(-1, -1, 1, 1), pal.color(QPalette::Dark),
                     pal.color(QPalette::Light));
        int cx = zone.left() + zone.width() / 2;
        int cy = zone.top() + zone.height() / 2 + 1;
        if (m_bPressed || m_bChecked || m_bMenuOpen) {
            ++cx;
            ++cy;
        }
        QPainterPath arrow;
        arrow.moveTo(cx - 3, cy - 3);
        arrow.lineTo(cx + 3 + 1, cy - 3);
        arrow.lineTo(cx + 0.5, cy + 0.5);
        arrow.closeSubpath();
        const QColor arrowColor = enabled ? pal.color(QPalette::WindowText)
                                          : pal.color(QPalette::Disabled, QPalette::WindowText);
        p.setPen(Qt::NoPen);
        p.fillPath(arrow, arrowColor);
    }
}
