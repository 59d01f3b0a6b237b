#pragma once
// CStaticVideo: the window the video is shown in. It fills itself with the
// video background colour, shows a status text in a strip at its bottom
// (the area above the strip is where the video goes), and marks the active
// video: all video windows of the process are listed, at most one is active.
#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>

class CStaticVideo : public QWidget {
    Q_OBJECT
public:
    explicit CStaticVideo(QWidget* parent = nullptr);
    ~CStaticVideo() override;

    // Takes the place of the dialog's placeholder control 'id' (same id and
    // rectangle) and destroys the placeholder. False when there is none.
    bool CreateFromPlaceholder(QWidget* dialog, unsigned id);

    // Makes this window the active one; every other becomes inactive. True
    // when it was not active before.
    bool MakeActive();
    bool IsActive() const { return m_bActive; }
    // The active video window of the process, or null.
    static CStaticVideo* GetActive();

    // Shows the text of a string in the status strip; 0 clears it. Setting
    // the same text again does nothing.
    void SetStatusText(unsigned stringId);
    void SetStatusText(const QString& text);
    QString GetStatusText() const { return m_strStatus; }
    // Height of the status strip: text height plus leading plus 8, 0 without text.
    int GetStatusHeight() const;
    // The area the video uses (the window above the status strip).
    QRect GetVideoRect() const { return contentsRect(); }

    // The dialog that created the window; it receives the keys while the
    // window has no parent (full-screen display).
    void SetOwnerDialog(QWidget* owner) { m_pOwner = owner; }
    QWidget* GetOwnerDialog() const { return m_pOwner; }

    // The colour under the video (red 15, green 0, blue 15).
    static QColor BackgroundColor() { return QColor(15, 0, 15); }
    // Yellow status text.
    static QColor StatusTextColor() { return QColor(255, 255, 0); }

Q_SIGNALS:
    // The area of the video changed (status strip shown or hidden).
    void videoRectChanged(const QRect& rect);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void UpdateStrip();

    QString m_strStatus;
    bool m_bActive = false;
    QPointer<QWidget> m_pOwner;
};
