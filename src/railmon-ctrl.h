// Panel and control IDs of railmon-ctrl.uir. The panel file carries the same
// numbers in its panelId and ctrlId properties; tests check that they agree.
#pragma once

#define PANEL 1

#define PANEL_TIMER 31
#define PANEL_MAINOUTPUT 32
#define PANEL_INTERVAL 33
#define PANEL_PRESET 34
#define PANEL_ICHART 35
#define PANEL_VCHART 36
