#include <gtest/gtest.h>

#include <string>

#include "tests/console/console_fixture.h"

namespace {

TEST_F(ConsoleTest, InitialisationTakesSizeCursorAndColoursWithoutClearing) {
  Start(40, 12, 0x1E, {5, 3});
  EXPECT_EQ(consoleScreen.screenColumns, 40);
  EXPECT_EQ(consoleScreen.screenRows, 12);
  EXPECT_EQ(consoleScreen.cursorX, 5);
  EXPECT_EQ(consoleScreen.cursorY, 3);
  EXPECT_EQ(consoleScreen.cellAttribute, 0x1E);
  EXPECT_EQ(consoleScreen.screenWindow.windowRight, 40);
  EXPECT_EQ(consoleScreen.screenWindow.windowBottom, 12);
  EXPECT_EQ(consoleScreen.windowCorner, (11 << 8) | 39);
  EXPECT_EQ(stdOutput.mode, ModeOutput);
  EXPECT_EQ(stdInput.mode, ModeInput);
  EXPECT_EQ(stdOutput.transferProc, &ConsoleWrite);
  EXPECT_EQ(stdOutput.flushProc, &ConsoleWrite);
  EXPECT_EQ(stdInput.transferProc, &ConsoleReadLine);
  EXPECT_EQ(Row(0), std::string(40, '.'));  // nothing cleared
  Write("ab");                              // output continues at the console's cursor
  EXPECT_EQ(Text(3), ".....ab");
  EXPECT_EQ(Cursor().X, 7);
  EXPECT_EQ(Cursor().Y, 3);
}

TEST_F(ConsoleTest, ClearScreenBlanksTheWholeBufferInTheStartColours) {
  for (bool nt : {true, false}) {
    for (int rows : {300, 1, 2, 3, 5, 10}) {
      Start(80, rows, 0x2A, {7, static_cast<SHORT>(rows - 1)});
      consoleScreen.isNtPlatform = nt;
      ClearScreen();
      for (int y = 0; y < rows; ++y) {
        ASSERT_EQ(Row(y), std::string(80, ' ')) << nt << " " << rows << " row " << y;
        for (int x = 0; x < 80; x += 13) ASSERT_EQ(console_->AttributeAt(x, y), 0x2A);
      }
      EXPECT_EQ(Cursor().X, 0);
      EXPECT_EQ(Cursor().Y, 0);
      Write("first");
      EXPECT_EQ(Row(0).substr(0, 6), "first ");
      TearDown();
      console_.reset();
    }
  }
}

TEST_F(ConsoleTest, ClearScreenOfAOneRowAndOneCellWindow) {
  for (bool nt : {true, false}) {
    for (int columns : {1, 2, 7}) {
      Start(columns, 1);
      consoleScreen.isNtPlatform = nt;
      ClearScreen();
      EXPECT_EQ(Row(0), std::string(static_cast<size_t>(columns), ' ')) << nt << " " << columns;
      TearDown();
      console_.reset();
    }
  }
}

TEST_F(ConsoleTest, ALineOfExactlyTheWidthWrapsAtOnce) {
  Start(10, 5);
  ClearScreen();
  WriteLine("0123456789");
  Write("x");
  EXPECT_EQ(Row(0), "0123456789");
  EXPECT_EQ(Row(1), std::string(10, ' '));  // the line end after the wrap leaves one empty row
  EXPECT_EQ(Row(2), "x         ");
  EXPECT_EQ(Cursor().X, 1);
  EXPECT_EQ(Cursor().Y, 2);
}

TEST_F(ConsoleTest, OutputPastTheBottomScrollsTheWholeBuffer) {
  Start(6, 3, 0x1F);
  ClearScreen();
  WriteLine("top");
  WriteLine("mid");
  Write("bot");
  console_->SetCell(5, 2, '#', 0x70);
  WriteLine("");
  EXPECT_EQ(Row(0), "mid   ");
  EXPECT_EQ(Row(1), "bot  #");
  EXPECT_EQ(Row(2), "      ");  // new bottom row, blank in the cell attribute
  for (int x = 0; x < 6; ++x) EXPECT_EQ(console_->AttributeAt(x, 2), 0x1F);
  EXPECT_EQ(console_->AttributeAt(5, 1), 0x70);
  EXPECT_EQ(Cursor().Y, 2);
  EXPECT_EQ(Cursor().X, 0);
}

struct ControlCase {
  const char *name;
  std::string text;
  const char *row0;
  const char *row1;
  SHORT cursorX, cursorY;
};

void PrintTo(const ControlCase &c, std::ostream *os) { *os << c.name; }

class ControlCharTest : public ConsoleTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ControlCharTest, PaintsOrMoves) {
  const ControlCase &c = GetParam();
  Start(8, 3);
  ClearScreen();
  Write(c.text);
  EXPECT_EQ(Row(0), c.row0);
  EXPECT_EQ(Row(1), c.row1);
  EXPECT_EQ(Cursor().X, c.cursorX);
  EXPECT_EQ(Cursor().Y, c.cursorY);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ControlCharTest,
    ::testing::Values(ControlCase{"BackspaceAtLeftEdge", "\b\bab", "ab      ", "        ", 2, 0},
                      ControlCase{"BackspaceDoesNotErase", "abc\bX", "abX     ", "        ", 3, 0},
                      ControlCase{"BellTakesNoCell", "a\ab", "ab      ", "        ", 2, 0},
                      ControlCase{"TabIsOneCell", "a\tb", "a\tb     ", "        ", 3, 0},
                      ControlCase{"LineFeedKeepsTheColumn", "ab\ncd", "ab      ", "  cd    ", 4, 1},
                      ControlCase{"CarriageReturnOnly", "abc\rX", "Xbc     ", "        ", 1, 0},
                      ControlCase{"EscapeAndFormFeedAreCells", "\x1b\x0c\x0b", "\x1b\x0c\x0b     ", "        ", 3, 0},
                      ControlCase{"HighBytesAndLowCodesAreCells", "\xb0\xdb\x01", "\xb0\xdb\x01     ", "        ", 3,
                                  0},
                      ControlCase{"BackspaceAfterWrap", "01234567\b", "01234567", "        ", 0, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ConsoleTest, MoveCursorIgnoresPositionsOutsideTheWindow) {
  Start(20, 10);
  MoveCursor(5, 4);
  EXPECT_EQ(Cursor().X, 4);
  EXPECT_EQ(Cursor().Y, 3);
  const uint8_t bad[][2] = {{0, 1}, {1, 0}, {21, 1}, {1, 11}, {255, 255}};
  for (const auto &p : bad) {
    MoveCursor(p[0], p[1]);
    EXPECT_EQ(Cursor().X, 4);
    EXPECT_EQ(Cursor().Y, 3);
    EXPECT_EQ(consoleScreen.cursorX, 4);
  }
  MoveCursor(20, 10);
  EXPECT_EQ(Cursor().X, 19);
  EXPECT_EQ(Cursor().Y, 9);
}

TEST_F(ConsoleTest, AStatementLongerThanTheBufferIsPaintedInPieces) {
  Start(100, 5);
  ClearScreen();
  std::string text(300, 'z');
  WriteString(0, stdOutput, StringFrom(std::string(200, 'a')));
  WriteString(0, stdOutput, StringFrom(std::string(100, 'b')));
  EndWrite(stdOutput);
  EXPECT_EQ(Row(0), std::string(100, 'a'));
  EXPECT_EQ(Row(1), std::string(100, 'a'));
  EXPECT_EQ(Row(2), std::string(100, 'b'));
  EXPECT_EQ(Cursor().Y, 3);
}

TEST_F(ConsoleTest, TextThroughAnotherHandleLandsAtTheConsoleCursor) {
  Start(20, 5);
  ClearScreen();
  Write("report");
  // The run-time error message goes to the standard output handle directly.
  TextStream direct;
  BindStream(direct, StringFrom(""));
  stdOutputHandle = GetStdHandle(STD_OUTPUT_HANDLE);
  OpenForWriting(direct);
  ASSERT_EQ(ioStatus, 0);
  WriteString(0, direct, StringFrom("MSG"));
  WriteLineEnd(direct);
  EXPECT_EQ(Text(0, ' '), "reportMSG");
  EXPECT_EQ(Cursor().Y, 1);
  // The driver's next output starts again at its own tracked position.
  Write("!");
  EXPECT_EQ(Text(0, ' '), "report!SG");
  stdOutputHandle = noHandle;
}

TEST_F(ConsoleTest, RemoveWindowLineInTheMiddle) {
  Start(3, 4);
  ClearScreen();
  Write("aaabbbcccddd");
  EXPECT_EQ(Row(3), "   ");  // the last line end scrolled once
  RemoveWindowLine(2);
  EXPECT_EQ(Row(0), "bbb");
  EXPECT_EQ(Row(1), "ddd");
  EXPECT_EQ(Row(2), "   ");
  EXPECT_EQ(Row(3), "   ");
}

TEST_F(ConsoleTest, QueriesFallBackWhenTheBufferCannotBeRead) {
  Start(10, 2);
  EXPECT_EQ(QueryScreenColumns(), 10);
  console_->screenInfoWorks = false;
  EXPECT_EQ(QueryScreenColumns(), 80);
  EXPECT_EQ(QueryScreenRows(), 25);
  EXPECT_EQ(QueryPlatformId(), 2u);
}

}  // namespace
