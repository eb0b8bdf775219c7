#include "instrument_calls.h"

#include "callback_guard.h"
#include "output_switch.h"
#include "panel_registry.h"
#include "strip_chart.h"
#include "userint.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// Most calls take microseconds: a thread that spins this long for the next
// one (a sweep's calls follow each other closely) or for its answer costs
// less than being put to sleep and woken.
constexpr auto kSpin = std::chrono::microseconds(40);
// The longest the loop's thread goes without a pass of the event loop while
// calls follow each other: the panel repaints and hears a stop or an off
// click at least this often. A pass costs tens of microseconds, so it is
// not made after every call of a sweep. [ms]
constexpr auto kLoopPassEvery = std::chrono::milliseconds(20);
// How long a call may take before the panel says that it waits. [ms]
constexpr int kWaitShownAfterMs = 500;
// How often what the panel says is brought up to date. [ms]
constexpr int kWaitUpdateMs = 100;

// ---- The instrument thread --------------------------------------------------

// One thread makes every call, so a library that keeps per-thread state
// sees one caller, as before.
class InstrumentThread {
public:
    // Starts `call(context)`; the ticket its finishing is told by.
    unsigned start(int (*call)(void*), void* context)
    {
        if (!thread_)
            thread_ = new std::thread([this] { run(); }); // never joined: it may sit in a call at exit
        call_ = call;
        context_ = context;
        const unsigned ticket = posted_.fetch_add(1) + 1;
        if (sleeping_.load()) {
            std::lock_guard<std::mutex> lock(mutex_);
            wake_.notify_one();
        }
        return ticket;
    }

    bool finished(unsigned ticket) const { return finished_.load() == ticket; }

    bool finishesWithinSpin(unsigned ticket) const
    {
        const auto until = Clock::now() + kSpin;
        while (!finished(ticket))
            if (Clock::now() > until)
                return false;
        return true;
    }

    // Sleeps until `ticket` has finished or `until`; true when it has.
    bool sleepUntilFinished(unsigned ticket, Clock::time_point until)
    {
        std::unique_lock<std::mutex> lock(doneMutex_);
        loopSleeping_.store(true);
        const bool done = done_.wait_until(lock, until, [&] { return finished(ticket); });
        loopSleeping_.store(false);
        return done;
    }

    int result() const { return result_; }

    // The loop's thread waits in the event loop for `ticket`: the finished
    // call wakes it. True when it has already finished.
    bool waitInLoop(unsigned ticket)
    {
        loopWaiting_.store(true);
        return finished(ticket);
    }
    void doneWaitingInLoop() { loopWaiting_.store(false); }

private:
    void run()
    {
        unsigned seen = 0;
        for (;;) {
            const auto until = Clock::now() + kSpin;
            while (posted_.load() == seen && Clock::now() < until) {
            }
            if (posted_.load() == seen) {
                std::unique_lock<std::mutex> lock(mutex_);
                sleeping_.store(true);
                wake_.wait(lock, [&] { return posted_.load() != seen; });
                sleeping_.store(false);
            }
            seen = posted_.load();
            result_ = call_(context_);
            finished_.store(seen);
            if (loopSleeping_.load()) {
                std::lock_guard<std::mutex> lock(doneMutex_);
                done_.notify_one();
            }
            if (loopWaiting_.load())
                QMetaObject::invokeMethod(
                    qApp, [] {}, Qt::QueuedConnection);
        }
    }

    std::mutex mutex_, doneMutex_;
    std::condition_variable wake_, done_;
    std::atomic<unsigned> posted_{0}, finished_{0};
    std::atomic<bool> sleeping_{false}, loopWaiting_{false}, loopSleeping_{false};
    int (*call_)(void*) = nullptr;
    void* context_ = nullptr;
    int result_ = 0;
    std::thread* thread_ = nullptr;
};

InstrumentThread& instrumentThread()
{
    static InstrumentThread* thread = new InstrumentThread;
    return *thread;
}

// ---- What the operator does meanwhile -------------------------------------

bool gCallUnderWay = false;

struct Commit {
    int panel, control;
};
std::deque<Commit> gWaitingCommits;

// A panel's control behind `widget`, if it is one.
Control* controlOf(QObject* widget, int* panelHandle = nullptr)
{
    for (QObject* o = widget; o; o = o->parent())
        for (Panel* panel : allPanels())
            for (Control& c : panel->controls)
                if (c.object == o) {
                    if (panelHandle)
                        *panelHandle = panel->handle;
                    return &c;
                }
    return nullptr;
}

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::Shortcut:
        return true;
    default:
        return false;
    }
}

bool onAPanel(const QWidget* widget)
{
    const QWidget* window = widget->window();
    for (Panel* panel : allPanels())
        if (panel->root == window)
            return true;
    return false;
}

// Input that may be acted on at once: on a control marked for it, on a
// chart (looking at one reaches no callback; its context menu, which opens
// dialogs, waits with the rest), or in a window that is no panel (the
// window that offers to quit while start-up waits).
bool actsNow(QWidget* receiver, QEvent::Type type)
{
    if (Control* c = controlOf(receiver); c && c->whileWaiting != VAL_WHILE_WAITING_HELD)
        return true;
    for (QObject* o = receiver; o; o = o->parent())
        if (qobject_cast<StripChart*>(o))
            return type != QEvent::ContextMenu;
    return !onAPanel(receiver);
}

