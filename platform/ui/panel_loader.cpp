#include "panel_loader.h"

#include "accessible_widgets.h"

#include "indicators.h"
#include "numeric_control.h"
#include "output_switch.h"
#include "strip_chart.h"
#include "timer_control.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSpinBox>
#include <QStringList>
#include <QUiLoader>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// Placeholder class name of timer controls; the form holds a hidden widget
// that only carries their properties.
constexpr char kTimerClass[] = "TimerControl";

// The most a chart may be asked to remember: a week, and a million points
// per trace (16 MB a trace).
constexpr double kLongestHistory = 7 * 24 * 3600.0; // [s]
constexpr int kMostPointsPerTrace = 1000000;

class PanelWidgetLoader : public QUiLoader {
public:
    using QUiLoader::QUiLoader;
    QStringList unknownClasses;

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override
    {
        QWidget* widget = nullptr;
        if (className == QLatin1String("NumericIndicator"))
            widget = new NumericIndicator(parent);
        else if (className == QLatin1String("RingIndicator"))
            widget = new RingIndicator(parent);
        else if (className == QLatin1String("StripChart"))
            widget = new StripChart(parent);
        else if (className == QLatin1String("OutputSwitch"))
            widget = new OutputSwitch(parent);
        else if (className == QLatin1String("TextMessage"))
            widget = new TextMessage(parent);
        // Every numeric entry refuses what it cannot take instead of
        // silently turning it into another number.
        else if (className == QLatin1String("QDoubleSpinBox") || className == QLatin1String("NumericControl"))
            widget = new NumericControl(parent);
        else if (className == QLatin1String(kTimerClass))
            widget = new QWidget(parent);
        else
            widget = QUiLoader::createWidget(className, parent, name);
        if (!widget) {
            unknownClasses << className;
            return nullptr;
        }
        widget->setObjectName(name);
        if (className == QLatin1String(kTimerClass))
            widget->setProperty("timerPlaceholder", true);
        return widget;
    }
};

// One loader for the process, made without the Designer plugins: every
// class a panel may hold is made above or by the toolkit itself, and the
// loader would load every plugin installed on the system as it is made (Qt's
// own loads Qt Quick and QML) unless the library paths are empty then.
PanelWidgetLoader& panelWidgetLoader()
{
    static QPointer<PanelWidgetLoader> loader;
    if (!loader) {
        const QStringList paths = QCoreApplication::libraryPaths();
        QCoreApplication::setLibraryPaths({});
        loader = new PanelWidgetLoader(QCoreApplication::instance());
        QCoreApplication::setLibraryPaths(paths);
    }
    return *loader;
}

// Collects the toolkit's warnings while a file is read: a form the toolkit
// complains about is not used half-understood.
class WarningCollector {
public:
    WarningCollector() { previous_ = qInstallMessageHandler(&WarningCollector::collect); }
    ~WarningCollector() { qInstallMessageHandler(previous_); }
    static QStringList& warnings()
    {
        static QStringList list;
        return list;
    }

private:
    static void collect(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type != QtDebugMsg && type != QtInfoMsg)
            warnings() << message.simplified();
    }
    QtMessageHandler previous_;
};

const UICallbackName* findCallback(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    for (std::size_t i = 0; i < uiCallbackNameCount; ++i) {
        if (std::strcmp(uiCallbackNames[i].name, utf8.constData()) == 0)
            return &uiCallbackNames[i];
    }
    return nullptr;
}

// An int property that must be present with exactly that type when given.
std::optional<int> intProperty(const QObject* object, const char* name, int fallback, int low, int high, QString* error)
{
    const QVariant v = object->property(name);
    if (!v.isValid())
        return fallback;
    if (v.typeId() != QMetaType::Int) {
        *error = QStringLiteral("%1 '%2': %3 is not an integer")
                     .arg(object->metaObject()->className(), object->objectName(), name);
        return std::nullopt;
    }
    if (v.toInt() < low || v.toInt() > high) {
        *error = QStringLiteral("%1 '%2': %3 %4 is outside %5..%6")
                     .arg(object->metaObject()->className(), object->objectName(), name)
                     .arg(v.toInt())
                     .arg(low)
                     .arg(high);
        return std::nullopt;
    }
    return v.toInt();
}

