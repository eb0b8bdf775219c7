#include "panel_edits.h"

#include <string>
#include <vector>

namespace {

// Where the widget's own element starts, or npos.
size_t widgetAt(const std::string& text, const std::string& widget)
{
    return text.find("name=\"" + widget + "\"");
}

// The property element's extent [begin, end) within the widget, or npos.
std::pair<size_t, size_t> propertyExtent(const std::string& text, const std::string& widget,
                                         const std::string& property)
{
    const size_t at = widgetAt(text, widget);
    if (at == std::string::npos)
        return {std::string::npos, 0};
    const size_t prop = text.find("<property name=\"" + property + "\"", at);
    if (prop == std::string::npos)
        return {std::string::npos, 0};
    const size_t end = text.find("</property>", prop);
    return {prop, end + std::string("</property>").size()};
}

std::string binaryGarbage()
{
    std::string bytes;
    for (int i = 0; i < 2048; ++i)
        bytes += static_cast<char>(i & 0xff);
    return bytes;
}

} // namespace

std::string replaceFirst(std::string text, const std::string& from, const std::string& to)
{
    if (const size_t at = text.find(from); at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string replaceInWidget(std::string text, const std::string& widget, const std::string& from, const std::string& to)
{
    const size_t start = widgetAt(text, widget);
    if (start == std::string::npos)
        return text;
    if (const size_t at = text.find(from, start); at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string setWidgetProperty(std::string text, const std::string& widget, const std::string& property,
                              const std::string& valueElement)
{
    const auto [begin, end] = propertyExtent(text, widget, property);
    if (begin == std::string::npos)
        return text;
    const size_t valueBegin = text.find('<', text.find('>', begin) + 1);
    const size_t valueEnd = text.rfind("</property>", end);
    text.replace(valueBegin, valueEnd - valueBegin, valueElement);
    return text;
}

std::string removeWidgetProperty(std::string text, const std::string& widget, const std::string& property)
{
    const auto [begin, end] = propertyExtent(text, widget, property);
    if (begin != std::string::npos)
        text.erase(begin, end - begin);
    return text;
}

const std::vector<PanelEdit>& malformedPanelEdits()
{
    using T = const std::string&;
    static const std::vector<PanelEdit> edits = {
        {"empty", [](T) { return std::string(); }, ""},
        {"binary", [](T) { return binaryGarbage(); }, ""},
        {"not-a-form", [](T) { return std::string("<?xml version=\"1.0\"?>\n<html><body>railmon</body></html>\n"); },
         ""},
        {"truncated", [](T s) { return s.substr(0, s.size() / 2); }, ""},
        {"unbalanced-tags",
         [](T s) { return replaceFirst(replaceFirst(s, "</widget>", "</widgit>"), "</widget>", "</widgit>"); }, ""},
        {"no-panel-id", [](T s) { return removeWidgetProperty(s, "RailmonPanel", "panelId"); }, "no panel 1"},
        {"wrong-panel-id", [](T s) { return setWidgetProperty(s, "RailmonPanel", "panelId", "<number>7</number>"); },
         "no panel 1"},
        {"unknown-class",
         [](T s) {
             return replaceFirst(s, "class=\"StripChart\" name=\"voltageChart\"",
                                 "class=\"OscilloscopeView\" name=\"voltageChart\"");
         },
         "OscilloscopeView"},
        {"unknown-callback",
         [](T s) { return setWidgetProperty(s, "setButton", "callback", "<string>FormatDiskCB</string>"); },
         "FormatDiskCB"},
        {"callback-not-text", [](T s) { return setWidgetProperty(s, "setButton", "callback", "<number>5</number>"); },
         "callback"},
        {"callback-without-id", [](T s) { return removeWidgetProperty(s, "readButton", "ctrlId"); }, "no ctrlId"},
        {"ctrlid-fraction", [](T s) { return setWidgetProperty(s, "iset2", "ctrlId", "<double>14.5</double>"); },
         "ctrlId"},
        {"ctrlid-huge", [](T s) { return setWidgetProperty(s, "vmon1", "ctrlId", "<number>99999999999999</number>"); },
         "ctrlId"},
        {"ctrlid-text", [](T s) { return setWidgetProperty(s, "vmon1", "ctrlId", "<string>twenty-four</string>"); },
         "ctrlId"},
        {"ctrlid-zero", [](T s) { return setWidgetProperty(s, "vmon1", "ctrlId", "<number>0</number>"); }, "ctrlId"},
        {"duplicate-id", [](T s) { return setWidgetProperty(s, "imon1", "ctrlId", "<number>24</number>"); },
         "used twice"},
        {"history-huge",
         [](T s) { return setWidgetProperty(s, "currentChart", "historySeconds", "<number>2147483647</number>"); },
         "historySeconds"},
        {"points-per-trace-huge",
         [](T s) { return setWidgetProperty(s, "voltageChart", "maxPointsPerTrace", "<number>2147483647</number>"); },
         "maxPointsPerTrace"},
        {"history-as-points",
         [](T s) {
             return replaceInWidget(s, "currentChart", "<property name=\"traceCount\"",
                                    "<property name=\"pointsPerScreen\" stdset=\"0\"><number>600</number></property>"
                                    "<property name=\"traceCount\"");
         },
         "pointsPerScreen"},
        {"interval-huge", [](T s) { return setWidgetProperty(s, "timer", "interval", "<double>1e300</double>"); },
         "interval"},
        {"interval-negative", [](T s) { return setWidgetProperty(s, "timer", "interval", "<double>-1</double>"); },
         "interval"},
        {"labels-garbage",
         [](T s) { return setWidgetProperty(s, "cvcc1", "valueLabels", "<string>CV;CC;=;==</string>"); },
         "valueLabels"},
        {"labels-repeated",
         [](T s) { return setWidgetProperty(s, "preset", "valueLabels", "<string>1=A;1=B</string>"); }, "valueLabels"},
        {"switch-values-equal",
         [](T s) { return setWidgetProperty(s, "mainOutput", "offValue", "<number>1</number>"); }, "equal"},
        {"traces-zero", [](T s) { return setWidgetProperty(s, "currentChart", "traceCount", "<number>0</number>"); },
         "traceCount"},
        // Well-formed files that lack what railmon names, or have it as
        // something railmon cannot use.
        {"no-control-16", [](T s) { return removeWidgetProperty(s, "vset1", "ctrlId"); },
         "PANEL_VSET1 (ID 16) is missing"},
        {"no-enable-button-2",
         [](T s) { return removeWidgetProperty(removeWidgetProperty(s, "enable2", "ctrlId"), "enable2", "callback"); },
         "PANEL_ENABLE2 (ID 15) is missing"},
        {"indicator-as-label",
         [](T s) {
             return replaceFirst(s, "class=\"NumericIndicator\" name=\"vmon1\"", "class=\"QLabel\" name=\"vmon1\"");
         },
         "PANEL_VMON1 (ID 24) is not a NumericIndicator"},
        {"switch-as-button",
         [](T s) {
             return replaceFirst(s, "class=\"QCheckBox\" name=\"logToFile\"",
                                 "class=\"QPushButton\" name=\"logToFile\"");
         },
         "PANEL_LOGTOFILE (ID 40) is not a switch"},
        {"chart-with-three-traces",
         [](T s) { return setWidgetProperty(s, "voltageChart", "traceCount", "<number>3</number>"); },
         "PANEL_VCHART (ID 36) is not a StripChart with 4 traces"},
    };
    return edits;
}
