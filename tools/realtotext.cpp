// realtotext: formats 80-bit values given by their bit patterns.
//
// Reads lines "SSSS:MMMMMMMMMMMMMMMM width decimals kind" from standard
// input: 4 hex digits of sign and biased exponent, a colon, 16 hex digits of
// significand, then three decimal integers (int32, optional leading "-"),
// separated by single spaces. A CR before the line end is ignored. Writes
// for each line the FormatReal text (capacity 255) and "\n". A malformed
// line gives a message on standard error, an empty output line, and exit
// status 1 once all lines are done.
//
// The output is bytes: on Windows standard output is put into binary mode,
// so "\n" is not written as CR LF there.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "textio/format_real.h"

namespace {

struct Request {
  uint16_t signExponent;
  uint64_t significand;
  int32_t width;
  int32_t decimals;
  int32_t kind;
};

bool ParseHex(std::string_view text, int digits, uint64_t &value) {
  if (static_cast<int>(text.size()) != digits) return false;
  value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  return true;
}

bool ParseInt32(std::string_view text, int32_t &value) {
  if (text.empty()) return false;
  const char *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
  return ec == std::errc() && ptr == end;
}

// Splits off the text up to the next `separator` (or the end when there is
// none and `last` is set).
bool NextField(std::string_view &rest, char separator, bool last, std::string_view &field) {
  const size_t at = rest.find(separator);
  if (last) {
    if (at != std::string_view::npos) return false;
    field = rest;
    rest = {};
    return true;
  }
  if (at == std::string_view::npos) return false;
  field = rest.substr(0, at);
  rest.remove_prefix(at + 1);
  return true;
}

bool ParseRequest(std::string_view line, Request &request) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view exponent, significand, width, decimals, kind;
  uint64_t exponentBits, significandBits;
  if (!NextField(line, ':', false, exponent) || !NextField(line, ' ', false, significand) ||
      !NextField(line, ' ', false, width) || !NextField(line, ' ', false, decimals) ||
      !NextField(line, ' ', true, kind)) {
    return false;
  }
  if (!ParseHex(exponent, 4, exponentBits) || !ParseHex(significand, 16, significandBits)) return false;
  request.signExponent = static_cast<uint16_t>(exponentBits);
  request.significand = significandBits;
  return ParseInt32(width, request.width) && ParseInt32(decimals, request.decimals) && ParseInt32(kind, request.kind);
}

// One line without its "\n"; false at the end of the input.
bool ReadLine(std::FILE *in, std::string &line) {
  line.clear();
  int c;
  while ((c = std::getc(in)) != EOF) {
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
  }
  return !line.empty();
}

// Output goes straight to the standard output handle, so that every line
// ends in a bare LF on every system.
class Output {
 public:
  ~Output() { Flush(); }
  void Put(const char *bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (used_ == sizeof buffer_) Flush();
      buffer_[used_++] = bytes[i];
    }
  }
  bool Flush() {
    DWORD written = 0;
    if (used_ > 0 &&
        (WriteFile(handle_, buffer_, static_cast<DWORD>(used_), &written, nullptr) == 0 || written != used_))
      failed_ = true;
    used_ = 0;
    return !failed_;
  }

 private:
  HANDLE handle_ = GetStdHandle(STD_OUTPUT_HANDLE);
  char buffer_[65536];
  size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace

int main() {
  Output out;
  int status = 0;
  std::string line;
  for (long number = 1; ReadLine(stdin, line); ++number) {
    Request request;
    if (!ParseRequest(line, request)) {
      std::fprintf(stderr, "realtotext: line %ld: expected SSSS:MMMMMMMMMMMMMMMM width decimals kind\n", number);
      out.Put("\n", 1);
      status = 1;
      continue;
    }
    ShortString text;
    FormatReal(request.width, request.decimals, Extended::FromBits(request.signExponent, request.significand),
               static_cast<RealKind>(request.kind), text, kMaxStringLength);
    out.Put(text.text, text.length);
    out.Put("\n", 1);
  }
  if (!out.Flush()) status = 1;
  return status;
}
