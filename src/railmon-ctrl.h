// Panel and control IDs of railmon-ctrl.uir, one name for every control of
// the main panel, as a panel editor's generated header gives them, with what
// railmon does with each. The panel file carries the same numbers in its
// panelId and ctrlId properties; the runtime refuses a panel file that lacks
// one of these controls, has it as another kind, binds it to another
// callback or puts a channel's control in another channel's group: a file
// with two setpoint fields' IDs swapped would write the voltage typed under
// one output to the other.
//
// X(name, id, kind, channel, callback):
//   kind      what the program does with the control, one of userint.h's
//             CTRL_ kinds (only an expansion that uses it needs that header);
//   channel   1..4 for a channel's control (its name ends in the number),
//             which sits in the group box titled with the channel's name
//             (RAILMON_CHANNEL_NAMES); 0 for a control of no channel;
//   callback  the callback the control raises, empty for none.
#pragma once

#define PANEL 1

// The channels' names, channel 1 first: the title of the group box holding
// each channel's controls, and the channel's label wherever railmon shows or
// writes one.
#define RAILMON_CHANNEL_NAMES "CH +18V", "CH -18V", "CH +6V", "CH -6V"
// By channel number; none for channel 0.
inline constexpr const char* kRailmonChannelGroups[] = {nullptr, RAILMON_CHANNEL_NAMES};

