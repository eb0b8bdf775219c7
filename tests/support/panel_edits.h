// Malformed panel files, each made from the shipped panel file by one small
// edit, so they follow the panel file as it changes instead of going stale
// as copies would.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct PanelEdit {
    std::string name;
    std::function<std::string(const std::string& shipped)> edit;
    std::string cause; // a part of the one line the loader must print
};

// Every malformed variant the loader must refuse.
const std::vector<PanelEdit>& malformedPanelEdits();

// Edits on the text of a panel file. Each finds its place after the widget
// named `widget` (name="...") and leaves the text as it is when it is not
// there, which the caller's check then shows.
std::string replaceFirst(std::string text, const std::string& from, const std::string& to);
std::string replaceInWidget(std::string text, const std::string& widget, const std::string& from,
                            const std::string& to);
// Gives a property of a widget another value element, e.g.
// ("timer", "interval", "<double>0</double>").
std::string setWidgetProperty(std::string text, const std::string& widget, const std::string& property,
                              const std::string& valueElement);
std::string removeWidgetProperty(std::string text, const std::string& widget, const std::string& property);
