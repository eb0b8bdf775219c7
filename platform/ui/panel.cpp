#include "panel.h"

#include "indicators.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSignalBlocker>
#include <QSpinBox>

#include <cmath>

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
} // namespace

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
        return ring->value();
    return std::nullopt;
}

bool setControlValue(QObject* control, double value)
{
    // Only the operator commits; a value the program shows must not call back.
    const QSignalBlocker quiet(control);
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
    const int code = std::isfinite(value) ? static_cast<int>(std::clamp(value, -2e9, 2e9)) : 0;
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        // A value the ring does not offer shows as no selection, not as a
        // neighbouring item that would misstate what the program holds.
        combo->setCurrentIndex(combo->findData(code));
        return true;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        if (!button->isCheckable())
            return false;
        button->setChecked(code == switchValue(button, true));
        return true;
    }
    if (auto* numeric = qobject_cast<NumericIndicator*>(control)) {
        numeric->setValue(value);
        return true;
    }
    if (auto* ring = qobject_cast<RingIndicator*>(control)) {
        ring->setValue(code);
        return true;
    }
    return false;
}
