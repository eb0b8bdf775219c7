// The harness: railmon's own main and callbacks (railmon_app, main renamed
// railmon_main) with an operator that works the panel from a script instead
// of a mouse, so whole runs of the real program can be tested headless. It
// sets up its hooks, then runs railmon_main; it does nothing to railmon's
// own logic.
//
// RAILMON_SCRIPT: actions separated by ';', run in order once the event loop
// has started. A control is named as in the panel header (PANEL_VSET1) or by
// its callback (SetCB), never by a bare number.
//   click:NAME        click the button or switch
//   value:NAME=X      enter X into the numeric control or ring, committing it
//   wait:MS           let the loop run for MS milliseconds
//   until:PATH        let the loop run until the file PATH exists (a test says
//                     when it has seen enough; at most a minute)
//   interval:S        set the timer's interval to S seconds directly, past the
//                     interval control's range (for fast and soak runs)
//   grab:PATH         save a screenshot of the panel
//   text:NAME         print "TEXT NAME shown text" of a control, as the operator sees it
//   chart:NAME        print "CHART NAME points span" of a strip chart: the points of
//                     its first trace and the seconds between the first and last
//   state             print "STATE gMask=... gLogToFile=..."
//   ctrl:NAME         print "CTRL NAME value" (the value as GetCtrlVal reads it)
//   traces:NAME       print "TRACES NAME label|label|..." of a strip chart
//   tip:NAME          print "TIP NAME tooltip" of a control
//   title             print "TITLE window title"
//   banner            print "BANNER text" of what the panel says it waits for,
//                     or "BANNER none"
//   enabled:NAME      print "ENABLED NAME 1" when the control is available, else 0
//   close             close the window as an operator would
// A mistyped script must not pass without testing anything: an unknown
// action or control ends the run at once with exit status 3.
// Every pop-up is printed as "POPUP title|message" and dismissed at once,
// unless RAILMON_REAL_POPUPS=1 asks for the real modal boxes.
// RAILMON_REPORT_TICKS=1 prints "TICK" once a tick has plotted its last chart,
// that is, after everything the tick logs has been flushed.
// For soak runs: RAILMON_EXIT_AFTER_TICKS=N clicks Exit after the N-th tick;
// RAILMON_REPORT_RSS_EVERY=N prints "RSS <ticks> <kB>" every N ticks; and
// "TICKS <n>" is printed at exit whenever either is set.
// RAILMON_QUIT_WHILE_STARTING_MS=N: N ms into the run, while start-up waits
// for the supply, prints "STARTING text" of the window that says so and
// presses its Quit.
// For the benchmarks (bench/): RAILMON_COUNT=1 counts ticks and each strip
// chart's paint events, and the action
//   count             prints "COUNT <wall s> <cpu s> <ticks> <paints ICHART>
//                     <paints VCHART> <voluntary context switches>"
// (wall on a monotonic clock, cpu the whole process's user and system time).
#include "indicators.h"
#include "railmon-ctrl.h"
#include "railmon.h"
#include "strip_chart.h"
#include "userint_testing.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <chrono>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

// railmon's main, as railmon_app names it.
int railmon_main(int argc, char* argv[]);

