// The test hooks, and the toolkit objects behind handles for tests that
// operate a panel as an operator would.
#include "userint_testing.h"

#include "panel_registry.h"

#include <utility>

UITestHooks& uiTestHooks()
{
    static UITestHooks hooks;
    return hooks;
}

QWidget* uiPanelWidget(int panel)
{
    Panel* p = findPanel(panel);
    return p ? p->root : nullptr;
}

QObject* uiControlObject(int panel, int control)
{
    Control* c = findControl(panel, control);
    return c ? c->object.data() : nullptr;
}

QObject* uiControlByCallback(int panel, const char* callbackName)
{
    Panel* p = findPanel(panel);
    if (!p || !callbackName)
        return nullptr;
    for (const Control& c : std::as_const(p->controls)) {
        if (c.object && c.callbackName == QLatin1String(callbackName))
            return c.object;
    }
    return nullptr;
}
