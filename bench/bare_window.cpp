// The yardstick for railmon's start-up: a bare Qt window holding one
// QCustomPlot, shown, and closed once the event loop runs, started the same
// way as railmon (same platform, same environment).
#include <qcustomplot.h>

#include <QApplication>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* plot = new QCustomPlot(&window);
    plot->addGraph();
    layout->addWidget(plot);
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
