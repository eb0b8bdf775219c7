// Which CV/CC code means CC, as the panel file labels it: the value whose
// label is "CC" in the value labels of its RingIndicators
// ("0=CV;1=CC;2=OFF").
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Where the panel file is looked for: beside the executable, then
// ../share/railmon/ from it (the installed layout).
QStringList panelFileCandidates(const QString& executableDir);

// The CC code from a panel file; nullopt with the reason when the file
// cannot be read, labels no code CC, or labels two different codes CC.
std::optional<int> ccCodeFromPanel(const QString& path, QString* error);
