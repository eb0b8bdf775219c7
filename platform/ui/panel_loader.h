// Reading a panel file: a Qt Designer form whose controls carry dynamic
// properties that the runtime understands.
//
//   on the top-level widget: panelId (int), the panel resource ID;
//   on a control: ctrlId (int > 0, unique in the panel), and callback
//     (string), the name of an application callback, on a control of the
//     kind that callback serves; a control the application names carries
//     its own callback and sits in the group box (QGroupBox) its entry
//     gives (userint.h's UIControlUse);
//   on a checkable button (a switch or an enable button): onValue, offValue
//     (int), the values it reads as; 1 and 0 when absent;
//   on a QComboBox or RingIndicator: valueLabels, "value=text;value=text";
//   on a QComboBox: notOfferedLabel, the text for a value it does not offer
//     ("Preset %1 (not offered)"), and noValueLabel, the text for no value
//     (the program set NaN);
//   on a RingIndicator: valueColours, "value=#rrggbb;...", and otherColour
//     (#rrggbb) for a code valueColours does not name;
//   on a NumericIndicator: decimals (int);
//   on a numeric entry (QDoubleSpinBox): pendingUntilWritten (bool), to show
//     an operator's edit as pending until the program next states the value;
//   TextMessage: a line of text the program writes (a status line);
//   on a StripChart: traceCount (1..16, default 4), historySeconds (the time
//     it remembers, 1..604800 s, default 3600), maxPointsPerTrace (the most
//     points kept per trace, 2..1000000, default 72000), yLabel (axis label);
//   on a TimerControl: interval (seconds, > 0), enabled (bool).
#pragma once

#include "panel_registry.h"

#include <QString>

#include <variant>

// The loaded panel (not yet registered), or why the file cannot be used.
std::variant<Panel, QString> loadPanelFile(const QString& path, int panelResourceId);
