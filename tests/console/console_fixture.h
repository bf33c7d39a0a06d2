// Runs the console module against an in-memory console of a chosen size.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "console/console_screen.h"
#include "platform/posix/console_host/control.h"
#include "runtime/std_streams.h"
#include "textio/streams.h"
#include "textio/write_text.h"

class ConsoleTest : public ::testing::Test {
 protected:
  // A console of columns x rows whose cells hold `fill`, the cursor at
  // (x, y) and the current attribute `attr`; then the module initialises.
  void Start(int columns, int rows, WORD attr = 0x07, COORD cursor = {0, 0}, char fill = '.') {
    ioStatus = 0;
    keyboardState = {};
    console_ = std::make_unique<platform_posix::MemoryConsole>(columns, rows);
    console_->Fill(static_cast<unsigned char>(fill), 0x4F);
    console_->SetAttributes(attr);
    console_->SetCursor(cursor);
    platform_posix::InstallMemoryConsole(*console_);
    InitConsole();
    ASSERT_EQ(ioStatus, 0);
  }
  void TearDown() override {
    if (console_) platform_posix::RemoveMemoryConsole();
    ioStatus = 0;
  }

  // One write statement on stdOutput that does not end the line.
  void Write(const std::string &text) {
    WriteString(0, stdOutput, StringFrom(text));
    EndWrite(stdOutput);
  }
  void WriteLine(const std::string &text) {
    WriteString(0, stdOutput, StringFrom(text));
    WriteLineEnd(stdOutput);
  }
  std::string Row(int y) const { return console_->RowText(y); }
  // Row y without trailing fill characters.
  std::string Text(int y, char fill = '.') const {
    std::string r = Row(y);
    return r.substr(0, r.find_last_not_of(fill) + 1);
  }
  COORD Cursor() const { return console_->Cursor(); }

  std::unique_ptr<platform_posix::MemoryConsole> console_;
};