namespace {

[[noreturn]] void scriptError(const QString& what)
{
    std::fprintf(stderr, "harness: %s\n", qPrintable(what));
    std::fflush(stdout);
    _exit(3);
}

// The panel header's name of a control, so scripts say PANEL_VSET1, not 16.
int controlIdNamed(const QString& name)
{
#define HARNESS_CONTROL_NAME(controlName, id, ...) \
    if (name == QLatin1String(#controlName))       \
        return id;
    RAILMON_PANEL_CONTROLS(HARNESS_CONTROL_NAME)
#undef HARNESS_CONTROL_NAME
    return 0;
}

// A control by its name in the panel header (PANEL_SET) or its callback
// (SetCB).
QObject* controlFor(const QString& name)
{
    const int id = controlIdNamed(name);
    QObject* object = id > 0 ? uiControlObject(pnl, id) : uiControlByCallback(pnl, name.toUtf8().constData());
    if (!object)
        scriptError(QStringLiteral("no control %1 on the panel").arg(name));
    return object;
}

// A control's ID by its panel-header name; the script ends if there is none.
int namedId(const QString& name)
{
    const int id = controlIdNamed(name);
    if (id == 0)
        scriptError(QStringLiteral("no control named %1 in the panel header").arg(name));
    return id;
}

QString shownText(QObject* object)
{
    if (auto* button = qobject_cast<QAbstractButton*>(object))
        return button->text();
    if (auto* combo = qobject_cast<QComboBox*>(object))
        return combo->currentText();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(object))
        return spin->text();
    if (auto* readout = qobject_cast<Readout*>(object))
        return readout->text();
    if (auto* label = qobject_cast<QLabel*>(object))
        return label->text();
    return QStringLiteral("(no text)");
}

long gTicks = 0;
long gPaints[2] = {0, 0}; // paint events of ICHART, VCHART

// Counts the paint events a chart receives, that is, the frames it shows.
class PaintCounter : public QObject {
public:
    PaintCounter(QObject* chart, long* count)
        : QObject(chart)
        , count_(count)
    {
        chart->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++*count_;
        return false;
    }

private:
    long* count_;
};

void printCount()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
        (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6; // seconds
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("COUNT %.6f %.6f %ld %ld %ld %ld\n", now.tv_sec + now.tv_nsec / 1e9, cpu, gTicks, gPaints[0],
                gPaints[1], static_cast<long>(usage.ru_nvcsw));
    std::fflush(stdout);
}

void perform(const QString& action)
{
    const QString verb = action.section(':', 0, 0);
    const QString argument = action.section(':', 1);
    if (verb == "click") {
        auto* button = qobject_cast<QAbstractButton*>(controlFor(argument));
        if (!button)
            scriptError(QStringLiteral("%1 is not a button").arg(argument));
        button->click();
    } else if (verb == "value") {
        QObject* object = controlFor(argument.section('=', 0, 0));
        const double value = argument.section('=', 1).toDouble();
        if (auto* spin = qobject_cast<QDoubleSpinBox*>(object)) {
            spin->setValue(value);
        } else if (auto* combo = qobject_cast<QComboBox*>(object)) {
            combo->setCurrentIndex(combo->findData(static_cast<int>(value)));
            emit combo->activated(combo->currentIndex());
        } else {
            scriptError(QStringLiteral("%1 takes no value").arg(argument));
        }
    } else if (verb == "interval") {
        SetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, argument.toDouble());
    } else if (verb == "grab") {
        uiPanelWidget(pnl)->grab().save(argument);
    } else if (verb == "state") {
        std::printf("STATE gMask=%d gLogToFile=%d\n", gMask, gLogToFile);
    } else if (verb == "ctrl") {
        double value = 0.0;
        const int status = GetCtrlVal(pnl, namedId(argument), &value);
        std::printf("CTRL %s %s\n", qPrintable(argument), status < 0 ? "error" : qPrintable(QString::number(value)));
    } else if (verb == "traces") {
        QStringList labels;
        if (auto* chart = qobject_cast<StripChart*>(controlFor(argument)))
            for (int k = 0; k < chart->graphCount(); ++k)
                labels << chart->graph(k)->name();
        std::printf("TRACES %s %s\n", qPrintable(argument), qPrintable(labels.join('|')));
    } else if (verb == "tip") {
        auto* widget = qobject_cast<QWidget*>(controlFor(argument));
        std::printf("TIP %s %s\n", qPrintable(argument),
                    widget ? qPrintable(widget->toolTip().replace('\n', " | ")) : "(none)");
    } else if (verb == "text") {
        std::printf("TEXT %s %s\n", qPrintable(argument), qPrintable(shownText(controlFor(argument))));
    } else if (verb == "chart") {
        auto* chart = qobject_cast<StripChart*>(controlFor(argument));
        const auto data = chart ? chart->graph(0)->data() : nullptr;
        const double span = data && !data->isEmpty() ? (data->constEnd() - 1)->key - data->constBegin()->key : 0.0;
        std::printf("CHART %s %d %.6f\n", qPrintable(argument), data ? data->size() : 0, span);
    } else if (verb == "title") {
        std::printf("TITLE %s\n", qPrintable(uiPanelWidget(pnl)->windowTitle()));
    } else if (verb == "banner") {
        auto* banner = uiPanelWidget(pnl)->findChild<QLabel*>(QStringLiteral("waitingBanner"));
        std::printf("BANNER %s\n", banner && banner->isVisible() ? qPrintable(banner->text()) : "none");
    } else if (verb == "enabled") {
        auto* widget = qobject_cast<QWidget*>(controlFor(argument));
        std::printf("ENABLED %s %d\n", qPrintable(argument), widget && widget->isEnabled() ? 1 : 0);
    } else if (verb == "count") {
        printCount();
    } else if (verb == "close") {
        uiPanelWidget(pnl)->close();
    } else if (verb != "wait" && !verb.isEmpty()) {
        scriptError(QStringLiteral("unknown action %1").arg(action));
    }
}

void runFrom(QStringList actions)
{
    while (!actions.isEmpty()) {
        const QString action = actions.takeFirst().trimmed();
        if (action.startsWith("wait:")) {
            QTimer::singleShot(action.mid(5).toInt(), [actions] { runFrom(actions); });
            return;
        }
        if (action.startsWith("until:")) {
            const QString path = action.mid(6);
            auto* poll = new QTimer;
            auto* waited = new QElapsedTimer;
            waited->start();
            QObject::connect(poll, &QTimer::timeout, [poll, waited, path, actions] {
                if (!QFileInfo::exists(path) && waited->elapsed() < 60000)
                    return;
                poll->deleteLater();
                delete waited;
                runFrom(actions);
            });
            poll->start(100);
            return;
        }
        perform(action);
    }
}

long residentKilobytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long envLong(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::atol(v) : 0;
}

void installHooks()
{
    if (const char* real = std::getenv("RAILMON_REAL_POPUPS"); !real || *real != '1') {
        uiTestHooks().popup = [](const std::string& title, const std::string& message) {
            std::printf("POPUP %s|%s\n", title.c_str(), message.c_str());
            std::fflush(stdout);
        };
    }
    const bool count = envLong("RAILMON_COUNT") == 1;
    uiTestHooks().loopStarted = [count] {
        if (count) {
            new PaintCounter(controlFor(QStringLiteral("PANEL_ICHART")), &gPaints[0]);
            new PaintCounter(controlFor(QStringLiteral("PANEL_VCHART")), &gPaints[1]);
        }
        const char* script = std::getenv("RAILMON_SCRIPT");
        runFrom(QString::fromUtf8(script ? script : "").split(';', Qt::SkipEmptyParts));
    };
    const bool reportTicks = envLong("RAILMON_REPORT_TICKS") == 1;
    const long exitAfter = envLong("RAILMON_EXIT_AFTER_TICKS");
    const long rssEvery = envLong("RAILMON_REPORT_RSS_EVERY");
    if (reportTicks || exitAfter > 0 || rssEvery > 0 || count) {
        uiTestHooks().plotted = [=](int, int control, const double*, int) {
            if (control != PANEL_VCHART)
                return;
            ++gTicks;
            if (reportTicks)
                std::printf("TICK\n");
            if (rssEvery > 0 && gTicks % rssEvery == 0)
                std::printf("RSS %ld %ld\n", gTicks, residentKilobytes());
            if (gTicks == exitAfter)
                QTimer::singleShot(0, [] { perform("click:ExitCB"); });
        };
        if (exitAfter > 0 || rssEvery > 0)
            std::atexit([] { std::printf("TICKS %ld\n", gTicks); });
    }
    if (const char* dir = std::getenv("RAILMON_PANEL_DIR"))
        uiTestHooks().panelDirectory = dir;
    if (const long ms = envLong("RAILMON_QUIT_WHILE_STARTING_MS"); ms > 0) {
        // Start-up runs before the loop does: the press comes through the
        // events the runtime handles while it waits.
        std::thread([ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            QMetaObject::invokeMethod(qApp, [] {
                for (QWidget* window : QApplication::topLevelWidgets()) {
                    auto* quit = window->isVisible() ? window->findChild<QPushButton*>() : nullptr;
                    auto* text = window->findChild<QLabel*>();
                    if (!quit || !text || quit->text() != QStringLiteral("&Quit"))
                        continue;
                    std::printf("STARTING %s\n", qPrintable(text->text()));
                    std::fflush(stdout);
                    quit->click();
                }
            });
        }).detach();
    }
}

} // namespace

int main(int argc, char* argv[])
{
    installHooks();
    return railmon_main(argc, argv);
}
