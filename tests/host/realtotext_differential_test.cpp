// A foreign build's realtotext (under Wine, qemu-user or as it is) against
// the x86-64 tool: the same bytes on standard output, the same messages and
// the same exit status, for the tables of known texts and for 100,000
// random requests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "foreign_build.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string output, errors;
};

std::string ReadFile(const std::string &path) {
  std::string text;
  if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    std::fclose(f);
  }
  return text;
}

class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/foreign-realtotext-XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~Scratch() { fs::remove_all(root_); }
  std::string Path(const std::string &name) const { return (root_ / name).string(); }

 private:
  fs::path root_;
};

// Runs `command` with standard input from `input`.
ToolRun RunTool(const std::vector<std::string> &command, const std::string &input, const Scratch &scratch) {
  const std::string out = scratch.Path("out"), err = scratch.Path("err");
  ToolRun run;
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    if (!foreign::kWinePrefix.empty()) {
      setenv("WINEPREFIX", foreign::kWinePrefix.c_str(), 1);
      setenv("WINEDEBUG", "-all", 1);
    }
    int in = open(input.c_str(), O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char *> argv;
    for (const std::string &a : command) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.output = ReadFile(out);
  run.errors = ReadFile(err);
  return run;
}

ToolRun OnLinux(const std::string &input, const Scratch &scratch) {
  return RunTool({foreign::kLinuxBuild + "/tools/realtotext"}, input, scratch);
}
ToolRun OnForeign(const std::string &input, const Scratch &scratch) {
  return RunTool(foreign::Launched(foreign::kRealToText), input, scratch);
}

// The messages without the line-end convention of the system's text files.
std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

size_t CountLines(const std::string &text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(RealToTextBuildsAgree, KnownTables) {
  for (const char *table : {"realtotext_valid", "realtotext_mixed"}) {
    SCOPED_TRACE(table);
    Scratch scratch;
    const std::string input = std::string(REALTOTEXT_TABLES) + "/" + table + ".in";
    const std::string expected = ReadFile(std::string(REALTOTEXT_TABLES) + "/" + table + ".expected");
    ASSERT_FALSE(expected.empty());
    const ToolRun onLinux = OnLinux(input, scratch);
    const ToolRun onForeign = OnForeign(input, scratch);
    EXPECT_EQ(onLinux.output, expected);
    EXPECT_EQ(onForeign.output, onLinux.output);
    EXPECT_EQ(onForeign.status, onLinux.status);
    EXPECT_EQ(WithoutCarriageReturns(onForeign.errors), onLinux.errors);
  }
}

// Requests spread over what FormatReal tells apart: zeros, denormals,
// unnormals, infinities and NaNs, pseudo-denormals, the exponents around
// 1 and at the ends of the range; widths and decimals around their limits;
// every kind.
std::string RandomRequests(int count, uint32_t seed) {
  std::mt19937_64 random(seed);
  auto pick = [&](int low, int high) {
    return static_cast<int>(std::uniform_int_distribution<int>(low, high)(random));
  };
  std::string text;
  char line[96];
  for (int i = 0; i < count; ++i) {
    uint16_t exponent;
    switch (pick(0, 5)) {
      case 0: exponent = static_cast<uint16_t>(pick(0, 0xFFFF)); break;
      case 1: exponent = static_cast<uint16_t>(0x3FFF + pick(-70, 70)); break;
      case 2: exponent = static_cast<uint16_t>(pick(0, 3)); break;
      case 3: exponent = static_cast<uint16_t>(0x7FFF - pick(0, 3)); break;
      case 4: exponent = static_cast<uint16_t>(0x3FFF + pick(-4950, 4950)); break;
      default: exponent = static_cast<uint16_t>(0x3FFF + pick(-16, 64)); break;
    }
    if (pick(0, 1) == 1) exponent ^= 0x8000;
    uint64_t significand = random();
    switch (pick(0, 4)) {
      case 0: significand |= uint64_t{1} << 63; break;
      case 1: significand &= ~(uint64_t{1} << 63); break;
      case 2: significand = (uint64_t{1} << 63) | (significand & ~((uint64_t{1} << pick(1, 63)) - 1)); break;
      case 3: significand = pick(0, 1) == 0 ? 0 : uint64_t{1} << 63; break;
      default: break;
    }
    const int width = pick(0, 6) == 0 ? -32767 : pick(-3, 40);
    const int decimals = pick(-2, 19);
    const int kind = pick(0, 6);
    std::snprintf(line, sizeof line, "%04X:%016" PRIX64 " %d %d %d\n", exponent, significand, width, decimals, kind);
    text += line;
  }
  return text;
}

TEST(RealToTextBuildsAgree, HundredThousandRandomRequests) {
  Scratch scratch;
  const std::string input = scratch.Path("random.in");
  const std::string requests = RandomRequests(100000, 20240607);
  {
    std::FILE *f = std::fopen(input.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(requests.data(), 1, requests.size(), f);
    std::fclose(f);
  }
  const ToolRun onLinux = OnLinux(input, scratch);
  const ToolRun onForeign = OnForeign(input, scratch);
  ASSERT_EQ(onLinux.status, 0) << onLinux.errors;
  ASSERT_EQ(CountLines(onLinux.output), 100000u);
  EXPECT_EQ(onForeign.status, 0) << onForeign.errors;
  if (onForeign.output == onLinux.output) return;
  // The first request they disagree on.
  size_t at = 0, line = 0;
  while (at < onLinux.output.size() && at < onForeign.output.size() && onLinux.output[at] == onForeign.output[at]) {
    line += onLinux.output[at] == '\n';
    ++at;
  }
  size_t start = 0;
  for (size_t l = 0; l < line; ++l) start = requests.find('\n', start) + 1;
  FAIL() << "outputs differ at request " << line + 1 << ": "
         << requests.substr(start, requests.find('\n', start) - start);
}

}  // namespace
