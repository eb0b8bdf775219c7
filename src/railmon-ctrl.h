// Panel and control IDs of railmon-ctrl.uir, one name for every control of
// the main panel, as a panel editor's generated header gives them. The panel
// file carries the same numbers in its panelId and ctrlId properties; the
// runtime refuses a panel file that lacks one of these controls or has it as
// another kind.
//
// X(name, id, kind): `kind` is what the program does with the control, one
// of userint.h's CTRL_ kinds (only an expansion that uses it needs that
// header). Per-channel controls end in the channel number 1..4.
#pragma once

#define PANEL 1

#define RAILMON_PANEL_CONTROLS(X)                   \
    X(PANEL_VSET4, 3, CTRL_NUMERIC)                 \
    X(PANEL_ISET4, 4, CTRL_NUMERIC)                 \
    X(PANEL_ENABLE4, 5, CTRL_SWITCH)                \
    X(PANEL_VSET3, 6, CTRL_NUMERIC)                 \
    X(PANEL_IMON4, 7, CTRL_NUMERIC_INDICATOR)       \
    X(PANEL_VMON4, 8, CTRL_NUMERIC_INDICATOR)       \
    X(PANEL_ISET3, 9, CTRL_NUMERIC)                 \
    X(PANEL_ENABLE3, 10, CTRL_SWITCH)               \
    X(PANEL_VSET2, 11, CTRL_NUMERIC)                \
    X(PANEL_IMON3, 12, CTRL_NUMERIC_INDICATOR)      \
    X(PANEL_VMON3, 13, CTRL_NUMERIC_INDICATOR)      \
    X(PANEL_ISET2, 14, CTRL_NUMERIC)                \
    X(PANEL_ENABLE2, 15, CTRL_SWITCH)               \
    X(PANEL_VSET1, 16, CTRL_NUMERIC)                \
    X(PANEL_IMON2, 17, CTRL_NUMERIC_INDICATOR)      \
    X(PANEL_VMON2, 18, CTRL_NUMERIC_INDICATOR)      \
    X(PANEL_ISET1, 19, CTRL_NUMERIC)                \
    X(PANEL_ENABLE1, 20, CTRL_SWITCH)               \
    X(PANEL_IMON1, 23, CTRL_NUMERIC_INDICATOR)      \
    X(PANEL_VMON1, 24, CTRL_NUMERIC_INDICATOR)      \
    X(PANEL_CVCC4, 27, CTRL_RING_INDICATOR)         \
    X(PANEL_CVCC3, 28, CTRL_RING_INDICATOR)         \
    X(PANEL_CVCC2, 29, CTRL_RING_INDICATOR)         \
    X(PANEL_CVCC1, 30, CTRL_RING_INDICATOR)         \
    X(PANEL_TIMER, 31, CTRL_TIMER)                  \
    X(PANEL_MAINOUTPUT, 32, CTRL_SWITCH)            \
    X(PANEL_INTERVAL, 33, CTRL_NUMERIC)             \
    X(PANEL_PRESET, 34, CTRL_RING)                  \
    X(PANEL_ICHART, 35, CTRL_STRIP_CHART)           \
    X(PANEL_VCHART, 36, CTRL_STRIP_CHART)           \
    X(PANEL_READ, 37, CTRL_COMMAND_BUTTON)          \
    X(PANEL_SET, 38, CTRL_COMMAND_BUTTON)           \
    X(PANEL_EXIT, 39, CTRL_COMMAND_BUTTON)          \
    X(PANEL_LOGTOFILE, 40, CTRL_SWITCH)             \
    X(PANEL_TIMERONOFF, 41, CTRL_SWITCH)            \
    X(PANEL_STATUS_SUPPLY, 42, CTRL_TEXT_MESSAGE)   \
    X(PANEL_STATUS_READINGS, 43, CTRL_TEXT_MESSAGE) \
    X(PANEL_STATUS_LOG, 44, CTRL_TEXT_MESSAGE)      \
    X(PANEL_STATUS_EXPORT, 45, CTRL_TEXT_MESSAGE)

enum {
#define RAILMON_CONTROL_ID(name, id, kind) name = id,
    RAILMON_PANEL_CONTROLS(RAILMON_CONTROL_ID)
#undef RAILMON_CONTROL_ID
};

// The callbacks the panel file may name, each bound by that name to the
// application function of the same name. X(name)
#define RAILMON_PANEL_CALLBACKS(X) \
    X(ExitCB)                      \
    X(LogToFileCB)                 \
    X(ReadCB)                      \
    X(SetCB)                       \
    X(SetIntervalCB)               \
    X(SetMaskCB)                   \
    X(SetPresetCB)                 \
    X(SwitchOnOffCB)               \
    X(TimerCB)                     \
    X(TimerOnOffCB)

// Traces of each strip chart: one per channel.
#define RAILMON_CHART_TRACES 4

// The two tables the runtime reads when it loads this panel (userint.h,
// which an expansion needs, with <iterator>): every callback name with the
// function bound to it, and every named control with its kind. The program
// gives its callbacks; a test or tool that loads the panel as railmon does
// gives its own function for all ten.
//   RAILMON_UI_TABLES(name)   the function of each name is that name
//   RAILMON_UI_TABLES(ignore) every name is bound to `ignore`
#define RAILMON_UI_CALLBACK_ROW_name(callback) {#callback, callback},
#define RAILMON_UI_CALLBACK_ROW_ignore(callback) {#callback, ignore},
#define RAILMON_UI_CONTROL_ROW(name, id, kind) {PANEL, name, kind, #name, RAILMON_CHART_TRACES},
#define RAILMON_UI_TABLES(function)                                                                         \
    const UICallbackName uiCallbackNames[] = {RAILMON_PANEL_CALLBACKS(RAILMON_UI_CALLBACK_ROW_##function)}; \
    const std::size_t uiCallbackNameCount = std::size(uiCallbackNames);                                     \
    const UIControlUse uiControlUses[] = {RAILMON_PANEL_CONTROLS(RAILMON_UI_CONTROL_ROW)};                  \
    const std::size_t uiControlUseCount = std::size(uiControlUses);
