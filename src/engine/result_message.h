// The one place that turns the outcome of a run (type, code, extra) into the
// text shown to the user at its end.
#pragma once

#include <string>

// Type 2: no connection to the file-information server; type 1: failure with
// code. Returns false for any other type. For a code without a text the
// result is true and *text is left as it was.
bool FormatResultMessage(std::string* text, int type, int code, int extra);
