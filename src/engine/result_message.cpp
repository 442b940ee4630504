#include "engine/result_message.h"

#include <cstdio>
#include <initializer_list>

#include "common/strings.h"

namespace {

// Which values a text takes.
enum class Args { None, Code, Extra, CodeExtra };

struct CodeText {
  int low, high;  // code range, inclusive
  unsigned id;
  Args args;
};

// Codes of one step lie together; single codes are ranges of one.
constexpr CodeText kCodeTexts[] = {
    {-400, -400, 10500, Args::CodeExtra}, {-399, -399, 10500, Args::CodeExtra},
    {-391, -390, 10500, Args::CodeExtra}, {-386, -386, 10500, Args::CodeExtra},
    {-384, -382, 10500, Args::CodeExtra}, {-376, -375, 10500, Args::CodeExtra},
    {-389, -389, 10501, Args::CodeExtra}, {-387, -387, 10501, Args::CodeExtra},
    {-381, -381, 10501, Args::CodeExtra}, {-379, -379, 10501, Args::CodeExtra},
    {-374, -374, 10501, Args::CodeExtra}, {-372, -372, 10501, Args::CodeExtra},
    {-388, -388, 10502, Args::CodeExtra}, {-380, -380, 10502, Args::CodeExtra},
    {-373, -373, 10502, Args::CodeExtra},
    {-385, -385, 10503, Args::CodeExtra}, {-371, -370, 10503, Args::CodeExtra},
    {-378, -377, 10504, Args::CodeExtra},
    {-300, -300, 10402, Args::Extra},
    {-297, -297, 10403, Args::None},
    {-296, -296, 10404, Args::Extra},
    {-295, -294, 10405, Args::CodeExtra}, {-291, -290, 10405, Args::CodeExtra},
    {-288, -288, 10405, Args::CodeExtra},
    {-293, -292, 10406, Args::CodeExtra}, {-289, -289, 10406, Args::CodeExtra},
    {-287, -287, 10406, Args::CodeExtra}, {-284, -284, 10406, Args::CodeExtra},
    {-286, -286, 10407, Args::None},
    {-285, -285, 10408, Args::None},
    {-200, -200, 10300, Args::None},
    {-198, -198, 10302, Args::None},
    {-197, -197, 10303, Args::None},
    {-196, -196, 10305, Args::None},
    {-195, -195, 10306, Args::None},
    {-193, -193, 10307, Args::None},
    {-192, -192, 10308, Args::None},
    {-191, -191, 10309, Args::None},
    {-190, -190, 10310, Args::None},
    {-194, -194, 10202, Args::Code}, {-189, -189, 10202, Args::Code},
    {-100, -93, 10202, Args::Code},
    {-188, -186, 10400, Args::Code},
    {-170, -170, 10600, Args::CodeExtra},
    {-172, -171, 10601, Args::Code},
    {-173, -173, 10602, Args::Code},
    {-174, -174, 10603, Args::Code},
    {-175, -175, 10604, Args::Code},
    {-176, -176, 10605, Args::Code},
    {-185, -183, 10401, Args::Code},
};

std::string Format(unsigned id, Args args, int code, int extra) {
  const std::string pattern = LoadResString(id);
  char text[1024];
  switch (args) {
    case Args::None: return pattern;
    case Args::Code: std::snprintf(text, sizeof text, pattern.c_str(), code); break;
    case Args::Extra: std::snprintf(text, sizeof text, pattern.c_str(), extra); break;
    case Args::CodeExtra: std::snprintf(text, sizeof text, pattern.c_str(), code, extra); break;
  }
  return text;
}

}  // namespace

bool FormatResultMessage(std::string* text, int type, int code, int extra) {
  if (type == 2) {
    *text = Format(10301, Args::Extra, code, extra);
    return true;
  }
  if (type != 1) return false;
  for (const CodeText& entry : kCodeTexts) {
    if (code >= entry.low && code <= entry.high) {
      *text = Format(entry.id, entry.args, code, extra);
      break;
    }
  }
  return true;
}
