// The one configuration file railmon keeps: the protection levels and their
// arming, in $XDG_CONFIG_HOME/railmon/protection.conf (~/.config when that
// is not set; %APPDATA%\railmon on Windows). Protection that silently disarmed on a
// restart would be a trap, so the levels outlive the run; a trip does not.
// Written whole to a file beside it and renamed over it, so a crash leaves
// the old file or the new one. A file that is damaged or not railmon's is
// refused whole, with the reason, never half taken.
#pragma once

#include "protection.h"

#include <string>

using ProtectionSettings = ChannelProtection[CHANNELS];

// The file's path, or empty with `why` when there is no configuration
// directory to keep it in.
std::string ProtectionFilePath(std::string& why);

// The file's text for these settings, and back. Parsing checks the form
// only (railmon's header, each channel once, in order, every field); the
// caller checks the levels against their ranges.
std::string ProtectionFileText(const ProtectionSettings& settings);
bool ProtectionFileParse(const std::string& text, ProtectionSettings& settings, std::string& why);

enum class ProtectionFileRead { Loaded, Absent, Refused };
// Reads and parses the file at `path`; `why` says why it was refused.
ProtectionFileRead ProtectionFileLoad(const std::string& path, ProtectionSettings& settings, std::string& why);
// Replaces the file at `path` (its directory made when missing).
bool ProtectionFileSave(const std::string& path, const ProtectionSettings& settings, std::string& why);
