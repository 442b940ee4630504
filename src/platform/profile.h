// The per-user application profile (read only): on Windows the registry value
// HKEY_CURRENT_USER\Software\<company>\<application>\<section>, <entry>, as the
// framework's GetProfileString reads it once a registry key is set; on POSIX the
// environment variable WREN_<SECTION>_<ENTRY> (upper case).
#pragma once

#include <string>

namespace plat {

std::string ReadProfileString(const char* company, const char* application, const char* section,
                              const char* entry, const char* defaultValue);

}  // namespace plat
