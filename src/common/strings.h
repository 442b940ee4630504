// The program's string table. On Windows the texts come from the exe's
// resources (LoadStringA, so in the ANSI code page); the native build carries
// the same table, generated from resources/strings.rc, in code page 932.
#pragma once

#include <string>

// The text of a string id, or an empty string when the table has no such id.
std::string LoadResString(unsigned id);
