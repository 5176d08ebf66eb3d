// Loads the settings file (TOML, table "jsonfiler") into CoreParams.
#pragma once

#include <string>

#include "CoreParams.h"

// The path the core reads its settings from, relative to its working directory.
inline constexpr const char* kSettingsFilePath = "./configs/appconfig.toml";

// False on any failure: unreadable file, bad TOML, a missing key, a value that is not a
// string, or a region value without a leading number that fits a float. Values stored
// before the failure stay in `params`.
bool LoadSettingsFile(const std::string& path, CoreParams& params);
