// A message-box seam that records what was asked and answers from a script.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "framework/msgbox.h"

struct AskedMessage {
  std::string text;
  unsigned style;
};

class ScriptedMessageBox : public CMessageBoxSeam {
 public:
  ScriptedMessageBox() { m_previous = SetMessageBoxSeam(this); }
  ~ScriptedMessageBox() override { SetMessageBoxSeam(m_previous); }
  ScriptedMessageBox(const ScriptedMessageBox&) = delete;
  ScriptedMessageBox& operator=(const ScriptedMessageBox&) = delete;

  void Answer(int id) { m_answers.push_back(id); }

  int Show(const std::string& text, unsigned style) override {
    asked.push_back({text, style});
    if (m_answers.empty()) return IDCANCEL;  // an unscripted question gets the cautious answer
    int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
  }

  std::vector<AskedMessage> asked;

 private:
  std::deque<int> m_answers;
  CMessageBoxSeam* m_previous = nullptr;
};