// A number property (int or double) that must be finite and within
// [low, high] when given.
std::optional<double> numberProperty(const QObject* object, const char* name, double fallback, double low, double high,
                                     QString* error)
{
    const QVariant v = object->property(name);
    if (!v.isValid())
        return fallback;
    if (v.typeId() != QMetaType::Int && v.typeId() != QMetaType::Double) {
        *error = QStringLiteral("%1 '%2': %3 is not a number")
                     .arg(object->metaObject()->className(), object->objectName(), name);
        return std::nullopt;
    }
    const double value = v.toDouble();
    if (!std::isfinite(value) || value < low || value > high) {
        *error = QStringLiteral("%1 '%2': %3 %4 is outside %5..%6")
                     .arg(object->metaObject()->className(), object->objectName(), name)
                     .arg(value)
                     .arg(low)
                     .arg(high);
        return std::nullopt;
    }
    return value;
}

// A wheel turned over a control the operator is not working in is meant for
// what lies beneath (scrolling past it): a ring or a number would act on it
// at once, and a preset recalled so reaches the supply's outputs. Ignored,
// the wheel goes on to the control's parents.
class WheelOnlyWhenFocused : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus())
            return false;
        event->ignore();
        return true;
    }
};

void takeWheelOnlyWhenFocused(QWidget* widget)
{
    static QPointer<WheelOnlyWhenFocused> guard;
    if (!guard)
        guard = new WheelOnlyWhenFocused(QCoreApplication::instance());
    // Focus by click or Tab only, never by a passing wheel.
    widget->setFocusPolicy(Qt::StrongFocus);
    widget->installEventFilter(guard);
}

