// What assistive technology (a screen reader, an AT-SPI client) learns of
// the panel. The readouts, lamps and status lines paint their own text, so
// Qt's stock interface would give them no name and no value; here each gets
// an interface that names it and gives the text shown as its value and its
// text, and announces a new text when it is painted (so no faster than the
// panel repaints, and not at all while no client listens).
#pragma once

class QWidget;

// Installs the interfaces for the panel's own widget classes, once.
void installAccessibleWidgets();

// Names every control of a loaded panel for assistive technology, so each
// name says which output it belongs to: a control inside a titled group
// (a channel's) is named by the group's title and its own name ("CH +18V"
// and "voltage": "CH +18V voltage"). Its own name is its accessibleName in
// the panel file, else the label beside it (a unit in brackets, "[V]",
// goes to the description), else its own text. A label beside a control
// becomes its buddy, so it is reported as labelling it.
void nameControlsForAssistiveTechnology(QWidget* panel);

// Tells assistive technology that a readout's text changed, if a client
// listens and the text is not the one it was last told. Called as it is
// painted.
void announceShownText(QWidget* readout);

// Tells assistive technology that what a widget's description says changed
// (the main output switch's shown state), if a client listens.
void announceDescriptionChanged(QWidget* widget);
