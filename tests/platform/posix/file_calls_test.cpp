// The file driver on the POSIX kernel32 layer: error codes, sharing, devices,
// waits for the other end of a pipe, and how many calls reach the layer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_internal.h"
#include "tests/textio/test_files.h"
#include "textio/file_driver.h"
#include "textio/read_integer.h"
#include "textio/write_text.h"

extern "C" BOOL __real_WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern "C" BOOL __real_ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

namespace {
std::vector<DWORD> writeCalls;
std::vector<DWORD> readCalls;
}  // namespace

extern "C" BOOL __wrap_WriteFile(HANDLE h, LPCVOID b, DWORD n, LPDWORD done, LPOVERLAPPED o) {
  writeCalls.push_back(n);
  return __real_WriteFile(h, b, n, done, o);
}

extern "C" BOOL __wrap_ReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD done, LPOVERLAPPED o) {
  readCalls.push_back(n);
  return __real_ReadFile(h, b, n, done, o);
}

namespace {

class FileCallsTest : public TextIoTest {
 protected:
  void SetUp() override {
    TextIoTest::SetUp();
    writeCalls.clear();
    readCalls.clear();
  }
};

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads `h` until it ends; every call must succeed.
std::string ReadAll(HANDLE h) {
  std::string all;
  for (;;) {
    char buffer[256];
    DWORD got = 12345;
    if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
      ADD_FAILURE() << "ReadFile failed with " << GetLastError();
      return all;
    }
    if (got == 0) return all;
    all.append(buffer, got);
  }
}

TEST_F(FileCallsTest, ADiskFileSeesOneWritePer256BytesAndTheRestAtClose) {
  TextStream f;
  BindTo(f, dir_.Path("calls.txt"));
  OpenForWriting(f);
  WriteSpaces(f, 300);
  WriteString(0, f, StringFrom("x"));
  WriteLineEnd(f);
  EndWrite(f);
  EXPECT_EQ(writeCalls, std::vector<DWORD>{256});
  std::string many(700, 'y');
  WriteBytes(f, many.data(), 700);
  EXPECT_EQ(writeCalls, (std::vector<DWORD>{256, 256, 256}));
  CloseStream(f);
  EXPECT_EQ(writeCalls, (std::vector<DWORD>{256, 256, 256, 1003 - 3 * 256}));
  EXPECT_EQ(dir_.Read("calls.txt").size(), 1003u);
}

TEST_F(FileCallsTest, ClosingAnEmptyOutputStillMakesOneEmptyWrite) {
  TextStream f;
  BindTo(f, dir_.Path("empty.txt"));
  OpenForWriting(f);
  CloseStream(f);
  EXPECT_EQ(writeCalls, std::vector<DWORD>{0});
  EXPECT_EQ(ioStatus, 0);
}

TEST_F(FileCallsTest, ReadingAsksFor256BytesAFill) {
  dir_.Write("in.txt", std::string(300, '0') + "\r\n5\r\n");  // 305 bytes
  TextStream f;
  BindTo(f, dir_.Path("in.txt"));
  OpenForReading(f);
  while (!IsEndOfFile(f)) {
    ReadInteger(f);
    ReadLineEnd(f);
  }
  EXPECT_EQ(readCalls, (std::vector<DWORD>{256, 256, 256}));
  CloseStream(f);
}

TEST_F(FileCallsTest, FullDeviceGives101WhenTheBufferHeldBytes) {
  std::filesystem::create_symlink("/dev/full", dir_.Path("full.txt"));
  TextStream f;
  BindTo(f, dir_.Path("full.txt"));
  OpenForWriting(f);
  ASSERT_EQ(ioStatus, 0);
  EXPECT_EQ(f.flushProc, &FileEmptyBuffer);  // a character device is written at once
  WriteString(0, f, StringFrom("lost"));
  EndWrite(f);
  EXPECT_EQ(ioStatus, kIoDiskWriteError);
  EXPECT_EQ(f.bufPos, 0);
  ioStatus = 0;
  CloseStream(f);  // an empty buffer: nothing refused
  EXPECT_EQ(ioStatus, 0);
}

TEST_F(FileCallsTest, FullDeviceAtCloseGives101) {
  // A descriptor on /dev/full stands in for the handle of a file on a full disk.
  TextStream f;
  BindTo(f, dir_.Path("r.txt"));
  OpenForWriting(f);
  WriteString(0, f, StringFrom("1\r\n"));
  CloseHandle(f.handle);
  int fd = open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  f.handle = platform_posix::HandleFromFd(fd);
  f.flushProc = nullptr;
  CloseStream(f);
  EXPECT_EQ(ioStatus, kIoDiskWriteError);
  EXPECT_EQ(f.mode, ModeClosed);
  EXPECT_NE(fcntl(fd, F_GETFD), -1);  // a character device is never closed
  close(fd);
}

