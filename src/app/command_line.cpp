#include "app/command_line.h"

#include <cctype>
#include <cstdint>

#include "framework/text_parse.h"
#include "settings/settings.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits "/name=value" into its lower-case name and its value.
void SplitOption(const std::string& word, std::string* name, std::string* value, bool* hasValue) {
  const size_t equals = word.find('=');
  *hasValue = equals != std::string::npos;
  *name = Lower(word.substr(1, *hasValue ? equals - 1 : std::string::npos));
  *value = *hasValue ? word.substr(equals + 1) : std::string();
}

}  // namespace

std::string ArgumentsOf(const std::string& commandLine) {
  size_t pos = 0;
  while (pos < commandLine.size() && IsBlank(commandLine[pos])) ++pos;
  if (pos < commandLine.size() && commandLine[pos] == '"') {
    const size_t close = commandLine.find('"', pos + 1);
    pos = close == std::string::npos ? commandLine.size() : close + 1;
  }
  while (pos < commandLine.size() && !IsBlank(commandLine[pos])) ++pos;
  return commandLine.substr(pos);
}

std::vector<std::string> SplitArguments(const std::string& arguments) {
  // Quotes and blanks are single bytes that no double-byte character of
  // code page 932 contains, so a byte-wise scan is safe here.
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : arguments) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (IsBlank(c) && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

bool IsHostPort(const std::string& text, bool portOptional) {
  const size_t colon = text.find(':');
  const std::string host = text.substr(0, colon);
  if (host.empty()) return false;
  for (char c : host)
    if (IsBlank(c)) return false;
  if (colon == std::string::npos) return portOptional;
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5) return false;
  for (char c : port)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  const int number = std::stoi(port);
  return number >= 1 && number <= 65535;
}

namespace {
bool ParseWords(const std::vector<std::string>& words, CCommandLine* line);
}  // namespace

bool ParseCommandLine(const std::string& arguments, CCommandLine* line) {
  *line = CCommandLine{};
  const std::vector<std::string> words = SplitArguments(arguments);
  if (ParseWords(words, line)) return true;
  // A quiet start with a bad line still wants no window, and its log where
  // it asked for it: only the log and the exit code tell about the line.
  line->mode = RunMode::Wizard;
  line->strLog.clear();
  for (const std::string& word : words) {
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) continue;
    const std::string option = Lower(word.substr(1));
    if (option == "quiet") line->mode = RunMode::Quiet;
    if (option.compare(0, 4, "log=") == 0 && word.size() > 5) line->strLog = word.substr(5);
  }
  return false;
}

namespace {
bool ParseWords(const std::vector<std::string>& words, CCommandLine* line) {
  // Options that only make sense for an unattended run, for the check at the end.
  std::string firstUnattendedOnly;
  for (const std::string& word : words) {
    line->strBadOption = word;
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) return false;
    std::string name;
    std::string value;
    bool hasValue = false;
    SplitOption(word, &name, &value, &hasValue);

    if (name == "?" || name == "quiet" || name == "passive" || name == "boot" || name == "save") {
      if (hasValue) return false;
      if (name == "?") {
        line->bHelp = true;
      } else if (name == "quiet" || name == "passive") {
        const RunMode mode = name == "quiet" ? RunMode::Quiet : RunMode::Passive;
        if (line->mode != RunMode::Wizard && line->mode != mode) return false;
        line->mode = mode;
      } else if (name == "boot") {
        line->bBoot = true;
      } else {
        line->bSave = true;
      }
    } else if (name == "image" || name == "download" || name == "log") {
      if (value.empty()) return false;
      (name == "image" ? line->strImage : name == "download" ? line->strDownload : line->strLog) = value;
    } else if (name == "server") {
      if (!IsHostPort(value, true)) return false;
      line->strServer = value;
    } else if (name == "connections" || name == "limit") {
      uint32_t number = 0;
      const bool connections = name == "connections";
      if (!ParseUnsignedText(value, &number) || value.find(' ') != std::string::npos) return false;
      if (connections && (number < CTransferSetting::kMinConnections || number > CTransferSetting::kMaxConnections))
        return false;
      if (!connections && number > CTransferSetting::kMaxSpeedLimit) return false;
      (connections ? line->nConnections : line->nSpeedLimit) = static_cast<int>(number);
    } else if (name == "proxy") {
      const std::string lower = Lower(value);
      if (lower == "none") {
        line->proxy = ProxyChoice::None;
      } else if (lower == "system") {
        line->proxy = ProxyChoice::System;
      } else if (IsHostPort(value, false)) {
        line->proxy = ProxyChoice::Named;
        line->strProxyServer = value;
      } else {
        return false;
      }
    } else {
      return false;
    }
    if (name != "?" && name != "log" && name != "quiet" && name != "passive" && firstUnattendedOnly.empty())
      firstUnattendedOnly = word;
  }
  // The wizard keeps its own rules for settings: overrides need a build without it.
  if (!line->Unattended() && !firstUnattendedOnly.empty()) {
    line->strBadOption = firstUnattendedOnly;
    return false;
  }
  line->strBadOption.clear();
  return true;
}
}  // namespace
