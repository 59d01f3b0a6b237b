#pragma once
// CNSFlex keeps the controls of a resizable window in place when the window
// changes size. Each registered control gets four fractions saying how much
// of the window's growth its left, right, top and bottom edges follow: 0 keeps
// the edge at its distance from the left or top, 1 at its distance from the
// right or bottom, 0.5 keeps it centred. The engine watches the window's
// events, so the window's own code needs no size handler.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <memory>
#include <vector>

class QWidget;

class CNSFlexHorizontalConstraint {
public:
    CNSFlexHorizontalConstraint(float left = 0.0f, float right = 0.0f)
        : m_left(left), m_right(right) {}
    virtual CNSFlexHorizontalConstraint* Clone() const {
        return new CNSFlexHorizontalConstraint(*this);
    }
    virtual ~CNSFlexHorizontalConstraint() = default;
    virtual void Prepare(QWidget* window, QSize reference) {}

    float m_left;
    float m_right;
};

class CNSFlexVerticalConstraint {
public:
    CNSFlexVerticalConstraint(float top = 0.0f, float bottom = 0.0f)
        : m_top(top), m_bottom(bottom) {}
    virtual CNSFlexVerticalConstraint* Clone() const {
        return new CNSFlexVerticalConstraint(*this);
    }
    virtual ~CNSFlexVerticalConstraint() = default;
    virtual void Prepare(QWidget* window, QSize reference) {}

    float m_top;
    float m_bottom;
};

class CNSFlexConstraintList {
public:
    struct CRecord {
        unsigned id;
        QRect base;  // in the window's client coordinates
        std::unique_ptr<CNSFlexHorizontalConstraint> horizontal;
        std::unique_ptr<CNSFlexVerticalConstraint> vertical;
    };

    CNSFlexConstraintList(QWidget* window, QSize reference)
        : m_pWindow(window), m_reference(reference) {}

    void Add(unsigned id, const CNSFlexHorizontalConstraint& horizontal,
             const CNSFlexVerticalConstraint& vertical);
    CRecord* Find(unsigned id);
    // Takes each control's present rectangle as its base (once, before the
    // first layout).
    void RecordBaseRects();
    // Places every control for the client size.
    void Layout(QSize client);

    QSize Reference() const { return m_reference; }
    bool IsInitialised() const { return m_bInitialised; }
    const std::vector<CRecord>& Records() const { return m_records; }

private:
    QPointer<QWidget> m_pWindow;
    std::vector<CRecord> m_records;
    QSize m_reference;
    bool m_bInitialised = false;
};

class CNSFlex : public QObject {
    Q_OBJECT
public:
    CNSFlex();
    ~CNSFlex() override;

    // Serves 'window' (once). The reference size is its present client size;
    // a minimum of 0 x 0 makes the present size the window's minimum.
    void Attach(QWidget* window, int minWidth = 0, int minHeight = 0);
    void Detach();
    bool IsAttached() const { return m_pWindow != nullptr; }

    // Registers the window's control 'id' with its fractions; false when the
    // window has no such control.
    bool AddConstraint(unsigned id, float left, float right, float top, float bottom);
    bool AddConstraint(unsigned id, const CNSFlexHorizontalConstraint& horizontal,
                       const CNSFlexVerticalConstraint& vertical);
    // Shows or hides a registered control.
    void ShowControl(unsigned id, bool show);
    // Moves a control; for a registered control the new place becomes its
    // base, scaled back to the reference size. keepSize/keepPos take the
    // size or the position from the control as it is.
    void MoveControl(QWidget* control, int x, int y, int width, int height, bool keepPos = false,
                     bool keepSize = false);
    // Lays the controls out for a client size (what a resize does).
    void OnSize(QSize client);

    QWidget* Window() const { return m_pWindow; }
    QSize MinimumSize() const { return QSize(m_minWidth, m_minHeight); }
    CNSFlexConstraintList* Constraints() const { return m_pList.get(); }

    // The engine serving a window, or null.
    static CNSFlex* FromWindow(const QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_pWindow;
    std::unique_ptr<CNSFlexConstraintList> m_pList;
    int m_minWidth = 0;
    int m_minHeight = 0;
    bool m_bRedrawWhileSizing = false;
    bool m_bWasMaximised = false;
};
