#include "textio/write_text.h"

#include <string>
#include <vector>

#include "tests/textio/test_files.h"

namespace {

// An output stream that records each hand-over of its buffer.
struct RecordingOutput {
  static inline std::vector<std::string> pieces;
  static inline int flushes = 0;
  static void Transfer(TextStream &s) {
    pieces.emplace_back(reinterpret_cast<const char *>(s.bufPtr), static_cast<size_t>(s.bufPos));
    s.bufPos = 0;
  }
  static void Flush(TextStream &s) {
    ++flushes;
    Transfer(s);
  }
  static TextStream Open(bool withFlush) {
    pieces.clear();
    flushes = 0;
    TextStream s;
    BindStream(s, StringFrom(""));
    s.mode = ModeOutput;
    s.transferProc = Transfer;
    s.flushProc = withFlush ? Flush : nullptr;
    return s;
  }
  static std::string Buffered(const TextStream &s) {
    return std::string(reinterpret_cast<const char *>(s.bufPtr), static_cast<size_t>(s.bufPos));
  }
};

struct FieldCase {
  int32_t width;
  int32_t value;
  const char *text;
};

TEST(WriteIntegerTest, FieldWidths) {
  const FieldCase cases[] = {
      {6, 5, "     5"},
      {6, -2, "    -2"},
      {6, 1234567, "1234567"},
      {6, -1000000, "-1000000"},
      {6, 123456, "123456"},
      {0, 12, "12"},
      {-5, 7, "7"},
      {0, 0, "0"},
      {0, INT32_MIN, "-2147483648"},
      {12, INT32_MIN, " -2147483648"},
      {0, INT32_MAX, "2147483647"},
      {1, -9, "-9"},
  };
  for (const FieldCase &c : cases) {
    ioStatus = 0;
    TextStream s = RecordingOutput::Open(false);
    WriteInteger(c.width, s, c.value);
    EXPECT_EQ(RecordingOutput::Buffered(s), c.text) << c.width << " " << c.value;
  }
}

TEST(WriteStringTest, WidthPadsButNeverCuts) {
  const struct {
    int32_t width;
    const char *text;
    const char *out;
  } cases[] = {{5, "ab", "   ab"}, {2, "abc", "abc"}, {-3, "ab", "ab"}, {0, "", ""}, {3, "", "   "}};
  for (const auto &c : cases) {
    ioStatus = 0;
    TextStream s = RecordingOutput::Open(false);
    WriteString(c.width, s, StringFrom(c.text));
    EXPECT_EQ(RecordingOutput::Buffered(s), c.out);
  }
}

TEST(FormatIntegerTest, WidthAndMaximumLength) {
  const struct {
    int32_t value, width, maxLength;
    const char *text;
  } cases[] = {
      {42, -1, 255, "42"},
      {42, 5, 255, "   42"},
      {-42, 5, 255, "  -42"},
      {123456, -1, 3, "123"},
      {INT32_MIN, -1, 4, "-214"},
      {7, 300, 255, nullptr},
      {-1, -1, 10, "-1"},
      {1000000000, -1, 10, "1000000000"},
      {5, 3, 2, "  "},
  };
  for (const auto &c : cases) {
    ShortString got = FormatInteger(c.value, c.width, c.maxLength);
    if (c.text == nullptr) {  // wider than a string: the widest field
      EXPECT_EQ(got.length, 255);
      EXPECT_EQ(got.text[254], '7');
      EXPECT_EQ(got.text[0], ' ');
    } else {
      EXPECT_EQ(StringView(got), c.text);
    }
  }
}

struct BoundaryCase {
  const char *name;
  int32_t before;  // bytes already waiting
  int32_t spaces;
  int32_t bytes;
  std::vector<int32_t> handedOver;  // sizes of the pieces emptied
  int32_t left;
};

void PrintTo(const BoundaryCase &c, std::ostream *os) { *os << c.name; }

class BufferBoundaryTest : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(BufferBoundaryTest, EmptiesOnlyWhenMoreRoomIsNeeded) {
  const BoundaryCase &c = GetParam();
  ioStatus = 0;
  TextStream s = RecordingOutput::Open(false);
  WriteSpaces(s, c.before);
  std::string text(static_cast<size_t>(c.bytes), 'x');
  WriteSpaces(s, c.spaces);
  WriteBytes(s, text.data(), c.bytes);
  std::vector<int32_t> sizes;
  std::string all;
  for (const std::string &p : RecordingOutput::pieces) {
    sizes.push_back(static_cast<int32_t>(p.size()));
    all += p;
  }
  all += RecordingOutput::Buffered(s);
  EXPECT_EQ(sizes, c.handedOver);
  EXPECT_EQ(s.bufPos, c.left);
  EXPECT_EQ(all, std::string(static_cast<size_t>(c.before + c.spaces), ' ') + text);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferBoundaryTest,
                         ::testing::Values(BoundaryCase{"Bytes255", 0, 0, 255, {}, 255},
                                           BoundaryCase{"Bytes256StaysFull", 0, 0, 256, {}, 256},
                                           BoundaryCase{"Bytes257", 0, 0, 257, {256}, 1},
                                           BoundaryCase{"Bytes600", 0, 0, 600, {256, 256}, 88},
                                           BoundaryCase{"Spaces300", 0, 300, 1, {256}, 45},
                                           BoundaryCase{"FullThenOneMore", 256, 0, 1, {256}, 1},
                                           BoundaryCase{"LineEndAcrossTheEdge", 255, 0, 2, {256}, 1}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(WriteStatementTest, EndsHandOverOnlyThroughTheFlushProc) {
  ioStatus = 0;
  TextStream con = RecordingOutput::Open(true);
  WriteString(0, con, StringFrom("A fajlban "));
  WriteInteger(0, con, 8);
  WriteString(0, con, StringFrom(" szam volt."));
  EXPECT_TRUE(RecordingOutput::pieces.empty());
  WriteLineEnd(con);
  ASSERT_EQ(RecordingOutput::pieces.size(), 1u);
  EXPECT_EQ(RecordingOutput::pieces[0], "A fajlban 8 szam volt.\r\n");
  WriteString(0, con, StringFrom("x"));
  EndWrite(con);
  EXPECT_EQ(RecordingOutput::flushes, 2);
  EXPECT_EQ(RecordingOutput::pieces.back(), "x");

  ioStatus = 106;  // EndWrite still flushes with a pending failure; the rest do nothing
  WriteString(0, con, StringFrom("y"));
  WriteInteger(0, con, 1);
  WriteLineEnd(con);
  EXPECT_EQ(con.bufPos, 0);
  EndWrite(con);
  EXPECT_EQ(RecordingOutput::flushes, 3);
  ioStatus = 0;

  TextStream disk = RecordingOutput::Open(false);
  WriteString(0, disk, StringFrom("x"));
  WriteLineEnd(disk);
  EndWrite(disk);
  EXPECT_TRUE(RecordingOutput::pieces.empty());
  EXPECT_EQ(RecordingOutput::Buffered(disk), "x\r\n");
}

class WriteFileTest : public TextIoTest {};

TEST_F(WriteFileTest, ResultFileBytes) {
  TextStream f;
  BindTo(f, dir_.Path("r.txt"));
  OpenForWriting(f);
  for (int32_t v : {0, 12, -2}) {
    WriteInteger(0, f, v);
    WriteLineEnd(f);
  }
  EXPECT_EQ(dir_.Size("r.txt"), 0u);  // a disk file waits for its close
  CloseStream(f);
  EXPECT_EQ(ioStatus, 0);
  EXPECT_EQ(dir_.Read("r.txt"), std::string("0\r\n12\r\n-2\r\n"));
  EXPECT_EQ(dir_.Read("r.txt").size(), 11u);
}

TEST_F(WriteFileTest, Exactly256BytesWaitForTheClose) {
  TextStream f;
  BindTo(f, dir_.Path("full.txt"));
  OpenForWriting(f);
  std::string bytes(256, 'q');
  WriteBytes(f, bytes.data(), 256);
  EXPECT_EQ(dir_.Size("full.txt"), 0u);
  WriteBytes(f, "r", 1);
  EXPECT_EQ(dir_.Size("full.txt"), 256u);
  CloseStream(f);
  EXPECT_EQ(dir_.Read("full.txt"), bytes + "r");
}

TEST_F(WriteFileTest, WrongModes) {
  dir_.Write("in.txt", "1");
  TextStream f;
  BindTo(f, dir_.Path("in.txt"));
  OpenForReading(f);
  WriteString(0, f, StringFrom("x"));
  EXPECT_EQ(ioStatus, kIoNotOpenForOutput);
  ioStatus = 0;
  WriteInteger(3, f, 1);
  EXPECT_EQ(ioStatus, kIoNotOpenForOutput);
  ioStatus = 0;
  WriteLineEnd(f);
  EXPECT_EQ(ioStatus, kIoNotOpenForOutput);
  ioStatus = 0;
  CloseStream(f);
  WriteString(0, f, StringFrom("x"));
  EXPECT_EQ(ioStatus, kIoFileNotOpen);
  ioStatus = 0;
  WriteLineEnd(f);
  EXPECT_EQ(ioStatus, kIoFileNotOpen);
  ioStatus = 0;
  f.mode = 0;  // not bound
  WriteInteger(0, f, 1);
  EXPECT_EQ(ioStatus, kIoFileNotOpen);
  EXPECT_EQ(f.bufPos, 0);
}

}  // namespace