// Holds the operator's input while a call is under way: what acts now
// passes, the rest is kept in order and given back once no callback runs.
// Input to a control shown unavailable is left to Qt, which refuses it.
class InputKeeper : public QObject {
public:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        if (!gCallUnderWay || replaying_ || !isInput(event->type()) || !receiver->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(receiver);
        if (!widget->isEnabled() || actsNow(widget, event->type()))
            return false;
        kept_.push_back({QPointer<QObject>(receiver), std::unique_ptr<QEvent>(event->clone())});
        return true;
    }

    // Gives the kept input back, as it came.
    void giveBack()
    {
        if (kept_.empty())
            return;
        auto kept = std::move(kept_);
        kept_.clear();
        replaying_ = true;
        for (auto& [receiver, event] : kept)
            if (receiver)
                QCoreApplication::sendEvent(receiver, event.get());
        replaying_ = false;
    }

private:
    std::deque<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> kept_;
    bool replaying_ = false;
};

// When the event loop last made a pass: a callback's calls that follow
// each other closely leave it for at most kLoopPassEvery.
Clock::time_point gLoopPassed = Clock::now();

InputKeeper& inputKeeper()
{
    static InputKeeper* keeper = [] {
        auto* k = new InputKeeper;
        qApp->installEventFilter(k);
        if (QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance())
            QObject::connect(loop, &QAbstractEventDispatcher::awake, [] { gLoopPassed = Clock::now(); });
        return k;
    }();
    return *keeper;
}

// ---- How the panel looks while it waits -----------------------------------

struct WaitingLook {
    bool shown = false;
    QList<QPointer<QWidget>> madeUnavailable;
    QList<QPointer<QLabel>> banners;
    QPointer<QWidget> window; // before a panel is shown
    QPointer<QLabel> windowText;
};
WaitingLook gLook;

bool takesInput(const QObject* object)
{
    return qobject_cast<const QAbstractButton*>(object) || qobject_cast<const QComboBox*>(object) ||
        qobject_cast<const QAbstractSpinBox*>(object);
}

// Along the panel's foot, over its status line, which says nothing newer
// while the program waits; the channels' names and readings stay in view.
void placeBanner(QLabel* banner)
{
    const QWidget* root = banner->parentWidget();
    const int height = banner->sizeHint().height();
    banner->setGeometry(0, root->height() - height, root->width(), height);
}

QLabel* bannerOn(QWidget* root)
{
    auto* banner = new QLabel(root);
    banner->setObjectName(QStringLiteral("waitingBanner"));
    banner->setAutoFillBackground(true);
    QPalette palette = banner->palette();
    palette.setColor(QPalette::Window, QColor(0xFF, 0xD2, 0x7F));
    palette.setColor(QPalette::WindowText, Qt::black);
    banner->setPalette(palette);
    QFont bold = banner->font();
    bold.setBold(true);
    banner->setFont(bold);
    banner->setContentsMargins(8, 4, 8, 4);
    banner->setAccessibleName(QStringLiteral("Waiting"));
    placeBanner(banner);
    banner->raise();
    banner->show();
    return banner;
}