struct ErrorCase {
  const char *name;
  const char *target;  // name below the scratch folder
  bool forWriting;
  uint16_t status;
};

void PrintTo(const ErrorCase &c, std::ostream *os) { *os << c.name; }

class OpenErrorTest : public FileCallsTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(OpenErrorTest, MapsToTheDocumentedStatus) {
  dir_.Write("file.txt", "1");
  std::filesystem::create_directory(dir_.Path("dir"));
  TextStream f;
  BindTo(f, dir_.Path(GetParam().target));
  if (GetParam().forWriting) OpenForWriting(f);
  else OpenForReading(f);
  EXPECT_EQ(ioStatus, GetParam().status);
  EXPECT_EQ(f.mode, ModeClosed);
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenErrorTest,
                         ::testing::Values(ErrorCase{"MissingFile", "none.txt", false, 2},
                                           ErrorCase{"MissingFolder", "nodir/none.txt", false, 3},
                                           ErrorCase{"MissingFolderForWriting", "nodir/out.txt", true, 3},
                                           ErrorCase{"FileUsedAsFolder", "file.txt/x.txt", false, 3},
                                           ErrorCase{"FolderForReading", "dir", false, 5},
                                           ErrorCase{"FolderForWriting", "dir", true, 5}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FileCallsTest, OverlongNames) {
  TextStream f;
  BindTo(f, dir_.Path(std::string(250, 'n')));  // one component longer than the file system allows
  OpenForReading(f);
  EXPECT_EQ(ioStatus, 2);  // cut to 255 characters by the binding, so simply not there
  ioStatus = 0;
  setenv("GRADES_DRIVE_ROOT", ("/" + std::string(4094, 'r')).c_str(), 1);
  BindStream(f, StringFrom("E:\\x.txt"));
  OpenForReading(f);
  EXPECT_EQ(ioStatus, 206);
  unsetenv("GRADES_DRIVE_ROOT");
}

// ---------------------------------------------------------------------------
// Waits for the other end of a pipe.

enum class Reader { kNonBlockingPipe, kFifo };

struct LaterCase {
  const char *name;
  Reader reader;
  const char *sentLater;  // by the writer, 100 ms after the first read began; then it closes
};

void PrintTo(const LaterCase &c, std::ostream *os) { *os << c.name; }

class ReadWaitsTest : public FileCallsTest, public ::testing::WithParamInterface<LaterCase> {};

TEST_P(ReadWaitsTest, ForWhatTheWriterSendsLater) {
  const LaterCase &c = GetParam();
  HANDLE h;
  int writer = -1;
  const std::string fifo = dir_.Path("fifo");
  if (c.reader == Reader::kNonBlockingPipe) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    SetNonBlocking(ends[0]);
    h = platform_posix::HandleFromFd(ends[0]);
    writer = ends[1];
  } else {
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    h = CreateFileA(fifo.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
  }
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (writer < 0) writer = open(fifo.c_str(), O_WRONLY);
    const std::string sent = c.sentLater;
    EXPECT_EQ(write(writer, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    close(writer);
  });
  EXPECT_EQ(ReadAll(h), c.sentLater);
  other.join();
  CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadWaitsTest,
                         ::testing::Values(LaterCase{"NonBlockingPipe", Reader::kNonBlockingPipe, "5\r\n3\r\n"},
                                           LaterCase{"NonBlockingPipeClosedEmpty", Reader::kNonBlockingPipe, ""},
                                           // The first read waits for a writer, then reads until it closes.
                                           LaterCase{"FifoWithoutAWriterYet", Reader::kFifo, "5\r\n3\r\n"},
                                           LaterCase{"FifoWriterThatSendsNothing", Reader::kFifo, ""}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FileCallsTest, WriteWaitsForAFullNonBlockingPipeToDrain) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  SetNonBlocking(ends[1]);
  std::size_t filled = 0;
  char block[4096] = {};
  for (ssize_t n; (n = write(ends[1], block, sizeof block)) > 0;) filled += static_cast<std::size_t>(n);
  ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  std::string sent(3 * filled, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('a' + i % 26);

  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    char buffer[4096];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;)
      received.append(buffer, static_cast<std::size_t>(n));
  });
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(platform_posix::HandleFromFd(ends[1]), sent.data(), static_cast<DWORD>(sent.size()), &written,
                        nullptr));
  EXPECT_EQ(written, sent.size());
  close(ends[1]);  // the reader ends here also when the write gave up
  reader.join();
  EXPECT_EQ(received.substr(filled), sent);
  close(ends[0]);
}

// ---------------------------------------------------------------------------
// Share mode 0: what keeps the program out of a file in use.

