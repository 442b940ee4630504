// Message boxes for the whole program go through one seam, so that tests can
// answer them from a script instead of a person. The real seam (Windows,
// Win32MessageBoxSeam) shows a MessageBoxA owned by the program's active window.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
// The few MessageBox styles and answers the portable code uses, with the
// values Windows gives them.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONHAND = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDRETRY = 4;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
#endif

class CMessageBoxSeam {
 public:
  virtual ~CMessageBoxSeam() = default;
  // Shows text (code page 932) with the given MB_ style; returns the ID of the answer.
  virtual int Show(const std::string& text, unsigned style) = 0;
};

// Installs a seam (the program installs the real one at start-up; tests their
// scripts); null leaves nobody to ask. Returns the previous seam.
CMessageBoxSeam* SetMessageBoxSeam(CMessageBoxSeam* seam);

int AfxMessageBox(const std::string& text, unsigned style = MB_OK);
// AfxMessageBox through the given seam rather than the installed one.
int AfxMessageBox(CMessageBoxSeam& seam, const std::string& text, unsigned style);
// The text is string idPrompt of the string table.
int AfxMessageBox(unsigned idPrompt, unsigned style = MB_OK);

// "Retry", "Yes", ... for a message box answer (the run log's words).
const char* AnswerName(int answer);

// printf-style formatting into a std::string (format texts come from the string table).
std::string FormatText(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
