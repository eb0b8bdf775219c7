// The runtime's entry points over Qt Widgets.
//
// Built twice: as the runtime programs use, and with UI_TEST_HOOKS for the
// tests, which observe and steer it through userint_testing.h. Only the
// second build has the hooks, so no program checks one on its way to a
// value write, a plot or a pop-up.
#include "userint.h"
#ifdef UI_TEST_HOOKS
#include "userint_testing.h"
#endif

#include "callback_guard.h"
#include "display_check.h"
#include "indicators.h"
#include "instrument_calls.h"
#include "numeric_control.h"
#include "output_switch.h"
#include "panel_loader.h"
#include "panel_registry.h"
#include "stop_signals.h"
#include "strip_chart.h"
#include "tcp_service.h"
#include "timer_control.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace {

// Lives until the process ends and is never destroyed: the program calls
// nothing to close the runtime, and destroying Qt's application object among
// the static destructors, after Qt's own statics are gone, crashes.
QApplication*& application()
{
    static QApplication* app = nullptr;
    return app;
}

bool runtimeReady()
{
    return application() != nullptr;
}

// A quit asked for (by the program, or by the operator while it waited):
// until the loop it ends has returned.
bool gQuitRequested = false;

// Once a stop signal arrived, no loop runs and no pop-up waits, wherever the
// program is in its start-up, so it goes straight on to its shutdown.
bool stopping()
{
    return StopRequested() != 0;
}

// The error for a control that is not there: no such panel, or no such
// control on it.
int missingControl(int panel)
{
    return findPanel(panel) ? UIE_BAD_CONTROL : UIE_BAD_PANEL;
}

// True while a timer tick's callback runs: what it writes is fed by ticks.
bool gInTick = false;

// A tick that comes long after the last one ended (the loop was held by
// slow work) first greys what the ticks showed and has it painted, so while
// the new sweep runs nobody takes the old readings for current ones; each
// reading clears its readout's mark as it comes.
void markTickReadingsStale(int panel)
{
    Panel* p = findPanel(panel);
    if (!p)
        return;
    for (const Control& c : std::as_const(p->controls))
        if (auto* readout = qobject_cast<Readout*>(c.object); readout && c.tickFed)
            readout->setStale(true);
    p->root->repaint();
}

void raiseEvent(int panel, int control, int event)
{
    // Look the control up afresh: an earlier callback may have discarded it.
    Control* c = findControl(panel, control);
    if (!c || !c->callback)
        return;
    const CallbackRun run;
    c->callback(panel, control, event, nullptr, 0, 0);
}

// A button pressed by its shortcut leaves the focus in the field being
// typed into, so nothing has finished the entry: finish it first, or the
// button acts on the number before the one the field shows.
void commitFocusedTyping()
{
    for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
        if (auto* numeric = qobject_cast<NumericControl*>(w)) {
            numeric->commitTyping();
            return;
        }
}

// A tick held back while a callback ran, and the pass over waiting input
// that follows a tick taking longer than its interval: no tick starts then.
bool gTickHeld = false;
bool gInputAfterTick = false;

void runTick(int panel, int id, TimerControl* timer)
{
    if (gInputAfterTick)
        return;
    if (callbackRunning() || instrumentCallUnderWay()) {
        // One tick is due, however many intervals the callback took.
        if (!std::exchange(gTickHeld, true))
            whenNoCallbackRuns([panel, id, timer = QPointer<TimerControl>(timer)] {
                gTickHeld = false;
                if (timer)
                    runTick(panel, id, timer);
            });
        return;
    }
    if (timer->overdue())
        markTickReadingsStale(panel);
    QElapsedTimer took;
    took.start();
    gInTick = true;
    raiseEvent(panel, id, EVENT_TIMER_TICK);
    gInTick = false;
    // Overdue already: the operator's input first, or a timer that cannot
    // keep its pace would deliver tick after tick before any click.
    if (static_cast<double>(took.elapsed()) >= timer->intervalSeconds() * 1000.0) {
        gInputAfterTick = true;
        QCoreApplication::processEvents();
        gInputAfterTick = false;
    }
}

