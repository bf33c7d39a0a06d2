// A fixed buffer that collects the bytes for the terminal, so that what one
// console operation (or one batch of them) draws goes out in a single write.
#pragma once

#include <cstddef>

namespace platform_posix::console_host {

class OutputBuffer {
 public:
  // Receives everything collected, in one piece, at Flush (or when the
  // buffer is full).
  using Sink = void (*)(void *context, const char *bytes, std::size_t length);

  OutputBuffer(char *storage, std::size_t capacity, Sink sink, void *context)
      : data_(storage), capacity_(capacity), sink_(sink), context_(context) {}

  void Put(char c) {
    if (length_ == capacity_) Flush();
    data_[length_++] = c;
  }
  void Put(const char *s, std::size_t n) {
    if (capacity_ - length_ < n) {
      for (std::size_t i = 0; i < n; ++i) Put(s[i]);
      return;
    }
    for (std::size_t i = 0; i < n; ++i) data_[length_ + i] = s[i];
    length_ += n;
  }
  template <std::size_t N>
  void Put(const char (&s)[N]) {
    Put(s, N - 1);
  }
  void PutNumber(int n) {
    char digits[12];
    int k = 0;
    unsigned v = n < 0 ? 0u : static_cast<unsigned>(n);
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (k > 0) Put(digits[--k]);
  }
  void Flush() {
    if (length_ == 0) return;
    std::size_t n = length_;
    length_ = 0;
    sink_(context_, data_, n);
  }
  std::size_t Size() const { return length_; }
  const char *Data() const { return data_; }
  // Forgets what was collected, without handing it over.
  void Discard() { length_ = 0; }

 private:
  char *data_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  Sink sink_;
  void *context_;
};

}  // namespace platform_posix::console_host
