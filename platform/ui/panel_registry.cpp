#include "panel_registry.h"

#include "indicators.h"
#include "numeric_control.h"
#include "output_switch.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardItemModel>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {
QHash<int, Panel>& panels()
{
    static QHash<int, Panel> registry;
    return registry;
}

// A switch's two values come from the panel file; 0 and 1 when it says none.
int switchValue(const QAbstractButton* button, bool on)
{
    const QVariant v = button->property(on ? "onValue" : "offValue");
    return v.isValid() ? v.toInt() : (on ? 1 : 0);
}

// Marks the item a ring adds for a value its panel file does not offer.
constexpr int kNotOfferedRole = Qt::UserRole + 1;

} // namespace

void removeNotOfferedItems(QComboBox* combo, int keep)
{
    for (int i = combo->count() - 1; i >= 0; --i) {
        if (i != keep && combo->itemData(i, kNotOfferedRole).toBool())
            combo->removeItem(i);
    }
}

namespace {

// A value the ring does not offer is shown as what it is, in an item of its
// own that cannot be chosen, never as no selection or a neighbouring item;
// so is no value at all (nullopt: the program was told none).
void showOnRing(QComboBox* combo, std::optional<int> value)
{
    int index = value ? combo->findData(*value) : -1;
    if (index < 0 || combo->itemData(index, kNotOfferedRole).toBool()) {
        removeNotOfferedItems(combo, -1);
        if (value) {
            const QString label = combo->property("notOfferedLabel").toString();
            combo->addItem((label.isEmpty() ? QStringLiteral("%1 (not offered)") : label).arg(*value), *value);
        } else {
            const QString label = combo->property("noValueLabel").toString();
            combo->addItem(label.isEmpty() ? QStringLiteral("none reported") : label);
        }
        index = combo->count() - 1;
        combo->setItemData(index, true, kNotOfferedRole);
        if (auto* model = qobject_cast<QStandardItemModel*>(combo->model()))
            model->item(index)->setEnabled(false);
        QFont italic = combo->font();
        italic.setItalic(true);
        combo->setItemData(index, italic, Qt::FontRole);
    }
    combo->setCurrentIndex(index);
    removeNotOfferedItems(combo, index);
}
} // namespace

QList<Panel*> allPanels()
{
    QList<Panel*> all;
    for (Panel& panel : panels())
        all.append(&panel);
    return all;
}

int registerPanel(Panel panel)
{
    static int nextHandle = 1;
    panel.handle = nextHandle++;
    panels().insert(panel.handle, panel);
    return panel.handle;
}

Panel* findPanel(int handle)
{
    auto it = panels().find(handle);
    return it == panels().end() ? nullptr : &it.value();
}

Control* findControl(int panel, int control)
{
    Panel* p = findPanel(panel);
    if (!p)
        return nullptr;
    auto it = p->controls.find(control);
    return it == p->controls.end() || !it->object ? nullptr : &it.value();
}

void discardPanel(int handle)
{
    auto it = panels().find(handle);
    if (it == panels().end())
        return;
    delete it->root;
    panels().erase(it);
}

std::optional<double> controlValue(const QObject* control)
{
    if (auto* numeric = qobject_cast<const NumericControl*>(control))
        return numeric->currentValue();
    if (auto* output = qobject_cast<const OutputSwitch*>(control))
        return output->hasState() ? output->value() : std::nan("");
    if (auto* spin = qobject_cast<const QDoubleSpinBox*>(control))
        return spin->value();
    if (auto* spin = qobject_cast<const QSpinBox*>(control))
        return spin->value();
    if (auto* combo = qobject_cast<const QComboBox*>(control))
        return combo->currentIndex() < 0 ? 0.0 : combo->currentData().toDouble();
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) {
        if (!button->isCheckable())
            return std::nullopt;
        return switchValue(button, button->isChecked());
    }
    if (auto* numeric = qobject_cast<const NumericIndicator*>(control))
        return numeric->value();
    if (auto* ring = qobject_cast<const RingIndicator*>(control))
        return ring->hasValue() ? ring->value() : std::nan("");
    return std::nullopt;
}

bool setControlValue(QObject* control, double value)
{
    // First: a tick writes readouts the most, and they have no signals.
    if (auto* numeric = qobject_cast<NumericIndicator*>(control)) {
        numeric->setValue(value);
        return true;
    }
    // Only the operator commits; a value the program shows must not call back.
    const QSignalBlocker quiet(control);
    if (auto* numeric = qobject_cast<NumericControl*>(control)) {
        // NaN: the instrument gave no value; the control says so.
        numeric->showProgramValue(value);
        return true;
    }
    if (auto* ring = qobject_cast<RingIndicator*>(control)) {
        if (std::isnan(value))
            ring->setNoValue();
        else
            ring->setValue(static_cast<int>(std::clamp(value, -2e9, 2e9)));
        return true;
    }
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(control)) {
        // A spin box cannot show "no value"; it keeps what it shows.
        if (std::isnan(value))
            return false;
        spin->setValue(value);
        return true;
    }
    if (auto* spin = qobject_cast<QSpinBox*>(control)) {
        if (!std::isfinite(value))
            return false;
        spin->setValue(static_cast<int>(std::lround(std::clamp(value, -2e9, 2e9))));
        return true;
    }
    if (auto* output = qobject_cast<OutputSwitch*>(control); output && std::isnan(value)) {
        output->showNoState();
        return true;
    }
    const int code = std::isfinite(value) ? static_cast<int>(std::clamp(value, -2e9, 2e9)) : 0;
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        showOnRing(combo, std::isnan(value) ? std::nullopt : std::optional<int>(code));
        return true;
    }
    if (auto* output = qobject_cast<OutputSwitch*>(control)) {
        output->showValue(code);
        return true;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        if (!button->isCheckable())
            return false;
        button->setChecked(code == switchValue(button, true));
        return true;
    }
    return false;
}
