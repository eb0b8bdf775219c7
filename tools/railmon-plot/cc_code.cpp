#include "cc_code.h"

#include "value_labels.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

#include <vector>

QStringList panelFileCandidates(const QString& executableDir)
{
    const QDir dir(executableDir);
    return {dir.filePath(QStringLiteral("railmon-ctrl.uir")),
            QDir::cleanPath(dir.filePath(QStringLiteral("../share/railmon/railmon-ctrl.uir")))};
}

std::optional<int> ccCodeFromPanel(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot open: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QXmlStreamReader xml(&file);
    std::vector<QString> widgets; // the classes of the widgets we are inside
    std::optional<int> code;
    QString property;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("widget"))
                widgets.push_back(xml.attributes().value(QLatin1String("class")).toString());
            else if (xml.name() == QLatin1String("property"))
                property = xml.attributes().value(QLatin1String("name")).toString();
            else if (xml.name() == QLatin1String("string") && property == QLatin1String("valueLabels") &&
                     !widgets.empty() && widgets.back() == QLatin1String("RingIndicator")) {
                const auto labels = parseValueLabels(xml.readElementText());
                if (!labels)
                    continue;
                for (const auto& [value, label] : *labels) {
                    if (label.trimmed() != QLatin1String("CC"))
                        continue;
                    if (code && *code != value) {
                        *error = QStringLiteral("%1: the value labels name two codes CC, %2 and %3")
                                     .arg(path)
                                     .arg(*code)
                                     .arg(value);
                        return std::nullopt;
                    }
                    code = value;
                }
            }
        } else if (xml.isEndElement()) {
            if (xml.name() == QLatin1String("widget") && !widgets.empty())
                widgets.pop_back();
            else if (xml.name() == QLatin1String("property"))
                property.clear();
        }
    }
    if (xml.hasError()) {
        *error = QStringLiteral("%1: not a panel file: %2").arg(path, xml.errorString());
        return std::nullopt;
    }
    if (!code)
        *error = QStringLiteral("%1: no RingIndicator labels a code CC").arg(path);
    return code;
}
