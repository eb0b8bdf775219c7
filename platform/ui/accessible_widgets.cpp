#include "accessible_widgets.h"

#include "indicators.h"
#include "output_switch.h"
#include "strip_chart.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QBoxLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

QString plain(QString text)
{
    // "&Set" shows as "Set"; "&&" as "&".
    text.replace(QRegularExpression(QStringLiteral("&(.)")), QStringLiteral("\\1"));
    return text.trimmed();
}

// A readout: its name says what it shows, its value and its text are the
// text shown (with "not current" when it is shown stale), and a number or
// a code is its numeric value too, so a client may follow it as a value.
class ReadoutAccessible : public QAccessibleWidget, public QAccessibleTextInterface, public QAccessibleValueInterface {
public:
    explicit ReadoutAccessible(Readout* readout)
        : QAccessibleWidget(readout, QAccessible::StaticText)
    {
    }

    Readout* readout() const { return static_cast<Readout*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return shown();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::ValueInterface && hasNumber())
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // QAccessibleValueInterface: read-only.
    QVariant currentValue() const override
    {
        if (auto* numeric = qobject_cast<NumericIndicator*>(readout()))
            return numeric->value(); // NaN, as the text "---" says, for no reading
        if (auto* ring = qobject_cast<RingIndicator*>(readout()))
            return ring->hasValue() ? QVariant(ring->value()) : QVariant(std::nan(""));
        return {};
    }
    void setCurrentValue(const QVariant&) override { }
    QVariant maximumValue() const override { return {}; }
    QVariant minimumValue() const override { return {}; }
    QVariant minimumStepSize() const override { return {}; }

    // QAccessibleTextInterface: the text shown, read-only, no caret.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    QString text(int start, int end) const override
    {
        const QString all = shown();
        if (end < 0 || end > all.size())
            end = all.size();
        start = std::clamp(start, 0, static_cast<int>(end));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(shown().size()); }
    QRect characterRect(int) const override { return rect(); }
    int offsetAtPoint(const QPoint&) const override { return 0; }
    void scrollToSubstring(int, int) override { }
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    bool hasNumber() const
    {
        return qobject_cast<NumericIndicator*>(readout()) || qobject_cast<RingIndicator*>(readout());
    }
    QString shown() const
    {
        const QString text = readout()->text();
        return readout()->stale() ? text + QStringLiteral(" (not current)") : text;
    }
};

// A switch of the panel (a check box, a channel's radio button, the main
// output switch). Qt's own interface toggles such a button without a click,
// so the program would never hear of it: a screen reader's user would see
// the timer on that never started. Here every action is the operator's
// click. The main output switch's description starts with the text it
// shows ("ON", "OFF", "? 5", "ON?" when no longer confirmed), since that is
// what it tells the operator.
class SwitchAccessible : public QAccessibleWidget {
public:
    SwitchAccessible(QAbstractButton* button, QAccessible::Role role)
        : QAccessibleWidget(button, role)
    {
    }

    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
    OutputSwitch* outputSwitch() const { return qobject_cast<OutputSwitch*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty())
            return plain(button()->text());
        if (t == QAccessible::Value)
            return button()->text();
        if (t == QAccessible::Description && outputSwitch()) {
            const QString tip = button()->toolTip();
            return tip.isEmpty() ? button()->text() : button()->text() + QStringLiteral(". ") + tip;
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        if (OutputSwitch* output = outputSwitch())
            s.checked = s.checked && output->hasState() && !output->unknownState();
        return s;
    }

    QStringList actionNames() const override
    {
        return QStringList{outputSwitch() ? pressAction() : toggleAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action == pressAction() || action == toggleAction())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }
};

// A chart: a focus stop whose description lists its keys and says which
// traces are shown, which the legend tells the eye by their colour.
class ChartAccessible : public QAccessibleWidget {
public:
    explicit ChartAccessible(StripChart* chart)
        : QAccessibleWidget(chart, QAccessible::Chart)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        QString text = QAccessibleWidget::text(t);
        if (t != QAccessible::Description)
            return text;
        auto* chart = static_cast<StripChart*>(widget());
        QStringList shown, hidden;
        for (int k = 0; k < chart->graphCount(); ++k)
            (chart->traceShown(k + 1) ? shown : hidden) << chart->graph(k)->name();
        text += QStringLiteral(". Traces shown: %1")
                    .arg(shown.isEmpty() ? QStringLiteral("none") : shown.join(QStringLiteral(", ")));
        if (!hidden.isEmpty())
            text += QStringLiteral("; hidden: %1").arg(hidden.join(QStringLiteral(", ")));
        return text;
    }
};