// Turns the operator's finished actions into commit events, one per action.
void connectControl(int panel, const Control& control)
{
    QObject* object = control.object;
    const int id = control.id;
    // While a callback runs (waiting for the instrument, the loop turns) a
    // commit is not acted on in its middle: ATTR_WHILE_WAITING says what
    // becomes of it.
    auto commit = [panel, id] {
        auto raise = [panel, id] { raiseEvent(panel, id, EVENT_COMMIT); };
        if (callbackRunning() || instrumentCallUnderWay())
            commitWhileCallbackRuns(panel, id, raise);
        else
            raise();
    };
    if (auto* timer = qobject_cast<TimerControl*>(object)) {
        timer->onTick = [panel, id, timer] { runTick(panel, id, timer); };
    } else if (auto* numeric = qobject_cast<NumericControl*>(object)) {
        QObject::connect(numeric, &NumericControl::entryCommitted, numeric, commit);
    } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
        QObject::connect(button, &QAbstractButton::clicked, button, [commit] {
            commitFocusedTyping();
            commit();
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(object)) {
        QObject::connect(combo, &QComboBox::activated, combo, commit);
    } else if (auto* spin = qobject_cast<QDoubleSpinBox*>(object)) {
        QObject::connect(spin, &QDoubleSpinBox::valueChanged, spin, commit);
    } else if (auto* ispin = qobject_cast<QSpinBox*>(object)) {
        QObject::connect(ispin, &QSpinBox::valueChanged, ispin, commit);
    }
}

// Closing the window is the operator's way out too: it ends the loop the
// same way the program's own Quit does, so the program shuts down in full.
class CloseToQuit : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close) {
            event->ignore();
            QuitUserInterface(0);
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

QString programName(char* argv[])
{
    return argv && argv[0] ? QFileInfo(QString::fromLocal8Bit(argv[0])).fileName() : QStringLiteral("program");
}

} // namespace

int InitCVIRTEEx(void*, char* argv[], void*)
{
    if (runtimeReady())
        return 1;
    const QString program = programName(argv);
    // The panel switches live outputs: it is never served to the network
    // without a password.
    if (const std::string refusal = refusedPlatform(argv); !refusal.empty()) {
        std::fprintf(stderr,
                     "%s: %s\n"
                     "  to watch the panel from another computer safely, see \"Watching a bench from another "
                     "computer\" in the README\n",
                     qPrintable(program), refusal.c_str());
        return 0;
    }
    // Qt would abort the process instead; a program nobody can see must
    // not go on to take hold of an instrument either.
    if (const std::string problem = displayProblem(argv); !problem.empty()) {
        std::fprintf(stderr,
                     "%s: no display to open (%s)\n"
                     "  to run without one: add '-platform offscreen' or set QT_QPA_PLATFORM=offscreen\n"
                     "  to watch the panel from another computer: run it on Xvfb, serve that display with "
                     "x11vnc -localhost -rfbauth (loopback only, with a password) and connect through ssh -L; "
                     "\"Watching a bench from another computer\" in the README gives the commands\n",
                     qPrintable(program), problem.c_str());
        return 0;
    }
    // QApplication keeps a reference to argc for its whole life.
    static int argc = 0;
    argc = 0;
    while (argv && argv[argc])
        ++argc;
    static char* fallbackArgv[] = {const_cast<char*>("railmon"), nullptr};
    application() = new QApplication(argc, argc ? argv : fallbackArgv);
    // QApplication has set the user's locale for the C library too, and the
    // program's printf and strtod would then write and read "5,25" under
    // de_DE: in the lines it prints, the files it writes, the simulated
    // supply's settings. Numbers go back to the C locale, as Qt advises.
    std::setlocale(LC_NUMERIC, "C");
    // The panel's own numbers follow the same convention as the log, the
    // readouts and the charts: a point for decimals, digits never grouped.
    // Under de_DE an entry field would otherwise show "9,000 V" beside a
    // readout's "9.000" and read a typed "1.5" as 15.
    QLocale numbers = QLocale::c();
    numbers.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    QLocale::setDefault(numbers);
    // The loop ends only through QuitUserInterface, so shutdown always runs.
    QApplication::setQuitOnLastWindowClosed(false);
    installStopSignals([] { QuitUserInterface(0); });
    return 1;
}

int SetStdioPort(int port)
{
    if (port != 0)
        return UIE_BAD_ARGUMENT;
    // Line-buffered even into a pipe or a file, so each line shows at once.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return 0;
}