enum class Holder { kNone, kOpenForReading, kOpenForWriting };

struct ShareCase {
  const char *name;
  Holder holder;  // what has the file when the stream opens it
  bool forWriting;
  uint16_t status;
};

void PrintTo(const ShareCase &c, std::ostream *os) { *os << c.name; }

class ShareModeTest : public FileCallsTest, public ::testing::WithParamInterface<ShareCase> {};

TEST_P(ShareModeTest, RefusesAFileInUseUntilItIsFree) {
  const ShareCase &c = GetParam();
  const std::string path = dir_.Path("held");
  int fd = -1;
  dir_.Write("held", "1\r\n");
  // A plain open, without any lock, as most programs make.
  if (c.holder == Holder::kOpenForReading) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (c.holder == Holder::kOpenForWriting) fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  const std::uintmax_t size = dir_.Size("held");

  TextStream f;
  BindTo(f, path);
  if (c.forWriting) OpenForWriting(f);
  else OpenForReading(f);
  EXPECT_EQ(ioStatus, c.status);
  EXPECT_EQ(dir_.Size("held"), c.status == 0 && c.forWriting ? 0u : size);  // a refused writer truncates nothing
  if (ioStatus == 0) CloseStream(f);

  ioStatus = 0;
  if (fd >= 0) close(fd);
  if (c.forWriting) OpenForWriting(f);
  else OpenForReading(f);
  EXPECT_EQ(ioStatus, 0) << "once the file is free";
  CloseStream(f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShareModeTest,
    ::testing::Values(ShareCase{"FreeForReading", Holder::kNone, false, 0},
                      ShareCase{"FreeForWriting", Holder::kNone, true, 0},
                      ShareCase{"OpenForReadingElsewhereThenRead", Holder::kOpenForReading, false, 5},
                      ShareCase{"OpenForReadingElsewhereThenWritten", Holder::kOpenForReading, true, 5},
                      ShareCase{"OpenForWritingElsewhereThenRead", Holder::kOpenForWriting, false, 5},
                      ShareCase{"OpenForWritingElsewhereThenWritten", Holder::kOpenForWriting, true, 5}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(FileCallsTest, ErrnoTable) {
  using platform_posix::ErrorFromErrno;
  using platform_posix::IoDirection;
  const struct {
    int err;
    IoDirection dir;
    DWORD code;
  } rows[] = {
      {EACCES, IoDirection::kOpen, 5},       {EPERM, IoDirection::kOpen, 5},          {EISDIR, IoDirection::kRead, 5},
      {EBADF, IoDirection::kRead, 6},        {EMFILE, IoDirection::kOpen, 4},         {ENFILE, IoDirection::kOpen, 4},
      {EROFS, IoDirection::kOpen, 19},       {ENOSPC, IoDirection::kWrite, 112},      {EIO, IoDirection::kRead, 30},
      {EIO, IoDirection::kWrite, 29},        {ENAMETOOLONG, IoDirection::kOpen, 206}, {ENOTDIR, IoDirection::kOpen, 3},
      {EINVAL, IoDirection::kOpen, 31},      {ELOOP, IoDirection::kOpen, 31},         {ETXTBSY, IoDirection::kOpen, 32},
      {EWOULDBLOCK, IoDirection::kOpen, 32},
  };
  for (const auto &row : rows) EXPECT_EQ(ErrorFromErrno(row.err, row.dir, nullptr), row.code) << row.err;
}

TEST_F(FileCallsTest, StandardHandlesAndTheirKinds) {
  int spare = dup(STDIN_FILENO);
  ASSERT_GE(spare, 0);
  int null = open("/dev/null", O_RDONLY);
  dup2(null, STDIN_FILENO);
  EXPECT_EQ(GetFileType(GetStdHandle(STD_INPUT_HANDLE)), FILE_TYPE_CHAR);
  close(STDIN_FILENO);
  EXPECT_EQ(GetStdHandle(STD_INPUT_HANDLE), nullptr);  // a closed standard handle is none
  dup2(spare, STDIN_FILENO);
  close(spare);
  close(null);
  EXPECT_EQ(GetFileType(nullptr), FILE_TYPE_UNKNOWN);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(GetFileType(platform_posix::HandleFromFd(fds[0])), FILE_TYPE_PIPE);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(FileCallsTest, CharacterDevicesAreNeverClosed) {
  TextStream f;
  BindStream(f, StringFrom("/dev/null"));
  OpenForWriting(f);
  ASSERT_EQ(ioStatus, 0);
  int fd = platform_posix::FdFromHandle(f.handle);
  CloseStream(f);
  EXPECT_NE(fcntl(fd, F_GETFD), -1);
  close(fd);
}

}  // namespace