#define RAILMON_PANEL_CONTROLS(X)                               \
    X(PANEL_VSET4, 3, CTRL_NUMERIC, 4, )                        \
    X(PANEL_ISET4, 4, CTRL_NUMERIC, 4, )                        \
    X(PANEL_ENABLE4, 5, CTRL_SWITCH, 4, SetMaskCB)              \
    X(PANEL_VSET3, 6, CTRL_NUMERIC, 3, )                        \
    X(PANEL_IMON4, 7, CTRL_NUMERIC_INDICATOR, 4, )              \
    X(PANEL_VMON4, 8, CTRL_NUMERIC_INDICATOR, 4, )              \
    X(PANEL_ISET3, 9, CTRL_NUMERIC, 3, )                        \
    X(PANEL_ENABLE3, 10, CTRL_SWITCH, 3, SetMaskCB)             \
    X(PANEL_VSET2, 11, CTRL_NUMERIC, 2, )                       \
    X(PANEL_IMON3, 12, CTRL_NUMERIC_INDICATOR, 3, )             \
    X(PANEL_VMON3, 13, CTRL_NUMERIC_INDICATOR, 3, )             \
    X(PANEL_ISET2, 14, CTRL_NUMERIC, 2, )                       \
    X(PANEL_ENABLE2, 15, CTRL_SWITCH, 2, SetMaskCB)             \
    X(PANEL_VSET1, 16, CTRL_NUMERIC, 1, )                       \
    X(PANEL_IMON2, 17, CTRL_NUMERIC_INDICATOR, 2, )             \
    X(PANEL_VMON2, 18, CTRL_NUMERIC_INDICATOR, 2, )             \
    X(PANEL_ISET1, 19, CTRL_NUMERIC, 1, )                       \
    X(PANEL_ENABLE1, 20, CTRL_SWITCH, 1, SetMaskCB)             \
    X(PANEL_IMON1, 23, CTRL_NUMERIC_INDICATOR, 1, )             \
    X(PANEL_VMON1, 24, CTRL_NUMERIC_INDICATOR, 1, )             \
    X(PANEL_CVCC4, 27, CTRL_RING_INDICATOR, 4, )                \
    X(PANEL_CVCC3, 28, CTRL_RING_INDICATOR, 3, )                \
    X(PANEL_CVCC2, 29, CTRL_RING_INDICATOR, 2, )                \
    X(PANEL_CVCC1, 30, CTRL_RING_INDICATOR, 1, )                \
    X(PANEL_TIMER, 31, CTRL_TIMER, 0, TimerCB)                  \
    X(PANEL_MAINOUTPUT, 32, CTRL_SWITCH, 0, SwitchOnOffCB)      \
    X(PANEL_INTERVAL, 33, CTRL_NUMERIC, 0, SetIntervalCB)       \
    X(PANEL_PRESET, 34, CTRL_RING, 0, SetPresetCB)              \
    X(PANEL_ICHART, 35, CTRL_STRIP_CHART, 0, )                  \
    X(PANEL_VCHART, 36, CTRL_STRIP_CHART, 0, )                  \
    X(PANEL_READ, 37, CTRL_COMMAND_BUTTON, 0, ReadCB)           \
    X(PANEL_SET, 38, CTRL_COMMAND_BUTTON, 0, SetCB)             \
    X(PANEL_EXIT, 39, CTRL_COMMAND_BUTTON, 0, ExitCB)           \
    X(PANEL_LOGTOFILE, 40, CTRL_SWITCH, 0, LogToFileCB)         \
    X(PANEL_TIMERONOFF, 41, CTRL_SWITCH, 0, TimerOnOffCB)       \
    X(PANEL_STATUS_SUPPLY, 42, CTRL_TEXT_MESSAGE, 0, )          \
    X(PANEL_STATUS_READINGS, 43, CTRL_TEXT_MESSAGE, 0, )        \
    X(PANEL_STATUS_LOG, 44, CTRL_TEXT_MESSAGE, 0, )             \
    X(PANEL_STATUS_EXPORT, 45, CTRL_TEXT_MESSAGE, 0, )          \
    X(PANEL_REMOTEONOFF, 46, CTRL_SWITCH, 0, RemoteOnOffCB)     \
    X(PANEL_STATUS_REMOTE, 47, CTRL_TEXT_MESSAGE, 0, )          \
    X(PANEL_OVPARM1, 48, CTRL_SWITCH, 1, ArmProtectionCB)       \
    X(PANEL_OVP1, 49, CTRL_NUMERIC, 1, SetProtectionLevelCB)    \
    X(PANEL_OCPARM1, 50, CTRL_SWITCH, 1, ArmProtectionCB)       \
    X(PANEL_OCP1, 51, CTRL_NUMERIC, 1, SetProtectionLevelCB)    \
    X(PANEL_CCTRIP1, 52, CTRL_SWITCH, 1, ArmProtectionCB)       \
    X(PANEL_PROTECT1, 53, CTRL_TEXT_MESSAGE, 1, )               \
    X(PANEL_OVPARM2, 54, CTRL_SWITCH, 2, ArmProtectionCB)       \
    X(PANEL_OVP2, 55, CTRL_NUMERIC, 2, SetProtectionLevelCB)    \
    X(PANEL_OCPARM2, 56, CTRL_SWITCH, 2, ArmProtectionCB)       \
    X(PANEL_OCP2, 57, CTRL_NUMERIC, 2, SetProtectionLevelCB)    \
    X(PANEL_CCTRIP2, 58, CTRL_SWITCH, 2, ArmProtectionCB)       \
    X(PANEL_PROTECT2, 59, CTRL_TEXT_MESSAGE, 2, )               \
    X(PANEL_OVPARM3, 60, CTRL_SWITCH, 3, ArmProtectionCB)       \
    X(PANEL_OVP3, 61, CTRL_NUMERIC, 3, SetProtectionLevelCB)    \
    X(PANEL_OCPARM3, 62, CTRL_SWITCH, 3, ArmProtectionCB)       \
    X(PANEL_OCP3, 63, CTRL_NUMERIC, 3, SetProtectionLevelCB)    \
    X(PANEL_CCTRIP3, 64, CTRL_SWITCH, 3, ArmProtectionCB)       \
    X(PANEL_PROTECT3, 65, CTRL_TEXT_MESSAGE, 3, )               \
    X(PANEL_OVPARM4, 66, CTRL_SWITCH, 4, ArmProtectionCB)       \
    X(PANEL_OVP4, 67, CTRL_NUMERIC, 4, SetProtectionLevelCB)    \
    X(PANEL_OCPARM4, 68, CTRL_SWITCH, 4, ArmProtectionCB)       \
    X(PANEL_OCP4, 69, CTRL_NUMERIC, 4, SetProtectionLevelCB)    \
    X(PANEL_CCTRIP4, 70, CTRL_SWITCH, 4, ArmProtectionCB)       \
    X(PANEL_PROTECT4, 71, CTRL_TEXT_MESSAGE, 4, )               \
    X(PANEL_CLEARTRIP, 72, CTRL_COMMAND_BUTTON, 0, ClearTripCB) \
    X(PANEL_STATUS_PROTECT, 73, CTRL_TEXT_MESSAGE, 0, )

