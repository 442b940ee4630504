#include "common/strings.h"

#include <algorithm>
#include <iterator>

#include "strings_table.inc"  // generated: struct { unsigned id; const char* text; } kStrings[] sorted by id

std::string LoadResString(unsigned id) {
  auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                             [](const StringEntry& e, unsigned v) { return e.id < v; });
  return (it != std::end(kStrings) && it->id == id) ? std::string(it->text) : std::string();
}