QAccessibleInterface* makeInterface(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("Readout"))
        return new ReadoutAccessible(static_cast<Readout*>(object));
    if (className == QLatin1String("OutputSwitch"))
        return new SwitchAccessible(static_cast<OutputSwitch*>(object), QAccessible::Button);
    // Every check box and radio button: the interface is made as the
    // widget is (its first change announced), before the panel file's
    // properties say whether it is a control of the panel, and a click is
    // what toggling means for any of them.
    if (className == QLatin1String("QCheckBox"))
        return new SwitchAccessible(static_cast<QAbstractButton*>(object), QAccessible::CheckBox);
    if (className == QLatin1String("QRadioButton"))
        return new SwitchAccessible(static_cast<QAbstractButton*>(object), QAccessible::RadioButton);
    if (className == QLatin1String("StripChart"))
        return new ChartAccessible(static_cast<StripChart*>(object));
    return nullptr;
}

// The label beside a control in its layout: before it in a row, or left of
// it in a grid.
QLabel* labelBeside(QLayout* layout, QWidget* widget)
{
    if (!layout)
        return nullptr;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QLayout* inner = item->layout()) {
            if (QLabel* label = labelBeside(inner, widget))
                return label;
            continue;
        }
        if (item->widget() != widget)
            continue;
        QLayoutItem* before = nullptr;
        if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
            int row, column, rows, columns;
            grid->getItemPosition(i, &row, &column, &rows, &columns);
            before = column > 0 ? grid->itemAtPosition(row, column - 1) : nullptr;
        } else if (qobject_cast<QBoxLayout*>(layout) && i > 0)
            before = layout->itemAt(i - 1);
        return before ? qobject_cast<QLabel*>(before->widget()) : nullptr;
    }
    return nullptr;
}

QLabel* labelOf(QWidget* widget)
{
    if (QWidget* parent = widget->parentWidget()) {
        for (QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            if (label->buddy() == widget)
                return label;
        if (QLabel* label = labelBeside(parent->layout(), widget)) {
            if (!label->buddy())
                label->setBuddy(widget);
            return label;
        }
    }
    return nullptr;
}

QGroupBox* titledGroupOf(QWidget* widget)
{
    for (QWidget* w = widget->parentWidget(); w; w = w->parentWidget())
        if (auto* group = qobject_cast<QGroupBox*>(w); group && !group->title().isEmpty())
            return group;
    return nullptr;
}

} // namespace

void installAccessibleWidgets()
{
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    (void)installed;
}

void nameControlsForAssistiveTechnology(QWidget* panel)
{
    static const QRegularExpression unitPattern(QStringLiteral("^(.*?)\\s*\\[([^\\]]+)\\]\\s*$"));
    for (QWidget* widget : panel->findChildren<QWidget*>()) {
        if (!widget->property("ctrlId").isValid())
            continue;
        QString own = widget->accessibleName();
        QString unit;
        if (own.isEmpty())
            if (QLabel* label = labelOf(widget))
                own = plain(label->text());
        if (own.isEmpty())
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                own = plain(button->text());
        if (const QRegularExpressionMatch m = unitPattern.match(own); m.hasMatch()) {
            own = m.captured(1);
            unit = m.captured(2);
        }
        QString name = own;
        if (QGroupBox* group = titledGroupOf(widget)) {
            const QString title = plain(group->title());
            if (!own.startsWith(title)) {
                // "Voltage" after "CH +18V" reads "voltage"; "CV" stays.
                if (own.size() > 1 && own[0].isUpper() && own[1].isLower())
                    own[0] = own[0].toLower();
                name = own.isEmpty() ? title : title + QLatin1Char(' ') + own;
            }
        }
        widget->setAccessibleName(name);
        if (!unit.isEmpty() && widget->accessibleDescription().isEmpty() && widget->toolTip().isEmpty())
            widget->setAccessibleDescription(QStringLiteral("in %1").arg(unit));
    }
}

void announceShownText(QWidget* readout)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(readout);
    if (!iface)
        return;
    static const char* const kAnnounced = "_railmonAnnouncedText";
    const QString text = iface->text(QAccessible::Value);
    const QString before = readout->property(kAnnounced).toString();
    if (before == text)
        return;
    readout->setProperty(kAnnounced, text);
    if (QAccessibleValueInterface* value = iface->valueInterface()) {
        QAccessibleValueChangeEvent event(readout, value->currentValue());
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextUpdateEvent event(readout, 0, before, text);
        QAccessible::updateAccessibility(&event);
    }
}

void announceDescriptionChanged(QWidget* widget)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(widget, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}
