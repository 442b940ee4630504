#include "app/unattended_answers.h"

#include "common/run_log.h"
#include "common/strings.h"

namespace {
constexpr unsigned kAskCreateFolder = 10100;
constexpr unsigned kAskKeepWaiting = 10304;
constexpr unsigned kAskStopDownload = 11101;

// The fixed text of a question that is formatted with one path at its end.
bool StartsWithTextBeforePath(const std::string& text, unsigned id) {
  const std::string format = LoadResString(id);
  const std::string fixed = format.substr(0, format.find("%s"));
  return !fixed.empty() && text.compare(0, fixed.size(), fixed) == 0;
}
}  // namespace

CUnattendedAnswers::CUnattendedAnswers(std::function<void(uint32_t)> pause, int maxRetries)
    : m_pause(std::move(pause)), m_nMaxRetries(maxRetries) {}

bool CUnattendedAnswers::TakeRetry(const char* what) {
  if (m_nRetries >= m_nMaxRetries) {
    runlog::Writef("UNATTEND", "%s: all %d retries of the run are used, stopping", what, m_nMaxRetries);
    return false;
  }
  ++m_nRetries;
  runlog::Writef("UNATTEND", "%s: retry %d of %d", what, m_nRetries, m_nMaxRetries);
  if (m_pause) m_pause(kRetryPauseMs);
  return true;
}

int CUnattendedAnswers::Show(const std::string& text, unsigned style) {
  switch (style & 0xF) {
    case MB_RETRYCANCEL:
      return TakeRetry("retry question") ? IDRETRY : IDCANCEL;
    case MB_YESNO:
      if (text == LoadResString(kAskKeepWaiting)) return TakeRetry("keep waiting") ? IDYES : IDNO;
      if (text == LoadResString(kAskStopDownload)) return IDYES;
      if (StartsWithTextBeforePath(text, kAskCreateFolder)) return IDYES;
      return IDNO;  // the disk-space question among them
    case MB_OKCANCEL:
      return IDCANCEL;
    default:
      return IDOK;
  }
}

bool CUnattendedAnswers::AskRetry(const std::string& text) {
  runlog::Write("QUESTION", text);
  const bool retry = TakeRetry("retry dialog");
  runlog::Write("ANSWER", retry ? "Retry" : "Cancel");
  return retry;
}

bool CUnattendedAnswers::RetryFetch(int result) {
  runlog::Writef("UNATTEND", "file-information server not reached (%d)", result);
  return TakeRetry("file-information server");
}
