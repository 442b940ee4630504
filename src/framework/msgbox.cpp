#include "framework/msgbox.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "common/run_log.h"
#include "common/strings.h"

namespace {
// Until the program installs the real message box (or a test its script) there
// is nobody to ask: the text goes to the error stream and the answer is the
// cautious one (Cancel / No).
class CStderrMessageBox : public CMessageBoxSeam {
 public:
  int Show(const std::string& text, unsigned style) override {
    std::fprintf(stderr, "message box: %s\n", text.c_str());
    unsigned buttons = style & 0xF;
    if (buttons == MB_YESNO) return IDNO;
    if (buttons == MB_OK) return IDOK;
    return IDCANCEL;
  }
};

CStderrMessageBox g_stderrSeam;
CMessageBoxSeam* g_seam = nullptr;
}  // namespace

CMessageBoxSeam* SetMessageBoxSeam(CMessageBoxSeam* seam) {
  CMessageBoxSeam* previous = g_seam;
  g_seam = seam;
  return previous;
}

const char* AnswerName(int answer) {
  switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDRETRY: return "Retry";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "none";
  }
}

int AfxMessageBox(const std::string& text, unsigned style) {
  return AfxMessageBox(g_seam ? *g_seam : g_stderrSeam, text, style);
}

int AfxMessageBox(CMessageBoxSeam& seam, const std::string& text, unsigned style) {
  // Support reads what the user was told and what was answered.
  runlog::Write((style & 0xF) == MB_OK ? "MESSAGE" : "QUESTION", text);
  const int answer = seam.Show(text, style);
  if ((style & 0xF) != MB_OK) runlog::Writef("ANSWER", "%s", AnswerName(answer));
  return answer;
}

int AfxMessageBox(unsigned idPrompt, unsigned style) {
  return AfxMessageBox(LoadResString(idPrompt), style);
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    result.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return result;
}
