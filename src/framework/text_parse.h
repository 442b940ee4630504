// Parsing of what users type into number boxes.
#pragma once

#include <cstdint>
#include <string>

// A whole unsigned decimal number, blanks allowed around it; false for an
// empty text, any other character, or a value above 4294967295.
bool ParseUnsignedText(const std::string& text, uint32_t* value);
