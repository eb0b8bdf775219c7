// Linked into railmon's own code to make the harness: an operator that works
// the panel from a script instead of a mouse, so whole runs of the real
// program can be tested headless. Set up before main runs; does nothing to
// railmon's own logic.
//
// RAILMON_SCRIPT: actions separated by ';', run in order once the event loop
// has started:
//   click:NAME        click the button or switch whose callback is NAME
//   value:NAME=X      enter X into the numeric control or ring whose callback is NAME
//                     (or whose control ID is N, written #N), committing it
//   wait:MS           let the loop run for MS milliseconds
//   interval:S        set the timer's interval to S seconds directly, past the
//                     interval control's range (for fast and soak runs)
//   grab:PATH         save a screenshot of the panel
//   state             print "STATE gMask=... gLogToFile=..."
//   ctrl:ID           print "CTRL ID value" (the value as GetCtrlVal reads it)
//   traces:ID         print "TRACES ID label|label|..." of a strip chart
//   tip:ID            print "TIP ID tooltip" of a control
//   close             close the window as an operator would
// Every pop-up is printed as "POPUP title|message" and dismissed at once,
// unless RAILMON_REAL_POPUPS=1 asks for the real modal boxes.
// RAILMON_REPORT_TICKS=1 prints "TICK" once a tick has plotted its last chart,
// that is, after everything the tick logs has been flushed.
// For soak runs: RAILMON_EXIT_AFTER_TICKS=N clicks Exit after the N-th tick;
// RAILMON_REPORT_RSS_EVERY=N prints "RSS <ticks> <kB>" every N ticks; and
// "TICKS <n>" is printed at exit whenever either is set.
#include "railmon-ctrl.h"
#include "railmon.h"
#include "strip_chart.h"
#include "userint_testing.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

QObject* controlFor(const QString& name)
{
    QObject* object = name.startsWith('#') ? uiControlObject(pnl, name.mid(1).toInt())
                                           : uiControlByCallback(pnl, name.toUtf8().constData());
    if (!object)
        std::fprintf(stderr, "harness: no control with callback %s\n", qPrintable(name));
    return object;
}

void perform(const QString& action)
{
    const QString verb = action.section(':', 0, 0);
    const QString argument = action.section(':', 1);
    if (verb == "click") {
        if (auto* button = qobject_cast<QAbstractButton*>(controlFor(argument)))
            button->click();
    } else if (verb == "value") {
        QObject* object = controlFor(argument.section('=', 0, 0));
        const double value = argument.section('=', 1).toDouble();
        if (auto* spin = qobject_cast<QDoubleSpinBox*>(object)) {
            spin->setValue(value);
        } else if (auto* combo = qobject_cast<QComboBox*>(object)) {
            combo->setCurrentIndex(combo->findData(static_cast<int>(value)));
            emit combo->activated(combo->currentIndex());
        }
    } else if (verb == "interval") {
        SetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, argument.toDouble());
    } else if (verb == "grab") {
        uiPanelWidget(pnl)->grab().save(argument);
    } else if (verb == "state") {
        std::printf("STATE gMask=%d gLogToFile=%d\n", gMask, gLogToFile);
    } else if (verb == "ctrl") {
        double value = 0.0;
        const int status = GetCtrlVal(pnl, argument.toInt(), &value);
        std::printf("CTRL %d %s\n", argument.toInt(), status < 0 ? "error" : qPrintable(QString::number(value)));
    } else if (verb == "traces") {
        QStringList labels;
        if (auto* chart = qobject_cast<StripChart*>(uiControlObject(pnl, argument.toInt())))
            for (int k = 0; k < chart->graphCount(); ++k)
                labels << chart->graph(k)->name();
        std::printf("TRACES %d %s\n", argument.toInt(), qPrintable(labels.join('|')));
    } else if (verb == "tip") {
        auto* widget = qobject_cast<QWidget*>(uiControlObject(pnl, argument.toInt()));
        std::printf("TIP %d %s\n", argument.toInt(), widget ? qPrintable(widget->toolTip()) : "(none)");
    } else if (verb == "close") {
        uiPanelWidget(pnl)->close();
    } else if (verb != "wait" && !verb.isEmpty()) {
        std::fprintf(stderr, "harness: unknown action %s\n", qPrintable(action));
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
        perform(action);
    }
}

long gTicks = 0;

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

const bool installed = [] {
    if (const char* real = std::getenv("RAILMON_REAL_POPUPS"); !real || *real != '1') {
        uiTestHooks().popup = [](const std::string& title, const std::string& message) {
            std::printf("POPUP %s|%s\n", title.c_str(), message.c_str());
            std::fflush(stdout);
        };
    }
    uiTestHooks().loopStarted = [] {
        const char* script = std::getenv("RAILMON_SCRIPT");
        runFrom(QString::fromUtf8(script ? script : "").split(';', Qt::SkipEmptyParts));
    };
    const bool reportTicks = envLong("RAILMON_REPORT_TICKS") == 1;
    const long exitAfter = envLong("RAILMON_EXIT_AFTER_TICKS");
    const long rssEvery = envLong("RAILMON_REPORT_RSS_EVERY");
    if (reportTicks || exitAfter > 0 || rssEvery > 0) {
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
    return true;
}();

} // namespace
