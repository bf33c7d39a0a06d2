#include "textio/read_integer.h"

#include <vector>

#include "tests/textio/test_files.h"

namespace {

struct LoopOutcome {
  std::vector<int32_t> numbers;
  uint16_t status = 0;  // the code the I/O check would have found, 0 for a normal end
};

// The grade program's reading loop, with ioStatus looked at after every
// statement as the I/O check does.
LoopOutcome ReadAll(const std::string &path) {
  LoopOutcome out;
  TextStream file;
  BindTo(file, path);
  OpenForReading(file);
  if ((out.status = ioStatus) != 0) return out;
  for (;;) {
    bool atEnd = IsEndOfFile(file);
    if ((out.status = ioStatus) != 0) break;
    if (atEnd) break;
    int32_t value = ReadInteger(file);
    ReadLineEnd(file);
    if ((out.status = ioStatus) != 0) break;
    out.numbers.push_back(value);
  }
  ioStatus = 0;
  CloseStream(file);
  EXPECT_EQ(ioStatus, 0);
  return out;
}

struct LoopCase {
  const char *name;
  std::string content;
  std::vector<int32_t> numbers;
  uint16_t status;
};

void PrintTo(const LoopCase &c, std::ostream *os) { *os << c.name; }

class GradeLoopTest : public TextIoTest, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(GradeLoopTest, ReadsExactlyTheAcceptedNumbers) {
  const LoopCase &c = GetParam();
  dir_.Write("grades.txt", c.content);
  LoopOutcome got = ReadAll(dir_.Path("grades.txt"));
  EXPECT_EQ(got.numbers, c.numbers);
  EXPECT_EQ(got.status, c.status);
}

const std::string kEof = "\x1A";

INSTANTIATE_TEST_SUITE_P(
    FileContents, GradeLoopTest,
    ::testing::Values(
        LoopCase{"EmptyFile", "", {}, 0}, LoopCase{"CrLfLines", "5\r\n3\r\n", {5, 3}, 0},
        LoopCase{"LastLineWithoutLineEnd", "5\r\n3", {5, 3}, 0}, LoopCase{"LfAlone", "5\n3\n", {5, 3}, 0},
        LoopCase{"CrAlone", "5\r3\r", {5, 3}, 0}, LoopCase{"BlanksAroundNumbers", "  5  \r\n\t3\r\n", {5, 3}, 0},
        LoopCase{"RestOfLineDiscarded", "5 apples\r\n3\r\n", {5, 3}, 0},
        LoopCase{"OnlyFirstNumberOfLine", "5 6\r\n", {5}, 0}, LoopCase{"LeadingEmptyLines", "\r\n\r\n5\r\n", {5}, 0},
        LoopCase{"EmptyLineBetween", "5\r\n\r\n3\r\n", {5, 3}, 0}, LoopCase{"EmptyLastLine", "5\r\n\r\n", {5}, 106},
        LoopCase{"BlankLastLine", "5\r\n \r\n", {5}, 106}, LoopCase{"OnlyABlankLine", " \r\n", {}, 106},
        LoopCase{"EofMarkerAfterLastLine", "5\r\n" + kEof, {5}, 0},
        LoopCase{"NothingReadAfterEofMarker", "5\r\n" + kEof + "3\r\n", {5}, 0},
        LoopCase{"EofMarkerInsideToken", "5" + kEof + "\r\n", {}, 106}, LoopCase{"TrailingLetter", "5x\r\n", {}, 106},
        LoopCase{"DecimalPoint", "4.0\r\n", {}, 106}, LoopCase{"Word", "abc\r\n", {}, 106},
        LoopCase{"LoneMinus", "-\r\n", {}, 106},
        LoopCase{"SignsAndPrefixes", "-2\r\n+4\r\n$A\r\n%101\r\n", {-2, 4, 10, 5}, 0},
        LoopCase{"MaxInt", "2147483647\r\n", {2147483647}, 0}, LoopCase{"MaxIntPlusOne", "2147483648\r\n", {}, 106},
        LoopCase{"MinInt", "-2147483648\r\n", {INT32_MIN}, 0}, LoopCase{"HexAllOnes", "$FFFFFFFF\r\n", {-1}, 0},
        LoopCase{"LineEndSplitAcrossFills", std::string(254, ' ') + "7\r\n8\r\n", {7, 8}, 0},
        LoopCase{"LoneCrAtFillBoundary", std::string(254, ' ') + "7\r8\r\n", {7, 8}, 0},
        LoopCase{"OverlongTokenIsCut", std::string(300, '0') + "5\r\n9\r\n", {0, 9}, 0},
        LoopCase{"TokenOf255AndMore", std::string(255, '0') + "x\r\n", {0}, 0},
        LoopCase{"GarbageInsideCutToken", std::string(254, '0') + "x1\r\n", {}, 106},
        LoopCase{"GarbageBehindCutToken", std::string(254, '0') + "1x\r\n", {1}, 0}),
    [](const auto &info) { return std::string(info.param.name); });

struct ParseCase {
  const char *text;
  int32_t value;
  int32_t errorPos;
};

TEST(ParseIntegerTest, LimitsPrefixesAndErrorPositions) {
  const ParseCase cases[] = {
      {"0", 0, 0},
      {"42", 42, 0},
      {"+42", 42, 0},
      {"-42", -42, 0},
      {"  \t7", 7, 0},  // leading blanks of other callers
      {"007", 7, 0},
      {"2147483647", 2147483647, 0},
      {"-2147483648", INT32_MIN, 0},
      {"2147483648", 0, 10},
      {"-2147483649", 0, 11},
      {"99999999999", 0, 10},
      {"$FF", 255, 0},
      {"$ff", 255, 0},
      {"$aBcD", 0xABCD, 0},
      {"$FFFFFFFF", -1, 0},
      {"$80000000", INT32_MIN, 0},
      {"-$FFFFFFFF", 1, 0},
      {"$100000000", 0, 10},
      {"$0000000000FF", 255, 0},  // leading zeros do not count against the limit
      {"$0", 0, 0},
      {"$00", 0, 0},
      {"$G", 0, 2},
      {"%101", 5, 0},
      {"%2", 0, 2},
      {"%11111111111111111111111111111111", -1, 0},
      {"%111111111111111111111111111111111", 0, 34},
      {"", 0, 1},
      {"-", 0, 2},
      {"+", 0, 2},
      {"$", 0, 2},
      {"%", 0, 2},
      {"-$", 0, 3},
      {"+-5", 0, 2},
      {"--5", 0, 2},
      {"$-5", 0, 2},
      {"1e3", 0, 2},
      {"12.5", 0, 3},
      {"4,5", 0, 2},
      {"0x10", 0, 2},
      {"&10", 0, 1},
      {"12a", 0, 3},
      {"5 ", 0, 2},
  };
  for (const ParseCase &c : cases) {
    ParseResult r = ParseInteger(StringFrom(c.text));
    EXPECT_EQ(r.value, c.value) << '"' << c.text << '"';
    EXPECT_EQ(r.errorPos, c.errorPos) << '"' << c.text << '"';
  }
}

class ReadIntegerTest : public TextIoTest {};

TEST_F(ReadIntegerTest, AtEndOfDataFailsWithoutConsumingAndLineEndIsQuiet) {
  dir_.Write("one.txt", "5");
  TextStream f;
  BindTo(f, dir_.Path("one.txt"));
  OpenForReading(f);
  EXPECT_EQ(ReadInteger(f), 5);
  ReadLineEnd(f);
  EXPECT_EQ(ioStatus, 0);
  ReadLineEnd(f);  // at the end of the data: nothing consumed, nothing set
  EXPECT_EQ(ioStatus, 0);
  EXPECT_EQ(ReadInteger(f), 0);
  EXPECT_EQ(ioStatus, kIoInvalidNumber);
  ioStatus = 0;
  CloseStream(f);
}

TEST_F(ReadIntegerTest, StopsOnTheBlankThatEndsTheNumber) {
  dir_.Write("two.txt", "12 34\r\n");
  TextStream f;
  BindTo(f, dir_.Path("two.txt"));
  OpenForReading(f);
  EXPECT_EQ(ReadInteger(f), 12);
  EXPECT_EQ(f.buffer[f.bufPos], ' ');
  EXPECT_EQ(ReadInteger(f), 34);  // without ReadLineEnd the next number of the line follows
  ReadLineEnd(f);
  EXPECT_TRUE(IsEndOfFile(f));
  EXPECT_EQ(ioStatus, 0);
  CloseStream(f);
}

TEST_F(ReadIntegerTest, WrongModesAndStickyStatus) {
  TextStream f;
  BindTo(f, dir_.Path("out.txt"));
  EXPECT_EQ(ReadInteger(f), 0);  // bound but closed
  EXPECT_EQ(ioStatus, kIoFileNotOpen);
  ioStatus = 0;
  ReadLineEnd(f);
  EXPECT_EQ(ioStatus, kIoFileNotOpen);
  ioStatus = 0;

  OpenForWriting(f);
  ASSERT_EQ(ioStatus, 0);
  EXPECT_EQ(ReadInteger(f), 0);
  EXPECT_EQ(ioStatus, kIoNotOpenForInput);
  ioStatus = 0;
  ReadLineEnd(f);
  EXPECT_EQ(ioStatus, kIoNotOpenForInput);
  ioStatus = 0;
  CloseStream(f);

  dir_.Write("in.txt", "7\r\n");
  BindTo(f, dir_.Path("in.txt"));
  OpenForReading(f);
  ioStatus = 999;  // a pending failure: nothing is read or consumed
  EXPECT_EQ(ReadInteger(f), 0);
  EXPECT_EQ(ioStatus, 999);
  ioStatus = 0;
  EXPECT_EQ(ReadInteger(f), 7);
  CloseStream(f);
}

// A stream whose refills come from a script, to watch the buffer protocol.
struct ScriptedInput {
  static inline std::vector<std::string> pieces;
  static inline size_t next = 0;
  static inline int flushes = 0;
  static void Transfer(TextStream &s) {
    s.bufPos = 0;
    s.bufEnd = 0;
    if (next < pieces.size()) {
      const std::string &p = pieces[next++];
      MoveBytes(p.data(), s.bufPtr, static_cast<int32_t>(p.size()));
      s.bufEnd = static_cast<int32_t>(p.size());
    }
  }
  static void Flush(TextStream &) { ++flushes; }
  static TextStream Open(std::vector<std::string> script) {
    pieces = std::move(script);
    next = 0;
    flushes = 0;
    TextStream s;
    BindStream(s, StringFrom(""));
    s.mode = ModeInput;
    s.transferProc = Transfer;
    s.flushProc = Flush;
    return s;
  }
};

TEST_F(ReadIntegerTest, PiecesOfAnyLengthJoinIntoOneToken) {
  TextStream s = ScriptedInput::Open({"1", "2", "3\r", "\n4", "5"});
  EXPECT_EQ(ReadInteger(s), 123);
  ReadLineEnd(s);
  EXPECT_EQ(ReadInteger(s), 45);
  EXPECT_EQ(ioStatus, 0);
  ReadLineEnd(s);  // the end of the data flushes an interactive device
  EXPECT_EQ(ScriptedInput::flushes, 1);
}

TEST_F(ReadIntegerTest, FailedRefillKeepsOsCodeOnlyBehindAValidNumber) {
  struct FailingInput {
    static void Transfer(TextStream &s) {
      s.bufPos = 0;
      s.bufEnd = 0;
      if (ScriptedInput::next++ == 0) {
        s.bufPtr[0] = '4';
        s.bufPtr[1] = '2';
        s.bufEnd = 2;
      } else {
        ioStatus = 161;  // a read fault, as MapOsError leaves it
      }
    }
  };
  TextStream s = ScriptedInput::Open({});
  s.transferProc = FailingInput::Transfer;
  EXPECT_EQ(ReadInteger(s), 42);
  EXPECT_EQ(ioStatus, 161);

  ioStatus = 0;
  ScriptedInput::next = 1;  // the very first refill fails: no digits at all
  s.bufPos = s.bufEnd = 0;
  EXPECT_EQ(ReadInteger(s), 0);
  EXPECT_EQ(ioStatus, kIoInvalidNumber);
}

}  // namespace
