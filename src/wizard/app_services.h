// What the pages need of the application object (defined with it in src/app).
#pragma once

#include "app/settings_ini.h"

// The settings file whose path the application fixed at start-up.
CIniFile& GetAppIni();
