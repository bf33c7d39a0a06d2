// Arbitrary bytes as a grade file, read with the grade program's loop
// through the real file driver and kernel32 layer, while ReadFile hands out
// short pieces and may fail part way. Every value and the way the loop ends
// must be what the plain model of the accepted syntax gives.
//
// Input: byte 0 chooses how ReadFile cuts the data (bits 0-1) and whether
// and how it fails (bits 2-4), bytes 1-2 seed the piece sizes, bytes 3-4
// place the failure; the rest is the file.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/reference.h"
#include "platform/platform.h"
#include "textio/read_integer.h"
#include "textio/streams.h"

extern "C" BOOL __real_ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

namespace {

// How ReadFile behaves for the file under test.
struct ReadPlan {
  HANDLE handle = nullptr;
  int mode = 0;
  uint32_t random = 1;
  std::size_t position = 0;  // bytes handed out so far
  std::size_t failAt = std::string_view::npos;
  DWORD osError = 0;
} plan;

uint32_t NextRandom() {  // xorshift32
  uint32_t x = plan.random;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return plan.random = x;
}

DWORD PieceSize(DWORD wanted) {
  if (wanted <= 1) return wanted;
  switch (plan.mode) {
    case 0: return wanted;
    case 1: return 1 + NextRandom() % wanted;
    case 2: return 1;
    default: {
      const DWORD sizes[] = {1, 2, wanted - 1, wanted};
      return sizes[NextRandom() % 4];
    }
  }
}

}  // namespace

extern "C" BOOL __wrap_ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
  if (h != plan.handle) return __real_ReadFile(h, buffer, count, done, overlapped);
  if (plan.position >= plan.failAt) {
    if (done != nullptr) *done = 0;
    SetLastError(plan.osError);
    return FALSE;
  }
  DWORD piece = PieceSize(count);
  if (plan.failAt != std::string_view::npos && plan.position + piece > plan.failAt)
    piece = static_cast<DWORD>(plan.failAt - plan.position);
  const BOOL ok = __real_ReadFile(h, buffer, piece, done, overlapped);
  if (ok && done != nullptr) plan.position += *done;
  return ok;
}

namespace {

// In memory where there is a tmpfs: the file is rewritten for every input.
std::string ScratchFile() {
  char shm[] = "/dev/shm/grades-read-fuzz-XXXXXX";
  char tmp[] = "/tmp/grades-read-fuzz-XXXXXX";
  const char *folder = mkdtemp(shm);
  if (folder == nullptr) folder = mkdtemp(tmp);
  if (folder == nullptr) abort();
  static std::string made;
  made = folder;
  atexit([] {
    unlink((made + "/egeszek.txt").c_str());
    rmdir(made.c_str());
  });
  return made + "/egeszek.txt";
}

void StoreFile(const std::string &path, const uint8_t *data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) abort();
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) abort();
    done += static_cast<size_t>(n);
  }
  close(fd);
}

// The grade program's loop, with the I/O check after the end-of-file test
// and after each number with its line end; the first failure ends it.
reference::Outcome ReadLikeTheProgram(const std::string &path) {
  static TextStream stream;
  reference::Outcome out;
  ioStatus = 0;
  BindStream(stream, StringFrom(path));
  OpenForReading(stream);
  // The file was written and closed just before: on a busy machine the
  // kernel may still count that writer for a moment, and the open take it
  // for another program's (a sharing violation, 5). Not the loop's doing.
  for (int tries = 0; ioStatus == 5 && tries < 20; ++tries) {
    usleep(1000);
    ioStatus = 0;
    BindStream(stream, StringFrom(path));
    OpenForReading(stream);
  }
  if (ioStatus != 0) {
    fprintf(stderr, "cannot open %s: %u\n", path.c_str(), ioStatus);
    abort();
  }
  plan.handle = stream.handle;
  for (;;) {
    const bool atEnd = IsEndOfFile(stream);
    if (ioStatus != 0) break;
    if (atEnd) break;
    const int32_t value = ReadInteger(stream);
    ReadLineEnd(stream);
    if (ioStatus != 0) break;
    out.values.push_back(value);
  }
  out.status = ioStatus;
  ioStatus = 0;
  CloseStream(stream);
  if (ioStatus != 0) abort();
  plan.handle = nullptr;
  return out;
}

void Report(const char *what, const reference::Outcome &o) {
  fprintf(stderr, "%s: status %u, %zu values:", what, o.status, o.values.size());
  for (size_t i = 0; i < o.values.size() && i < 20; ++i) fprintf(stderr, " %d", o.values[i]);
  fprintf(stderr, "\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  static const std::string path = ScratchFile();
  if (size < 5) return 0;
  static constexpr DWORD kErrors[] = {ERROR_READ_FAULT, ERROR_ACCESS_DENIED, ERROR_BROKEN_PIPE, ERROR_GEN_FAILURE};
  const uint8_t control = bytes[0];
  const uint8_t *data = bytes + 5;
  const size_t length = size - 5;

  plan = ReadPlan{};
  plan.mode = control & 3;
  plan.random = 1u + (static_cast<uint32_t>(bytes[1]) << 8 | bytes[2]);
  if ((control & 4) != 0) {
    plan.failAt = (static_cast<size_t>(bytes[3]) << 8 | bytes[4]) % (length + 1);
    plan.osError = kErrors[(control >> 3) & 3];
  }
  StoreFile(path, data, length);

  const reference::Outcome got = ReadLikeTheProgram(path);
  const std::string_view file(reinterpret_cast<const char *>(data), length);
  const reference::Outcome want = reference::ReadGradeLoop(file, plan.failAt, plan.osError);
  if (!(got == want)) {
    Report("read", got);
    Report("model", want);
    abort();
  }
  return 0;
}
