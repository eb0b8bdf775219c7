// "value=label;value=label" pairs, as ring controls carry them in the panel
// file: the integer a program reads or writes, and the text the operator sees.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <optional>

using ValueLabels = QList<QPair<int, QString>>;

// nullopt when a pair is not "integer=text" or a value repeats.
std::optional<ValueLabels> parseValueLabels(const QString& text);