int LoadPanel(int, const char* fileName, int panelResourceId)
{
    if (!runtimeReady())
        return UIE_NO_RUNTIME;
    if (!fileName || !*fileName)
        return UIE_BAD_ARGUMENT;
    QString path = QString::fromLocal8Bit(fileName);
    if (!path.contains('/')) {
        // Beside the executable (the build tree), else in the install's
        // data directory relative to it; the first one there is the one
        // meant, so a damaged file is reported, never passed over.
        const QString exeDir = QCoreApplication::applicationDirPath();
        QStringList dirs = {exeDir, QDir::cleanPath(exeDir + QStringLiteral("/" UI_INSTALLED_PANEL_DIR))};
#ifdef UI_TEST_HOOKS
        if (!uiTestHooks().panelDirectory.empty())
            dirs = {QString::fromStdString(uiTestHooks().panelDirectory)};
#endif
        const QString name = path;
        path.clear();
        for (const QString& dir : std::as_const(dirs)) {
            if (QFileInfo::exists(QDir(dir).filePath(name))) {
                path = QDir(dir).filePath(name);
                break;
            }
        }
        if (path.isEmpty()) {
            std::fprintf(stderr, "%s: not found in %s\n", qPrintable(name),
                         qPrintable(QDir::toNativeSeparators(dirs.join(QStringLiteral(" nor in ")))));
            return UIE_FILE;
        }
    }
    std::variant<Panel, QString> loaded = loadPanelFile(path, panelResourceId);
    if (auto* cause = std::get_if<QString>(&loaded)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QDir::toNativeSeparators(path)), qPrintable(*cause));
        return QFileInfo::exists(path) ? UIE_FORMAT : UIE_FILE;
    }
    Panel& panel = std::get<Panel>(loaded);
    panel.root->installEventFilter(new CloseToQuit(panel.root));
    const int handle = registerPanel(panel);
    for (const Control& control : std::as_const(findPanel(handle)->controls))
        connectControl(handle, control);
    return handle;
}

int DisplayPanel(int panel)
{
    Panel* p = findPanel(panel);
    if (!p)
        return UIE_BAD_PANEL;
    // The panel says from now on what it waits for.
    endWaitingLook();
    p->root->show();
    p->root->raise();
    return 0;
}

int DiscardPanel(int panel)
{
    if (!findPanel(panel))
        return UIE_BAD_PANEL;
    endWaitingLook();
    discardPanel(panel);
    return 0;
}

int RunUserInterface(void)
{
    if (!runtimeReady())
        return UIE_NO_RUNTIME;
    if (stopping())
        return 0;
    TimerControl::setLoopRunning(true);
#ifdef UI_TEST_HOOKS
    if (uiTestHooks().loopStarted)
        QTimer::singleShot(0, [] { uiTestHooks().loopStarted(); });
#endif
    setTcpDeliveryRunning(true);
    const int code = QApplication::exec();
    setTcpDeliveryRunning(false);
    TimerControl::setLoopRunning(false);
    gQuitRequested = false;
    return code;
}

int QuitUserInterface(int code)
{
    // Takes effect once the calling callback has returned to the loop; a
    // callback waiting for its instrument meanwhile makes no further calls.
    gQuitRequested = true;
    whenNoCallbackRuns([code] { QCoreApplication::exit(code); });
    return 0;
}

int GetCtrlVal(int panel, int control, double* value)
{
    if (!value)
        return UIE_BAD_ARGUMENT;
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    const std::optional<double> v = controlValue(c->object);
    if (!v)
        return UIE_BAD_ATTRIBUTE;
    *value = *v;
    return 0;
}

int GetCtrlVal(int panel, int control, int* value)
{
    double v = 0.0;
    const int status = GetCtrlVal(panel, control, value ? &v : nullptr);
    if (status == 0)
        *value = std::isfinite(v) ? static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0)) : 0;
    return status;
}

int GetCtrlVal(int panel, int control, unsigned char* value)
{
    int v = 0;
    const int status = GetCtrlVal(panel, control, value ? &v : nullptr);
    if (status == 0)
        *value = static_cast<unsigned char>(v);
    return status;
}

int SetCtrlVal(int panel, int control, double value)
{
#ifdef UI_TEST_HOOKS
    if (uiTestHooks().valueSet)
        uiTestHooks().valueSet(panel, control, value);
#endif
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    c->tickFed = c->tickFed || gInTick;
    return setControlValue(c->object, value) ? 0 : UIE_BAD_ATTRIBUTE;
}

int SetCtrlVal(int panel, int control, int value)
{
    return SetCtrlVal(panel, control, static_cast<double>(value));
}