// Before the panel is shown: a small window of its own, with a way out.
QWidget* startUpWindow(QLabel*& text)
{
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(QStringLiteral("railmon"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(window);
    text = new QLabel(window);
    layout->addWidget(text);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* quit = new QPushButton(QStringLiteral("&Quit"), window);
    QObject::connect(quit, &QPushButton::clicked, [quit] {
        quit->setEnabled(false);
        QuitUserInterface(0);
    });
    buttons->addWidget(quit);
    layout->addLayout(buttons);
    window->resize(480, window->sizeHint().height());
    window->show();
    return window;
}

void showWaitingLook(const QString& text)
{
    if (!gLook.shown) {
        gLook.shown = true;
        bool panelShown = false;
        for (Panel* panel : allPanels()) {
            if (!panel->root->isVisible())
                continue;
            panelShown = true;
            for (Control& c : panel->controls) {
                auto* widget = qobject_cast<QWidget*>(c.object);
                if (!widget || !takesInput(widget) || c.whileWaiting == VAL_WHILE_WAITING_QUITS)
                    continue;
                // A switch that may be switched off stays available while it
                // shows on, for that one click.
                auto* output = qobject_cast<OutputSwitch*>(widget);
                const bool stays = c.whileWaiting == VAL_WHILE_WAITING_OFF && output && output->isChecked();
                if (!stays && widget->isEnabled()) {
                    widget->setEnabled(false);
                    gLook.madeUnavailable.append(widget);
                }
            }
            gLook.banners.append(bannerOn(panel->root));
        }
        if (!panelShown) {
            QLabel* label = nullptr;
            gLook.window = startUpWindow(label);
            gLook.windowText = label;
        }
    }
    for (QLabel* banner : std::as_const(gLook.banners))
        if (banner) {
            banner->setText(text);
            placeBanner(banner);
        }
    if (gLook.windowText)
        gLook.windowText->setText(StopRequested() ? text + QStringLiteral("\nQuitting once this call has returned.")
                                                  : text);
}

QString waitingText(const char* waitingFor, qint64 ms)
{
    return QStringLiteral("Waiting for %1, %2 s").arg(QString::fromUtf8(waitingFor)).arg(ms / 1000.0, 0, 'f', 1);
}

bool gAfterCallsQueued = false;

// Once no callback runs: the panel's look of waiting goes (it stays for the
// rest of a callback, whose next calls are likely as slow), then the input
// kept meanwhile is given back, so it reaches the controls available again.
// Start-up's window stays until a panel is shown or a pop-up takes its
// place: closed after each call, a window of its own blinked at every slow
// call.
void afterCalls()
{
    if (gAfterCallsQueued)
        return;
    gAfterCallsQueued = true;
    whenNoCallbackRuns([] {
        gAfterCallsQueued = false;
        if (gLook.shown && !gLook.window)
            endWaitingLook();
        inputKeeper().giveBack();
    });
}

} // namespace

bool instrumentCallUnderWay()
{
    return gCallUnderWay;
}

void endWaitingLook()
{
    if (!gLook.shown)
        return;
    for (QWidget* widget : std::as_const(gLook.madeUnavailable))
        if (widget)
            widget->setEnabled(true);
    for (QLabel* banner : std::as_const(gLook.banners))
        if (banner)
            banner->deleteLater();
    if (gLook.window)
        gLook.window->close();
    gLook = {};
}

void setProgramDimmed(QWidget* widget, bool dimmed)
{
    gLook.madeUnavailable.removeAll(widget);
    if (!dimmed && gLook.shown && takesInput(widget)) {
        gLook.madeUnavailable.append(widget);
        return;
    }
    widget->setEnabled(!dimmed);
}

void commitWhileCallbackRuns(int panel, int control, std::function<void()> commit)
{
    Control* c = findControl(panel, control);
    const int rule = c ? c->whileWaiting : VAL_WHILE_WAITING_HELD;
    if (rule == VAL_WHILE_WAITING_QUITS) {
        QuitUserInterface(0);
        return;
    }
    auto* output = c ? qobject_cast<OutputSwitch*>(c->object) : nullptr;
    if (rule == VAL_WHILE_WAITING_OFF && output && !output->isChecked()) {
        // One request: the switch waits for the program's answer now.
        output->setEnabled(false);
        gLook.madeUnavailable.append(output);
        gWaitingCommits.push_back({panel, control});
        // Not taken between two calls (the running callback made no more):
        // it comes as an ordinary commit afterwards.
        whenNoCallbackRuns([panel, control, commit] {
            for (auto it = gWaitingCommits.begin(); it != gWaitingCommits.end(); ++it)
                if (it->panel == panel && it->control == control) {
                    gWaitingCommits.erase(it);
                    commit();
                    return;
                }
        });
        return;
    }
    whenNoCallbackRuns(std::move(commit));
}

bool takeWaitingCommit(int& panel, int& control)
{
    if (gWaitingCommits.empty())
        return false;
    panel = gWaitingCommits.front().panel;
    control = gWaitingCommits.front().control;
    gWaitingCommits.pop_front();
    return true;
}

int CallInstrument(const char* waitingFor, int (*call)(void* context), void* context)
{
    // Without the runtime (a program's tests of its own) there is no loop
    // to keep alive.
    if (!qApp || QThread::currentThread() != qApp->thread() || gCallUnderWay)
        return call(context);
    InstrumentThread& thread = instrumentThread();
    inputKeeper(); // in place before the first wait
    QElapsedTimer since;
    since.start();
    const unsigned ticket = thread.start(call, context);
    if (thread.finishesWithinSpin(ticket) || thread.sleepUntilFinished(ticket, gLoopPassed + kLoopPassEvery)) {
        // Most calls end soon (a USB round trip takes a millisecond or so):
        // the loop's thread slept through it, as it did in the call itself,
        // and the loop passes only when due, between two calls.
        if (Clock::now() >= gLoopPassed + kLoopPassEvery) {
            gCallUnderWay = true;
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            gCallUnderWay = false;
            afterCalls();
        }
        return thread.result();
    }

    gCallUnderWay = true;
    QTimer update;
    update.start(kWaitUpdateMs);
    while (!thread.waitInLoop(ticket)) {
        // Once shown, the look names each call from its start.
        if (gLook.shown || since.elapsed() >= kWaitShownAfterMs)
            showWaitingLook(waitingText(waitingFor, since.elapsed()));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    thread.doneWaitingInLoop();
    gCallUnderWay = false;
    afterCalls();
    return thread.result();
}

int TakeWaitingCommit(int* panel, int* control)
{
    int p = 0, c = 0;
    if (!takeWaitingCommit(p, c))
        return 0;
    if (panel)
        *panel = p;
    if (control)
        *control = c;
    return 1;
}