// Gives a control the behaviour its properties ask for; an error text when
// they do not make sense.
QString configure(QWidget* widget, QObject** controlObject)
{
    QString error;
    *controlObject = widget;
    if (qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractSpinBox*>(widget))
        takeWheelOnlyWhenFocused(widget);
    if (auto* chart = qobject_cast<StripChart*>(widget)) {
        // The history used to be a count of points; a panel still saying so
        // would otherwise get an hour without noticing.
        if (widget->property("pointsPerScreen").isValid())
            return QStringLiteral("StripChart '%1': pointsPerScreen is no longer read; the history is historySeconds "
                                  "and maxPointsPerTrace")
                .arg(widget->objectName());
        const auto traces = intProperty(widget, "traceCount", 4, 1, 16, &error);
        const auto history = traces
            ? numberProperty(widget, "historySeconds", StripChart::kDefaultHistorySeconds, 1, kLongestHistory, &error)
            : std::nullopt;
        const auto points = history ? intProperty(widget, "maxPointsPerTrace", StripChart::kDefaultMaxPointsPerTrace, 2,
                                                  kMostPointsPerTrace, &error)
                                    : std::nullopt;
        if (!points)
            return error;
        chart->configure(*traces, *history, *points);
        chart->yAxis->setLabel(widget->property("yLabel").toString());
        return {};
    }
    if (qobject_cast<QComboBox*>(widget) || qobject_cast<RingIndicator*>(widget)) {
        const QVariant text = widget->property("valueLabels");
        if (text.isValid() && text.typeId() != QMetaType::QString)
            return QStringLiteral("'%1': valueLabels is not text").arg(widget->objectName());
        const auto labels = parseValueLabels(text.toString());
        if (!labels)
            return QStringLiteral("'%1': valueLabels is not 'value=text;...' with distinct integer values")
                .arg(widget->objectName());
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            combo->clear();
            for (const auto& [value, label] : *labels)
                combo->addItem(label, value);
            QObject::connect(combo, &QComboBox::currentIndexChanged, combo,
                             [combo](int index) { removeNotOfferedItems(combo, index); });
            return {};
        }
        auto* ring = static_cast<RingIndicator*>(widget);
        ring->setLabels(*labels);
        // Colours by code, "value=#rrggbb;...", and one for every other code.
        QHash<int, QColor> colours;
        const auto pairs = parseValueLabels(widget->property("valueColours").toString());
        if (!pairs)
            return QStringLiteral("'%1': valueColours is not 'value=#rrggbb;...' with distinct integer values")
                .arg(widget->objectName());
        for (const auto& [value, name] : *pairs) {
            const QColor colour = QColor::fromString(name.trimmed());
            if (!colour.isValid())
                return QStringLiteral("'%1': valueColours: '%2' is not a colour").arg(widget->objectName(), name);
            colours.insert(value, colour);
        }
        const QString otherName = widget->property("otherColour").toString();
        const QColor other = otherName.isEmpty() ? QColor() : QColor::fromString(otherName);
        if (!otherName.isEmpty() && !other.isValid())
            return QStringLiteral("'%1': otherColour '%2' is not a colour").arg(widget->objectName(), otherName);
        ring->setCodeColours(colours, other);
        return {};
    }
    if (qobject_cast<QAbstractButton*>(widget)) {
        const auto on = intProperty(widget, "onValue", 1, INT_MIN, INT_MAX, &error);
        const auto off = on ? intProperty(widget, "offValue", 0, INT_MIN, INT_MAX, &error) : std::nullopt;
        if (!off)
            return error;
        if (*on == *off)
            return QStringLiteral("'%1': onValue and offValue are equal").arg(widget->objectName());
        if (auto* output = qobject_cast<OutputSwitch*>(widget)) {
            output->setValues(*on, *off);
            output->showValue(output->isChecked() ? *on : *off);
        }
        return {};
    }
    if (auto* numeric = qobject_cast<NumericControl*>(widget)) {
        numeric->finishLoading();
        return {};
    }
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(widget)) {
        // Only a finished entry commits: Enter, focus-out or an arrow step.
        spin->setKeyboardTracking(false);
        return {};
    }
    if (widget->property("timerPlaceholder").toBool()) {
        const QVariant interval = widget->property("interval");
        if (interval.isValid() && interval.typeId() != QMetaType::Double && interval.typeId() != QMetaType::Int)
            return QStringLiteral("timer '%1': interval is not a number").arg(widget->objectName());
        const double seconds = interval.isValid() ? interval.toDouble() : 1.0;
        if (!std::isfinite(seconds) || seconds <= 0.0 || seconds > 1e6)
            return QStringLiteral("timer '%1': interval %2 s is outside (0, 1e6]")
                .arg(widget->objectName())
                .arg(seconds);
        const QVariant enabled = widget->property("enabled");
        widget->hide();
        *controlObject = new TimerControl(seconds, enabled.toBool(), widget);
        widget->setEnabled(false);
        return {};
    }
    return {};
}

// traces < 0: a strip chart of any number of traces.
bool isKind(const QObject* object, int kind, int traces)
{
    switch (kind) {
    case CTRL_NUMERIC:
        return qobject_cast<const QAbstractSpinBox*>(object);
    case CTRL_NUMERIC_INDICATOR:
        return qobject_cast<const NumericIndicator*>(object);
    case CTRL_RING_INDICATOR:
        return qobject_cast<const RingIndicator*>(object);
    case CTRL_SWITCH: {
        auto* button = qobject_cast<const QAbstractButton*>(object);
        return button && button->isCheckable();
    }
    case CTRL_RING:
        return qobject_cast<const QComboBox*>(object);
    case CTRL_COMMAND_BUTTON: {
        auto* button = qobject_cast<const QAbstractButton*>(object);
        return button && !button->isCheckable();
    }
    case CTRL_STRIP_CHART: {
        auto* chart = qobject_cast<const StripChart*>(object);
        return chart && (traces < 0 || chart->traceCount() == traces);
    }
    case CTRL_TIMER:
        return qobject_cast<const TimerControl*>(object);
    case CTRL_TEXT_MESSAGE:
        return qobject_cast<const TextMessage*>(object);
    }
    return false;
}

