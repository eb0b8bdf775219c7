// What Qt alone needs to start with railmon's panel: the shipped panel file
// built by a stock QUiLoader (its own widget classes become their base
// classes: plain frames, buttons and widgets, nothing drawn in them), its
// two charts as plain QCustomPlots with four graphs each, shown and closed
// once the event loop runs, started as railmon is. Between the bare window
// and railmon it tells the panel's own cost in Qt from railmon's code.
#include <qcustomplot.h>

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QUiLoader>
#include <QWidget>

#include <cstdio>

namespace {
constexpr int kTraces = 4; // one per channel, as railmon's charts hold

class StockLoader : public QUiLoader {
public:
    using QUiLoader::QUiLoader;
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override
    {
        if (className != QLatin1String("StripChart"))
            return QUiLoader::createWidget(className, parent, name);
        auto* plot = new QCustomPlot(parent);
        plot->setObjectName(name);
        for (int k = 0; k < kTraces; ++k)
            plot->addGraph();
        return plot;
    }
};

// The base classes stand in quietly: the warnings would only be noise.
void quiet(QtMsgType, const QMessageLogContext&, const QString&) { }
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: panel_floor PANEL-FILE\n");
        return 2;
    }
    // As railmon makes its loader: without the Designer plugins installed on
    // the system, which a stock loader would load as it is made.
    const QStringList paths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths({});
    StockLoader loader;
    QCoreApplication::setLibraryPaths(paths);
    QFile file(QString::fromLocal8Bit(argv[argc - 1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "panel_floor: cannot read %s\n", argv[argc - 1]);
        return 1;
    }
    qInstallMessageHandler(quiet);
    QWidget* panel = loader.load(&file);
    qInstallMessageHandler(nullptr);
    if (!panel) {
        std::fprintf(stderr, "panel_floor: %s\n", qPrintable(loader.errorString()));
        return 1;
    }
    panel->show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    const int status = app.exec();
    delete panel;
    return status;
}
