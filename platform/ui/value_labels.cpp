#include "value_labels.h"

#include <QSet>

#include <optional>

std::optional<ValueLabels> parseValueLabels(const QString& text)
{
    ValueLabels labels;
    QSet<int> seen;
    for (const QString& pair : text.split(';', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf('=');
        if (eq <= 0)
            return std::nullopt;
        bool ok = false;
        const int value = pair.left(eq).trimmed().toInt(&ok);
        if (!ok || seen.contains(value))
            return std::nullopt;
        seen.insert(value);
        labels.append({value, pair.mid(eq + 1)});
    }
    return labels;
}