const char* kindName(int kind)
{
    switch (kind) {
    case CTRL_NUMERIC:
        return "a numeric entry";
    case CTRL_NUMERIC_INDICATOR:
        return "a NumericIndicator";
    case CTRL_RING_INDICATOR:
        return "a RingIndicator";
    case CTRL_SWITCH:
        return "a switch";
    case CTRL_RING:
        return "a ring (QComboBox)";
    case CTRL_COMMAND_BUTTON:
        return "a command button";
    case CTRL_STRIP_CHART:
        return "a StripChart";
    case CTRL_TIMER:
        return "a TimerControl";
    case CTRL_TEXT_MESSAGE:
        return "a TextMessage";
    }
    return "an unknown kind";
}

// Every control the application names must be there and usable as what the
// application takes it for; otherwise it would write into nothing and read
// zeros, with the operator none the wiser.
QString missingUse(const Panel& panel, int panelResourceId)
{
    for (std::size_t i = 0; i < uiControlUseCount; ++i) {
        const UIControlUse& use = uiControlUses[i];
        if (use.panel != panelResourceId)
            continue;
        const auto it = panel.controls.find(use.control);
        if (it == panel.controls.end())
            return QStringLiteral("control %1 (ID %2) is missing").arg(QLatin1String(use.name)).arg(use.control);
        if (!isKind(it->object, use.kind, use.traces)) {
            QString what = QStringLiteral("control %1 (ID %2) is not %3")
                               .arg(QLatin1String(use.name))
                               .arg(use.control)
                               .arg(QLatin1String(kindName(use.kind)));
            if (use.kind == CTRL_STRIP_CHART)
                what += QStringLiteral(" with %1 traces").arg(use.traces);
            return what;
        }
    }
    return {};
}

const UIControlUse* findUse(int panelResourceId, int control)
{
    for (std::size_t i = 0; i < uiControlUseCount; ++i)
        if (uiControlUses[i].panel == panelResourceId && uiControlUses[i].control == control)
            return &uiControlUses[i];
    return nullptr;
}

// The title of the innermost group box around the control; null for none.
std::optional<QString> groupTitle(const QObject* object)
{
    for (const QObject* parent = object->parent(); parent; parent = parent->parent())
        if (auto* box = qobject_cast<const QGroupBox*>(parent))
            return box->title();
    return std::nullopt;
}

// Every callback on a control of the kind it serves, and every control the
// application names with its callback and in its group: a file that swaps
// two fields' IDs, two buttons' callbacks or puts a switch's callback on a
// button passes every other check, then writes a setpoint to another output,
// ends the program on Read or switches the outputs off on Set.
QString misbinding(const Panel& panel, int panelResourceId)
{
    // In ID order, so the same file is always refused with the same line.
    QList<int> ids = panel.controls.keys();
    std::sort(ids.begin(), ids.end());
    for (const int id : std::as_const(ids)) {
        const Control& control = *panel.controls.constFind(id);
        if (control.callbackName.isEmpty())
            continue;
        const UICallbackName* callback = findCallback(control.callbackName);
        if (isKind(control.object, callback->kind, -1))
            continue;
        const UIControlUse* use = findUse(panelResourceId, id);
        return QStringLiteral("control %1 (ID %2): callback %3 serves %4, not this %5")
            .arg(use ? QString::fromLatin1(use->name) : QStringLiteral("'%1'").arg(control.object->objectName()))
            .arg(id)
            .arg(control.callbackName, QLatin1String(kindName(callback->kind)),
                 QLatin1String(control.object->metaObject()->className()));
    }
    for (std::size_t i = 0; i < uiControlUseCount; ++i) {
        const UIControlUse& use = uiControlUses[i];
        if (use.panel != panelResourceId)
            continue;
        const Control& control = *panel.controls.constFind(use.control);
        const QString prefix = QStringLiteral("control %1 (ID %2)").arg(QLatin1String(use.name)).arg(use.control);
        const QLatin1String wanted(use.callback ? use.callback : "");
        if (control.callbackName != wanted) {
            if (wanted.isEmpty())
                return prefix + QStringLiteral(" has callback %1, but takes none").arg(control.callbackName);
            if (control.callbackName.isEmpty())
                return prefix + QStringLiteral(" has no callback, not %1").arg(wanted);
            return prefix + QStringLiteral(" has callback %1, not %2").arg(control.callbackName, wanted);
        }
        if (!use.group)
            continue;
        const std::optional<QString> group = groupTitle(control.object);
        if (!group)
            return prefix + QStringLiteral(" is in no group, not in '%1'").arg(QLatin1String(use.group));
        if (*group != QLatin1String(use.group))
            return prefix + QStringLiteral(" is in group '%1', not in '%2'").arg(*group, QLatin1String(use.group));
    }
    return {};
}

} // namespace

