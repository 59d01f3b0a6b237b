#pragma once
// VelotraxWidget: the Velotrax control as a Qt widget. Its properties and
// slots are the control's automation members; it plays what FileName,
// PlayList or XTL name in its own player (video above, controls below).
//
//   find_package(Velotrax REQUIRED)
//   target_link_libraries(app PRIVATE Velotrax::Widget)
//
//   auto* video = new VelotraxWidget(parent);
//   video->setFileName("/path/clip.webm");
//   video->play();
#include <QString>
#include <QWidget>

#define VELOTRAX_WIDGET_EXPORT __attribute__((visibility("default")))

class VELOTRAX_WIDGET_EXPORT VelotraxWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString fileName READ fileName WRITE setFileName)
    Q_PROPERTY(QString mediaLocation READ mediaLocation WRITE setMediaLocation)
    Q_PROPERTY(bool autoSize READ autoSize WRITE setAutoSize)
    Q_PROPERTY(bool showExternal READ showExternal WRITE setShowExternal)
    Q_PROPERTY(bool locked READ locked WRITE setLocked)
    Q_PROPERTY(bool preferLocalApp READ preferLocalApp WRITE setPreferLocalApp)
    Q_PROPERTY(bool useTwoVideoWindowsExternal READ useTwoVideoWindowsExternal WRITE
                   setUseTwoVideoWindowsExternal)
    Q_PROPERTY(bool deinterlace READ deinterlace WRITE setDeinterlace)
    Q_PROPERTY(bool repeat READ repeat WRITE setRepeat)
    Q_PROPERTY(double rate READ rate WRITE setRate)
    Q_PROPERTY(int startTime READ startTime WRITE setStartTime)
    Q_PROPERTY(int stopTime READ stopTime WRITE setStopTime)
    Q_PROPERTY(int currentPos READ currentPos WRITE setCurrentPos)
    Q_PROPERTY(QString version READ version)

public:
    explicit VelotraxWidget(QWidget* parent = nullptr);
    ~VelotraxWidget() override;

    QString fileName() const;
    QString mediaLocation() const;
    bool autoSize() const;
    bool showExternal() const;
    bool locked() const;
    bool preferLocalApp() const;
    bool useTwoVideoWindowsExternal() const;
    bool deinterlace() const;
    bool repeat() const;
    double rate() const;
    int startTime() const;
    int stopTime() const;
    int currentPos() const;
    QString version() const;
    // The HRESULT of the last call (0 when it succeeded).
    int lastError() const { return m_lastError; }

    QSize sizeHint() const override;

public Q_SLOTS:
    void setFileName(const QString& name);
    void setMediaLocation(const QString& location);
    void setAutoSize(bool on);
    void setShowExternal(bool on);
    void setLocked(bool on);
    void setPreferLocalApp(bool on);
    void setUseTwoVideoWindowsExternal(bool on);
    void setDeinterlace(bool on);
    void setRepeat(bool on);
    void setRate(double rate);
    void setStartTime(int ms);
    void setStopTime(int ms);
    void setCurrentPos(int ms);
    void setXtl(const QString& text);
    void setPlayList(const QString& text);
    void setPlayLists(const QString& first, const QString& second);
    void play();
    void pause();
    void stop();
    void render();
    void unrender();
    void aboutBox();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct CImpl;
    CImpl* m_impl;
    mutable int m_lastError = 0;
};