enum {
#define RAILMON_CONTROL_ID(name, id, ...) name = id,
    RAILMON_PANEL_CONTROLS(RAILMON_CONTROL_ID)
#undef RAILMON_CONTROL_ID
};

// The callbacks the panel file may name, each bound by that name to the
// application function of the same name. X(name, kind): `kind` is the kind of
// control the function serves, by what it reads from the control and when it
// is raised; on another kind it does the wrong thing (a switch callback on a
// command button reads the button as off and switches the outputs off).
#define RAILMON_PANEL_CALLBACKS(X)        \
    X(ArmProtectionCB, CTRL_SWITCH)       \
    X(ClearTripCB, CTRL_COMMAND_BUTTON)   \
    X(ExitCB, CTRL_COMMAND_BUTTON)        \
    X(LogToFileCB, CTRL_SWITCH)           \
    X(ReadCB, CTRL_COMMAND_BUTTON)        \
    X(RemoteOnOffCB, CTRL_SWITCH)         \
    X(SetCB, CTRL_COMMAND_BUTTON)         \
    X(SetIntervalCB, CTRL_NUMERIC)        \
    X(SetMaskCB, CTRL_SWITCH)             \
    X(SetPresetCB, CTRL_RING)             \
    X(SetProtectionLevelCB, CTRL_NUMERIC) \
    X(SwitchOnOffCB, CTRL_SWITCH)         \
    X(TimerCB, CTRL_TIMER)                \
    X(TimerOnOffCB, CTRL_SWITCH)

// Traces of each strip chart: one per channel.
#define RAILMON_CHART_TRACES 4

// The two tables the runtime reads when it loads this panel (userint.h,
// which an expansion needs, with <iterator>): every callback name with the
// function bound to it and the kind it serves, and every named control with
// its kind, the group it sits in and its callback. The program gives its
// callbacks; a test or tool that loads the panel as railmon does gives its
// own function for all of them.
//   RAILMON_UI_TABLES(name)   the function of each name is that name
//   RAILMON_UI_TABLES(ignore) every name is bound to `ignore`
#define RAILMON_UI_CALLBACK_ROW_name(callback, kind) {#callback, callback, kind},
#define RAILMON_UI_CALLBACK_ROW_ignore(callback, kind) {#callback, ignore, kind},
#define RAILMON_UI_CONTROL_ROW(name, id, kind, channel, callback) \
    {PANEL, name, kind, #name, RAILMON_CHART_TRACES, kRailmonChannelGroups[channel], #callback},
#define RAILMON_UI_TABLES(function)                                                                         \
    const UICallbackName uiCallbackNames[] = {RAILMON_PANEL_CALLBACKS(RAILMON_UI_CALLBACK_ROW_##function)}; \
    const std::size_t uiCallbackNameCount = std::size(uiCallbackNames);                                     \
    const UIControlUse uiControlUses[] = {RAILMON_PANEL_CONTROLS(RAILMON_UI_CONTROL_ROW)};                  \
    const std::size_t uiControlUseCount = std::size(uiControlUses);
