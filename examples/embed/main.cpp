// velotrax-embed MEDIA [SHOT.png]: a window with a VelotraxWidget that
// plays MEDIA; with SHOT, saves a picture of the window after two seconds
// of playing and quits.
#include <VelotraxWidget.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: velotrax-embed MEDIA [SHOT.png]\n");
        return 2;
    }
    QWidget window;
    window.setWindowTitle("Velotrax embedded");
    auto* layout = new QVBoxLayout(&window);
    auto* video = new VelotraxWidget;
    auto* label = new QLabel;
    layout->addWidget(video, 1);
    layout->addWidget(label);
    window.resize(660, 580);
    window.show();
    video->setFileName(QString::fromLocal8Bit(argv[1]));
    video->play();
    label->setText("Velotrax " + video->version() + ": " + video->fileName());
    if (argc > 2) {
        const QString shot = QString::fromLocal8Bit(argv[2]);
        QTimer::singleShot(2000, &window, [&, shot] {
            label->setText(label->text() + QString(" at %1 ms").arg(video->currentPos()));
            window.grab().save(shot, "PNG");
            app.quit();
        });
    }
    return app.exec();
}
