// The run log: a record of what one start of the program did, for admins and
// for support. Every line is
//   <local date and time with milliseconds>  <TAG>  <text>
// in UTF-8 (the file starts with a byte-order mark, so that Notepad shows the
// Japanese names); texts with line breaks go on in lines indented by a tab.
// Opening the log moves the previous run's log to "<file>.old", and a run
// stops writing once its log reaches kMaxBytes, so the two stay small.
// Nothing is written while no log is open. Safe to use from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace runlog {

inline constexpr uint64_t kMaxBytes = 4 * 1024 * 1024;
// The log's name in the temporary folder when no other file is given.
inline constexpr char kDefaultName[] = "MarloStarter.log";

// Starts a fresh log at path (code page 932); false when it cannot be made.
bool Open(const std::string& path);
void Close();
bool IsOpen();
// The path of the open log (empty when none).
std::string Path();

// text is in code page 932.
void Write(const char* tag, const std::string& text);
void Writef(const char* tag, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// One line as the log writes it, without the time stamp: the tag padded to
// its column, the text converted, continuation lines indented.
std::string FormatEntry(const char* tag, const std::string& text);

}  // namespace runlog
