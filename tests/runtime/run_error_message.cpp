#include "run_error_message.h"

#include <cctype>

#include "child_process.h"

std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool IsAddress(const std::string &text, std::size_t at) {
  if (text.size() != at + 8) return false;
  for (std::size_t i = at; i < text.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i])) && (text[i] < 'A' || text[i] > 'F')) return false;
  return true;
}

Message ParseMessage(const std::string &output) {
  Message message;
  std::size_t start = output.find("Runtime error ");
  if (start == std::string::npos) return message;
  message.found = true;
  message.before = output.substr(0, start);
  std::vector<std::string> lines = SplitLines(output.substr(start));
  const std::string &header = lines[0];
  std::size_t digits = 14, at = header.find(" at 0x");
  if (at == std::string::npos || at == digits || !IsAddress(header, at + 6)) return message;
  for (std::size_t i = digits; i < at; ++i)
    if (!std::isdigit(static_cast<unsigned char>(header[i]))) return message;
  message.number = std::stoi(header.substr(digits, at - digits));
  message.location = header.substr(at + 6);
  std::size_t i = 1;
  for (; i < lines.size() && lines[i].rfind("  0x", 0) == 0 && IsAddress(lines[i], 4); ++i)
    message.frames.push_back(lines[i].substr(4));
  message.wellFormed = i + 1 == lines.size() && lines[i].empty() && output.size() >= 4 &&
                       output.compare(output.size() - 4, 4, "\r\n\r\n") == 0;
  return message;
}

std::string SourceLineOf(const std::string &addr2line, const std::string &executable, const std::string &hexAddress) {
  ChildResult result = RunChild({addr2line, "-e", executable, "0x" + hexAddress});
  if (!result.exited || result.exitCode != 0) return "";
  std::string line = result.output.substr(0, result.output.find('\n'));
  std::size_t discriminator = line.find(" (discriminator");
  if (discriminator != std::string::npos) line.erase(discriminator);
  return line;
}
