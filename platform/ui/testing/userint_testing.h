// Seams for tests and test harnesses that drive the runtime headless. A
// program never sets these; with none set, the runtime behaves as it does for
// an operator.
#pragma once

#include <functional>
#include <string>

class QObject;
class QWidget;

struct UITestHooks {
    // When set, a pop-up is reported here and returns at once instead of
    // waiting for an operator to dismiss a modal box.
    std::function<void(const std::string& title, const std::string& message)> popup;
    // Called once each time RunUserInterface has started its loop.
    std::function<void()> loopStarted;
    // When set, a confirmation is reported here and answered by it (1 yes,
    // 0 no) instead of waiting for an operator.
    std::function<int(const std::string& title, const std::string& message)> confirm;
    // When not empty, where a panel file named without a directory is looked
    // up, instead of beside the executable.
    std::string panelDirectory;
    // Observers of what the program shows: each SetCtrlVal, each
    // PlotStripChart (after the chart took the points).
    std::function<void(int panel, int control, double value)> valueSet;
    std::function<void(int panel, int control, const double* values, int count)> plotted;
};

UITestHooks& uiTestHooks();

// The toolkit objects behind a panel and its controls, for tests that operate
// them as an operator would; null when there is no such panel or control.
QWidget* uiPanelWidget(int panel);
QObject* uiControlObject(int panel, int control);
// A control on the panel whose callback has this name (the first found).
QObject* uiControlByCallback(int panel, const char* callbackName);
