#pragma once
// CAutoSizeCombo: a combo box whose drop-down list is as wide as its longest
// entry (capped at the screen's width).
#include <QComboBox>

class CAutoSizeCombo : public QComboBox {
    Q_OBJECT
public:
    explicit CAutoSizeCombo(QWidget* parent = nullptr);
    ~CAutoSizeCombo() override;

    // The width the list gets when it drops down: the widest entry's text
    // plus edges and margins, plus a scroll bar when not every entry fits.
    int ComputeDroppedWidth() const;
    // Whether the list is shown.
    bool IsDroppedDown() const { return m_bDropped; }

    void showPopup() override;
    void hidePopup() override;

private:
    bool m_bDropped = false;
};
