#include "textio/streams.h"

#include <algorithm>
#include <cstring>

#include "tests/textio/test_files.h"
#include "textio/file_driver.h"
#include "textio/write_text.h"

namespace {

class StreamTest : public TextIoTest {};

TEST_F(StreamTest, BindSetsTheFileDriverAndAZeroPaddedName) {
  TextStream s;
  std::memset(&s, 0x55, sizeof s);
  BindStream(s, StringFrom("E:\\a.txt"));
  EXPECT_EQ(s.handle, noHandle);
  EXPECT_EQ(s.mode, ModeClosed);
  EXPECT_EQ(s.bufSize, 256);
  EXPECT_EQ(s.bufPos, 0);
  EXPECT_EQ(s.bufEnd, 0);
  EXPECT_EQ(s.bufPtr, s.buffer);
  EXPECT_EQ(s.openProc, &FileOpenProc);
  EXPECT_EQ(s.transferProc, nullptr);
  EXPECT_EQ(s.flushProc, nullptr);
  EXPECT_EQ(s.closeProc, nullptr);
  EXPECT_STREQ(s.name, "E:\\a.txt");
  EXPECT_TRUE(std::all_of(s.name + 8, s.name + 256, [](char c) { return c == 0; }));
  ioStatus = 77;  // binding ignores a pending failure
  BindStream(s, StringFrom("b"));
  EXPECT_STREQ(s.name, "b");
  EXPECT_EQ(ioStatus, 77);
}

TEST_F(StreamTest, OpeningANeverBoundStreamFailsAndChangesNothing) {
  TextStream s = {};
  OpenForReading(s);
  EXPECT_EQ(ioStatus, kIoFileNotAssigned);
  EXPECT_EQ(s.mode, 0u);
}

struct MissingCase {
  const char *name;
  const char *path;
  uint16_t status;
};

void PrintTo(const MissingCase &c, std::ostream *os) { *os << c.name; }

class MissingFileTest : public StreamTest, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingFileTest, FailsWithTheOsCodeAndLeavesTheStreamClosed) {
  TextStream s;
  BindTo(s, dir_.Path(GetParam().path));
  OpenForReading(s);
  EXPECT_EQ(ioStatus, GetParam().status);
  EXPECT_EQ(s.mode, ModeClosed);
  EXPECT_EQ(s.closeProc, &FileCloseProc);
  EXPECT_TRUE(s.handle == noHandle || s.handle == nullptr);
  // While the status is set, a further open is skipped.
  dir_.Write("there.txt", "1");
  BindTo(s, dir_.Path("there.txt"));
  OpenForReading(s);
  EXPECT_EQ(s.mode, ModeClosed);
  EXPECT_EQ(ioStatus, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Opens, MissingFileTest,
                         ::testing::Values(MissingCase{"File", "nothere.txt", 2},
                                           MissingCase{"Folder", "nodir/nothere.txt", 3},
                                           MissingCase{"FolderTwoDeep", "no/dir/x.txt", 3}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StreamTest, AFolderCannotBeOpenedAsAFile) {
  TextStream s;
  BindTo(s, dir_.Path(""));
  OpenForReading(s);
  EXPECT_EQ(ioStatus, 5);
  EXPECT_EQ(s.mode, ModeClosed);
}

TEST_F(StreamTest, OpenForWritingTwiceWritesOutThenTruncates) {
  TextStream s;
  BindTo(s, dir_.Path("twice.txt"));
  OpenForWriting(s);
  WriteString(0, s, StringFrom("first"));
  OpenForWriting(s);  // closes the first (writing "first"), then creates anew
  ASSERT_EQ(ioStatus, 0);
  EXPECT_EQ(s.mode, ModeOutput);
  EXPECT_EQ(s.bufPos, 0);
  EXPECT_EQ(dir_.Size("twice.txt"), 0u);
  WriteString(0, s, StringFrom("second"));
  CloseStream(s);
  EXPECT_EQ(dir_.Read("twice.txt"), "second");
}

TEST_F(StreamTest, SlashesAndBackslashesNameTheSameFileAndTheNameKeepsBackslashes) {
  dir_.Write("same.txt", "9");
  std::string forward = dir_.Path("same.txt");
  std::replace(forward.begin(), forward.end(), '\\', '/');
  std::string backward = forward;
  std::replace(backward.begin(), backward.end(), '/', '\\');
  for (const std::string &name : {forward, backward}) {
    TextStream s;
    BindTo(s, name);
    OpenForReading(s);
    ASSERT_EQ(ioStatus, 0) << name;
    EXPECT_EQ(std::string(s.name), backward);
    EXPECT_FALSE(IsEndOfFile(s));
    EXPECT_EQ(s.buffer[0], '9');
    CloseStream(s);
  }
}

TEST_F(StreamTest, EmptyNameUsesTheStandardHandlesAndClosingLeavesThemOpen) {
  OsHandle savedIn = stdInputHandle, savedOut = stdOutputHandle;
  // Stand-in standard handles: a file to read and a file to write.
  dir_.Write("stdin.txt", "1");
  TextStream in, out;
  BindTo(in, dir_.Path("stdin.txt"));
  OpenForReading(in);
  BindTo(out, dir_.Path("stdout.txt"));
  OpenForWriting(out);
  ASSERT_EQ(ioStatus, 0);
  stdInputHandle = in.handle;
  stdOutputHandle = out.handle;

  TextStream r, w;
  BindStream(r, StringFrom(""));
  OpenForReading(r);
  EXPECT_EQ(r.handle, stdInputHandle);
  EXPECT_EQ(r.mode, ModeInput);
  BindStream(w, StringFrom(""));
  OpenForWriting(w);
  EXPECT_EQ(w.handle, stdOutputHandle);
  WriteString(0, w, StringFrom("through"));
  CloseStream(r);
  CloseStream(w);  // writes out, does not close
  EXPECT_EQ(ioStatus, 0);
  EXPECT_EQ(w.mode, ModeClosed);
  EXPECT_EQ(w.handle, stdOutputHandle);

  // The handles still work after both streams were closed.
  EXPECT_FALSE(IsEndOfFile(in));
  WriteString(0, out, StringFrom(" and after"));
  stdInputHandle = savedIn;
  stdOutputHandle = savedOut;
  CloseStream(in);
  CloseStream(out);
  EXPECT_EQ(dir_.Read("stdout.txt"), "through and after");
}

TEST_F(StreamTest, EndOfFileTests) {
  dir_.Write("empty.txt", "");
  dir_.Write("marker.txt",
             "\x1A"
             "5\r\n");
  TextStream s;
  BindTo(s, dir_.Path("empty.txt"));
  OpenForReading(s);
  EXPECT_TRUE(IsEndOfFile(s));
  EXPECT_EQ(ioStatus, 0);
  CloseStream(s);

  BindTo(s, dir_.Path("marker.txt"));
  OpenForReading(s);
  EXPECT_TRUE(IsEndOfFile(s));
  EXPECT_TRUE(IsEndOfFile(s));  // the marker is not consumed
  EXPECT_EQ(s.bufPos, 0);
  EXPECT_EQ(s.bufEnd, 4);
  CloseStream(s);
  EXPECT_EQ(s.mode, ModeClosed);

  EXPECT_TRUE(IsEndOfFile(s));  // closed
  EXPECT_EQ(ioStatus, kIoFileNotOpen);
  ioStatus = 0;

  BindTo(s, dir_.Path("out.txt"));
  OpenForWriting(s);
  EXPECT_TRUE(IsEndOfFile(s));
  EXPECT_EQ(ioStatus, kIoNotOpenForInput);
  ioStatus = 0;
  CloseStream(s);
}

TEST_F(StreamTest, CloseRules) {
  TextStream s;
  BindTo(s, dir_.Path("close.txt"));
  CloseStream(s);  // closed, not open
  EXPECT_EQ(ioStatus, kIoFileNotOpen);
  ioStatus = 0;

  OpenForWriting(s);
  WriteString(0, s, StringFrom("kept"));
  ioStatus = 160;  // pending failure: close does nothing at all
  CloseStream(s);
  EXPECT_EQ(s.mode, ModeOutput);
  EXPECT_EQ(s.bufPos, 4);
  EXPECT_EQ(dir_.Size("close.txt"), 0u);
  ioStatus = 0;
  CloseStream(s);
  EXPECT_EQ(dir_.Read("close.txt"), "kept");
  EXPECT_EQ(s.mode, ModeClosed);
  EXPECT_EQ(s.handle, noHandle);
  EXPECT_EQ(s.openProc, &FileOpenProc);  // slots and name stay: it opens again unbound
  OpenForReading(s);
  EXPECT_EQ(ioStatus, 0);
  EXPECT_EQ(s.mode, ModeInput);
  CloseStream(s);

  s.mode = ModeInOut;  // in-out counts as not open
  CloseStream(s);
  EXPECT_EQ(ioStatus, kIoFileNotOpen);
}

TEST_F(StreamTest, TwoOpensOfOneFileConflict) {
  dir_.Write("shared.txt", "1\r\n");
  TextStream a, b;
  BindTo(a, dir_.Path("shared.txt"));
  OpenForReading(a);
  ASSERT_EQ(ioStatus, 0);
  BindTo(b, dir_.Path("shared.txt"));
  OpenForWriting(b);
  EXPECT_EQ(ioStatus, 5);
  EXPECT_EQ(b.mode, ModeClosed);
  ioStatus = 0;
  // The refused writer did not truncate the file.
  EXPECT_FALSE(IsEndOfFile(a));
  EXPECT_EQ(a.bufEnd, 3);
  CloseStream(a);
  OpenForWriting(b);  // the lock went with the close
  EXPECT_EQ(ioStatus, 0);
  CloseStream(b);
}

TEST_F(StreamTest, MapOsErrorTable) {
  const struct {
    uint32_t os;
    uint16_t status;
  } rows[] = {{2, 2},    {3, 3},    {5, 5},    {6, 6},  {18, 18}, {19, 150},  {21, 152},
              {29, 160}, {30, 161}, {31, 162}, {32, 5}, {33, 33}, {112, 112}, {0x10070, 0x70}};
  for (const auto &row : rows) {
    ioStatus = 1;
    lastOsError = row.os;
    MapOsError();
    EXPECT_EQ(ioStatus, row.status) << row.os;
    EXPECT_EQ(lastOsError, 0u);
  }
}

}  // namespace
