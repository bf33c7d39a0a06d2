#include "platform/posix/console_host/terminal_replies.h"

#include <unistd.h>

#include <cerrno>

#include "platform/posix/console_host/terminal_io.h"

namespace platform_posix::console_host {
namespace {

enum class Kind { kNone, kIncomplete, kPosition, kKitty, kAttributes };

// Looks at an ESC [ sequence at bytes[0..n); its length goes to *length.
Kind Classify(const unsigned char *p, std::size_t n, std::size_t *length, int *a, int *b) {
  std::size_t i = 2;
  bool question = i < n && p[i] == '?';
  if (question) ++i;
  int values[2] = {-1, -1};
  int index = 0;
  for (; i < n; ++i) {
    unsigned char c = p[i];
    if (c >= '0' && c <= '9') {
      if (index < 2) values[index] = (values[index] < 0 ? 0 : values[index]) % 100000 * 10 + (c - '0');
    } else if (c == ';') {
      ++index;
    } else {
      *length = i + 1;
      *a = values[0];
      *b = values[1];
      if (c == 'R' && !question && index == 1 && values[0] > 0 && values[1] > 0) return Kind::kPosition;
      if (c == 'u' && question) return Kind::kKitty;
      if (c == 'c' && question) return Kind::kAttributes;
      return Kind::kNone;
    }
  }
  return Kind::kIncomplete;
}

}  // namespace

std::size_t ExtractReplies(unsigned char *bytes, std::size_t length, StartupReplies *replies) {
  std::size_t out = 0;
  std::size_t i = 0;
  while (i < length) {
    if (bytes[i] == 0x1B && (i + 1 == length || bytes[i + 1] == '[')) {
      std::size_t len = 0;
      int a = 0, b = 0;
      Kind kind = i + 1 == length ? Kind::kIncomplete : Classify(bytes + i, length - i, &len, &a, &b);
      if (kind == Kind::kIncomplete) {
        while (i < length) bytes[out++] = bytes[i++];
        break;
      }
      if (kind != Kind::kNone) {
        if (kind == Kind::kPosition) {
          replies->gotPosition = true;
          replies->row = a;
          replies->column = b;
        } else if (kind == Kind::kKitty) {
          replies->kittyKeyboard = true;
        } else {
          replies->gotAttributes = true;
        }
        i += len;
        continue;
      }
      for (std::size_t k = 0; k < len; ++k) bytes[out++] = bytes[i++];
      continue;
    }
    bytes[out++] = bytes[i++];
  }
  return out;
}

bool AskQuestions(int fd) {
  static constexpr char kQuestions[] = "\x1b[6n\x1b[?u\x1b[c";
  return WriteAll(fd, kQuestions, sizeof kQuestions - 1);
}

StartupReplies ReadAnswers(int fd, long long deadline, unsigned char *typed, std::size_t capacity,
                           std::size_t *typedLength) {
  StartupReplies replies;
  std::size_t length = 0;
  while (!replies.gotAttributes && length < capacity) {
    long long left = deadline - NowMs();
    if (const long long limit = WriteLimit(); limit != 0 && limit / 1000000 - NowMs() < left)
      left = limit / 1000000 - NowMs();
    if (left <= 0 || !WaitReadable(fd, static_cast<int>(left))) break;
    const long got = ReadWithoutWaiting(fd, typed + length, capacity - length);
    if (got < 0 && errno == EAGAIN) continue;
    if (got <= 0) break;
    length = ExtractReplies(typed, length + static_cast<std::size_t>(got), &replies);
  }
  *typedLength = length;
  return replies;
}

}  // namespace platform_posix::console_host
