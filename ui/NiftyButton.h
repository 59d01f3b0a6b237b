#pragma once
// CNiftyButton: the transport and file button of the player. It draws itself
// in a classic raised look or a flat toolbar look (the frame shows only under
// the mouse), carries a 16 x 16 icon and an optional caption side by side,
// keeps its own check state (a click does not toggle it; update handlers set
// it), and can carry a drop-down menu opened from a 12-pixel zone at its
// right edge.
#include <QIcon>
#include <QPointer>
#include <QPushButton>
#include <memory>

class QMenu;

class CNiftyButton : public QPushButton {
    Q_OBJECT
public:
    explicit CNiftyButton(QWidget* parent = nullptr);
    CNiftyButton(const QString& caption, QWidget* parent);
    ~CNiftyButton() override;

    // The icon with a resource id (see ui/Icons.h) at 16 x 16; 0 clears it.
    void SetIcon(unsigned iconId);
    void SetIcon(const QIcon& icon);
    bool HasIcon() const { return !m_icon.isNull(); }
    // The menu with a resource id and the index of its popup to show (-1:
    // the whole menu); 0 removes the menu.
    void SetDropDownMenu(unsigned menuId, int subMenu = 0);
    // Takes over a menu built elsewhere.
    void SetDropDownMenu(std::unique_ptr<QMenu> menu, int subMenu = -1);
    bool HasDropDownMenu() const { return m_pMenu != nullptr; }
    QMenu* GetDropDownMenu() const;

    // The flat look (the BS_FLAT style bit).
    void SetFlat(bool flat);
    bool IsFlat() const { return m_bFlat; }
    // The button's own check state (BM_GETCHECK, BM_SETCHECK); setting the
    // present state does not repaint.
    bool GetCheck() const { return m_bChecked; }
    void SetCheck(bool checked);

    // Whether a point (in the button's coordinates) lies in the drop-down zone.
    bool IsInDropDownZone(const QPoint& point) const;
    bool IsHot() const { return m_bHot; }
    bool IsPressed() const { return m_bPressed; }
    bool IsMenuOpen() const { return m_bMenuOpen; }
    // Repaints so far (tests count them).
    int PaintCount() const { return m_nPaints; }

    // Room for the icon, the caption and the drop-down zone.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int kDropDownWidth = 12;
    static constexpr int kIconSize = 16;

Q_SIGNALS:
    // A command id picked from the drop-down menu.
    void menuCommand(unsigned id);

protected:
    // Shows the menu below the button and routes the picked command to the
    // parent (its dialog).
    virtual void TrackMenu(QMenu* menu, const QPoint& globalPos);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override {}

private:
    void Init();

    QIcon m_icon;
    std::unique_ptr<QMenu> m_pMenu;
    int m_nSubMenu = -1;
    bool m_bFlat = false;
    bool m_bChecked = false;
    bool m_bPressed = false;
    bool m_bHot = false;
    bool m_bMenuOpen = false;
    bool m_bTracking = false;  // the left button went down on the button
    int m_nPaints = 0;
};
