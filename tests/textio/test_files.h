// Scratch files for text-layer tests, and a fixture that starts every test
// with a clear I/O status.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "textio/streams.h"

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  std::string Path(const std::string &name) const;
  void Write(const std::string &name, const std::string &bytes) const;
  std::string Read(const std::string &name) const;
  // The size of a file, also while a stream holds it open: Windows lets
  // nobody else read a file opened without sharing.
  std::uintmax_t Size(const std::string &name) const;
  bool Exists(const std::string &name) const;

 private:
  std::filesystem::path root_;
};

// Binds `stream` to `path` (as a length-prefixed name).
void BindTo(TextStream &stream, const std::string &path);

class TextIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ioStatus = 0;
    lastOsError = 0;
  }
  void TearDown() override { ioStatus = 0; }
  ScratchDir dir_;
};
