#include "ui/AutoSizeCombo.h"

#include <QAbstractItemView>
#include <QScreen>
#include <QStyle>

CAutoSizeCombo::CAutoSizeCombo(QWidget* parent) : QComboBox(parent) {}

CAutoSizeCombo::~CAutoSizeCombo() = default;

int CAutoSizeCombo::ComputeDroppedWidth() const {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    const int edge = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    int width = widest + 2 * edge + 4;
    // The list shows maxVisibleItems entries; more need a scroll bar.
    if (count() >= maxVisibleItems())
        width += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    // The item views add their own margins around the text.
    width += style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) * 2 + 8;
    if (const QScreen* s = screen())
        width = std::min(width, s->availableGeometry().width());
    return width;
}

void CAutoSizeCombo::showPopup() {
    view()->setMinimumWidth(std::max(width(), ComputeDroppedWidth()));
    m_bDropped = true;
    QComboBox::showPopup();
}

void CAutoSizeCombo::hidePopup() {
    QComboBox::hidePopup();
    m_bDropped = false;
}