int SetCtrlVal(int panel, int control, const char* value)
{
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    auto* message = qobject_cast<TextMessage*>(c->object);
    if (!message || !value)
        return UIE_BAD_ATTRIBUTE;
    message->setMessage(QString::fromUtf8(value));
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, double value)
{
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    auto* timer = qobject_cast<TimerControl*>(c->object);
    if (attribute != ATTR_INTERVAL || !timer)
        return UIE_BAD_ATTRIBUTE;
    return timer->setIntervalSeconds(value) ? 0 : UIE_BAD_ATTRIBUTE;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value)
{
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    auto* widget = qobject_cast<QWidget*>(c->object);
    if (attribute == ATTR_INTERVAL)
        return SetCtrlAttribute(panel, control, attribute, static_cast<double>(value));
    if (attribute == ATTR_WHILE_WAITING) {
        if (value < VAL_WHILE_WAITING_HELD || value > VAL_WHILE_WAITING_OFF)
            return UIE_BAD_ATTRIBUTE;
        c->whileWaiting = value;
        return 0;
    }
    if (attribute == ATTR_DIMMED) {
        if (!widget)
            return UIE_BAD_ATTRIBUTE;
        c->dimmed = value != 0;
        setProgramDimmed(widget, c->dimmed);
        return 0;
    }
    if (attribute == ATTR_STALE) {
        if (auto* output = qobject_cast<OutputSwitch*>(widget)) {
            output->setStale(value != 0);
            return 0;
        }
        auto* readout = qobject_cast<Readout*>(widget);
        if (!readout || qobject_cast<TextMessage*>(widget))
            return UIE_BAD_ATTRIBUTE;
        readout->setStale(value != 0);
        return 0;
    }
    if (attribute != ATTR_TEXT_BGCOLOR || !widget || value < VAL_DEFAULT_COLOR || value > 0xFFFFFF)
        return UIE_BAD_ATTRIBUTE;
    // These draw the program's colour along with their own marks.
    if (auto* numeric = qobject_cast<NumericControl*>(widget)) {
        numeric->setProgramColour(value);
        return 0;
    }
    if (auto* output = qobject_cast<OutputSwitch*>(widget)) {
        output->setProgramColour(value);
        return 0;
    }
    if (auto* message = qobject_cast<TextMessage*>(widget)) {
        message->setProgramColour(value);
        return 0;
    }
    widget->setStyleSheet(value == VAL_DEFAULT_COLOR
                              ? QString()
                              : QStringLiteral("background-color: #%1;").arg(value, 6, 16, QLatin1Char('0')));
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value)
{
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    auto* widget = qobject_cast<QWidget*>(c->object);
    if (attribute == ATTR_HELD_OFF_TEXT) {
        auto* output = qobject_cast<OutputSwitch*>(widget);
        if (!output || !value)
            return UIE_BAD_ATTRIBUTE;
        output->setHeldOff(QString::fromUtf8(value));
        return 0;
    }
    if ((attribute != ATTR_TOOLTIP_TEXT && attribute != ATTR_TOOLTIP_NOTE) || !widget || !value)
        return UIE_BAD_ATTRIBUTE;
    const QString text = QString::fromUtf8(value);
    const bool note = attribute == ATTR_TOOLTIP_NOTE;
    if (auto* numeric = qobject_cast<NumericControl*>(widget)) {
        if (note)
            numeric->setNote(text);
        else
            numeric->setProgramTip(text);
        return 0;
    }
    if (auto* output = qobject_cast<OutputSwitch*>(widget)) {
        if (note)
            output->setNote(text);
        else
            output->setProgramTip(text);
        return 0;
    }
    if (!c->ownTipKept) {
        c->ownTip = widget->toolTip();
        c->ownTipKept = true;
    }
    if (note) {
        c->note = text;
    } else {
        c->programTip = text;
        c->hasProgramTip = true;
    }
    QStringList tips;
    if (const QString& base = c->hasProgramTip ? c->programTip : c->ownTip; !base.isEmpty())
        tips << base;
    if (!c->note.isEmpty())
        tips << c->note;
    widget->setToolTip(tips.join(QLatin1Char('\n')));
    return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value)
{
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    if (!value)
        return UIE_BAD_ARGUMENT;
    if (attribute == ATTR_PRECISION) {
        if (auto* spin = qobject_cast<QDoubleSpinBox*>(c->object)) {
            *value = spin->decimals();
            return 0;
        }
        if (auto* numeric = qobject_cast<NumericIndicator*>(c->object)) {
            *value = numeric->decimals();
            return 0;
        }
    } else if (attribute == ATTR_DIMMED) {
        *value = c->dimmed ? 1 : 0;
        return 0;
    } else if (attribute == ATTR_STALE) {
        if (auto* readout = qobject_cast<Readout*>(c->object)) {
            *value = readout->stale() ? 1 : 0;
            return 0;
        }
        if (auto* output = qobject_cast<OutputSwitch*>(c->object)) {
            *value = output->stale() ? 1 : 0;
            return 0;
        }
    }
    return UIE_BAD_ATTRIBUTE;
}

