// Loaded panels and their controls, by the handles and IDs that callers use.
// (Not "panel.h": that name is the curses panel library's on most systems.)
#pragma once

#include "userint.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

struct Control {
    int id = 0;
    QPointer<QObject> object; // a widget, or a TimerControl
    CtrlCallbackPtr callback = nullptr;
    QString callbackName;
    // Written by a timer tick: goes stale when the ticks stop coming.
    bool tickFed = false;
    // What its commits do while the program waits for its instrument
    // (ATTR_WHILE_WAITING).
    int whileWaiting = 0;
    // The tooltip of a control that composes none of its own: the panel
    // file's (kept when first replaced), the program's ATTR_TOOLTIP_TEXT
    // instead of it, and ATTR_TOOLTIP_NOTE below either.
    QString ownTip, programTip, note;
    bool ownTipKept = false, hasProgramTip = false;
    bool dimmed = false; // ATTR_DIMMED
};

struct Panel {
    int handle = 0;
    QWidget* root = nullptr; // owns every control's object
    QHash<int, Control> controls;
};

// Takes ownership of the root widget; returns the new panel's handle.
int registerPanel(Panel panel);
Panel* findPanel(int handle);
// Every panel loaded and not discarded.
QList<Panel*> allPanels();
Control* findControl(int panel, int control);
void discardPanel(int handle);

// A control's value as a number, whatever kind of control it is; nullopt for
// controls without a value (buttons, charts, timers).
std::optional<double> controlValue(const QObject* control);
// Shows the value without raising a callback; false for controls without one.
bool setControlValue(QObject* control, double value);

class QComboBox;
// Removes the items a ring added for values it does not offer, but the one at
// `keep` (-1: all of them).
void removeNotOfferedItems(QComboBox* combo, int keep);