std::variant<Panel, QString> loadPanelFile(const QString& path, int panelResourceId)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open: %1").arg(file.errorString());

    installAccessibleWidgets();
    PanelWidgetLoader& loader = panelWidgetLoader();
    loader.unknownClasses.clear();
    QWidget* root = nullptr;
    {
        WarningCollector::warnings().clear();
        WarningCollector collect;
        root = loader.load(&file);
    }
    const QStringList warnings = WarningCollector::warnings();
    auto fail = [&](const QString& cause) -> std::variant<Panel, QString> {
        delete root;
        return cause;
    };
    if (!loader.unknownClasses.isEmpty())
        return fail(QStringLiteral("unknown control class '%1'").arg(loader.unknownClasses.first()));
    if (!root)
        return fail(loader.errorString().isEmpty() ? QStringLiteral("not a panel file")
                                                   : loader.errorString().simplified());
    if (!warnings.isEmpty())
        return fail(warnings.first());

    QString error;
    const auto panelId = intProperty(root, "panelId", 0, 1, INT_MAX, &error);
    if (!panelId)
        return fail(error);
    if (*panelId != panelResourceId)
        return fail(QStringLiteral("holds no panel %1").arg(panelResourceId));

    Panel panel;
    panel.root = root;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        QObject* object = nullptr;
        if (const QString problem = configure(widget, &object); !problem.isEmpty())
            return fail(problem);

        const QVariant idProperty = widget->property("ctrlId");
        const QVariant callbackProperty = widget->property("callback");
        if (!idProperty.isValid()) {
            if (callbackProperty.isValid())
                return fail(QStringLiteral("'%1' has a callback but no ctrlId").arg(widget->objectName()));
            continue;
        }
        const auto id = intProperty(widget, "ctrlId", 0, 1, INT_MAX, &error);
        if (!id)
            return fail(error);
        if (panel.controls.contains(*id))
            return fail(QStringLiteral("control ID %1 is used twice").arg(*id));

        Control control;
        control.id = *id;
        control.object = object;
        if (callbackProperty.isValid()) {
            if (callbackProperty.typeId() != QMetaType::QString)
                return fail(QStringLiteral("control %1: callback is not a name").arg(*id));
            const QString name = callbackProperty.toString();
            const UICallbackName* callback = findCallback(name);
            if (!callback)
                return fail(QStringLiteral("control %1: no callback named '%2' in this program").arg(*id).arg(name));
            control.callback = callback->function;
            control.callbackName = name;
        }
        panel.controls.insert(*id, control);
    }
    if (const QString missing = missingUse(panel, panelResourceId); !missing.isEmpty())
        return fail(missing);
    if (const QString misbound = misbinding(panel, panelResourceId); !misbound.isEmpty())
        return fail(misbound);
    nameControlsForAssistiveTechnology(root);
    return panel;
}