int GetCtrlAttribute(int panel, int control, int attribute, double* value)
{
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    if (!value)
        return UIE_BAD_ARGUMENT;
    if (attribute == ATTR_MIN_VALUE || attribute == ATTR_MAX_VALUE) {
        auto* spin = qobject_cast<QDoubleSpinBox*>(c->object);
        if (!spin)
            return UIE_BAD_ATTRIBUTE;
        *value = attribute == ATTR_MIN_VALUE ? spin->minimum() : spin->maximum();
        return 0;
    }
    auto* timer = qobject_cast<TimerControl*>(c->object);
    if (attribute != ATTR_INTERVAL || !timer)
        return UIE_BAD_ATTRIBUTE;
    *value = timer->intervalSeconds();
    return 0;
}

int SetPanelAttribute(int panel, int attribute, const char* value)
{
    Panel* p = findPanel(panel);
    if (!p)
        return UIE_BAD_PANEL;
    if (attribute != ATTR_TITLE || !value)
        return UIE_BAD_ATTRIBUTE;
    p->root->setWindowTitle(QString::fromUtf8(value));
    return 0;
}

int SetTraceAttributeEx(int panel, int control, int trace, int attribute, const char* value)
{
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    auto* chart = qobject_cast<StripChart*>(c->object);
    if (attribute != ATTR_TRACE_LG_TEXT || !chart || !value)
        return UIE_BAD_ATTRIBUTE;
    return chart->setTraceLabel(trace, QString::fromUtf8(value)) ? 0 : UIE_BAD_ATTRIBUTE;
}

int PlotStripChart(int panel, int control, const void* array, int numberOfPoints, int startingIndex, int skipCount,
                   int dataType)
{
    Control* c = findControl(panel, control);
    if (!c)
        return missingControl(panel);
    auto* chart = qobject_cast<StripChart*>(c->object);
    if (!chart || dataType != VAL_DOUBLE)
        return UIE_BAD_ATTRIBUTE;
    // One point per trace per call, the only use this runtime serves.
    if (!array || startingIndex < 0 || skipCount != 0 || numberOfPoints != chart->traceCount())
        return UIE_BAD_ARGUMENT;
    const double* values = static_cast<const double*>(array) + startingIndex;
    chart->plot(values, numberOfPoints);
#ifdef UI_TEST_HOOKS
    if (uiTestHooks().plotted)
        uiTestHooks().plotted(panel, control, values, numberOfPoints);
#endif
    return 0;
}

int MessagePopup(const char* title, const char* message)
{
    const char* t = title ? title : "";
    const char* m = message ? message : "";
#ifdef UI_TEST_HOOKS
    if (uiTestHooks().popup) {
        uiTestHooks().popup(t, m);
        return 0;
    }
#endif
    if (!runtimeReady())
        return UIE_NO_RUNTIME;
    if (stopping())
        return 0;
    endWaitingLook(); // start-up's waiting window: the pop-up says what came of it
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(t), QString::fromUtf8(m), QMessageBox::Ok);
    box.exec();
    return 0;
}

int ConfirmPopup(const char* title, const char* message)
{
    const char* t = title ? title : "";
    const char* m = message ? message : "";
#ifdef UI_TEST_HOOKS
    if (uiTestHooks().confirm)
        return uiTestHooks().confirm(t, m) ? 1 : 0;
#endif
    if (!runtimeReady())
        return UIE_NO_RUNTIME;
    if (stopping())
        return 0;
    endWaitingLook();
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(t), QString::fromUtf8(m),
                    QMessageBox::Yes | QMessageBox::No);
    // No is the default: Enter pressed in passing changes nothing.
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? 1 : 0;
}

int StopRequested(void)
{
    return stopSignalled() || gQuitRequested ? 1 : 0;
}

int SuspendTimerCallbacks(void)
{
    TimerControl::setAllEnabled(false);
    return 0;
}

int ResumeTimerCallbacks(void)
{
    TimerControl::setAllEnabled(true);
    return 0;
}
