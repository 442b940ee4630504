// The option page's summary of the download settings.
#pragma once

#include <string>

#include "settings/settings.h"

// The download folder, or string 6010 when no usable folder is set.
std::string DownloadFolderSummary(const CBinaryDownloadSetting& setting);
// 6011 (no proxy), 6012 (system settings) or 6013 with host, port and user.
std::string ProxySummary(const CBinaryDownloadSetting& setting);
