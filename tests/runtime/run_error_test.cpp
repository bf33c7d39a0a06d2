// The run-time error pieces in-process: FormatHex, the message and its walk
// over frame records built here, the exception filter's table and limits,
// and the module table.
#include "runtime/run_error.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/frame_layout.h"
#include "platform/machine.h"
#include "platform/platform.h"
#include "runtime/core_init.h"
#include "runtime/os_faults.h"
#include "runtime/startup.h"
#include "runtime/std_streams.h"

// The program this test binary stands for: its table is set per test.
ModuleTable moduleTable = {0, 0, nullptr};
const MainRoutine mainRoutine = nullptr;

namespace {

TEST(FormatHex, DigitsAndWidths) {
  struct Case {
    uint32_t value;
    uint8_t digits;
    const char *text;
  } cases[] = {
      {0, 8, "00000000"}, {0x1A2B, 8, "00001A2B"}, {0xDEADBEEF, 8, "DEADBEEF"}, {0x12345678, 4, "5678"},
      {0xABC, 0, ""},     {0xF, 1, "F"},           {0x1, 12, "000000000001"},
  };
  for (const Case &c : cases) EXPECT_EQ(StringView(FormatHex(c.value, c.digits)), c.text) << c.value;
}

// Frames of a fictitious chain, laid out as this processor lays out its
// frames (platform/frame_layout.h), in rising addresses like a stack. The
// walk takes frames only from the stack (where its bounds are known), so
// each test keeps its frames there and hands them to Chain.
struct FakeStack {
  static constexpr int kFrames = 300;
  // Words a frame takes, and those below its address: room for the link
  // of every layout.
  static constexpr std::size_t kSpan = 20, kBelow = 4;
  uintptr_t words[kFrames * kSpan];

  FrameRef Ref(int i) const { return reinterpret_cast<FrameRef>(&words[static_cast<std::size_t>(i) * kSpan + kBelow]); }
  void SetOuter(int i, FrameRef outer) { Word(i, kFrameLayout.outer) = outer; }
  void SetReturn(int i, CodeAddress address) { Word(i, kFrameLayout.returnAddress) = address; }

 private:
  uintptr_t &Word(int i, intptr_t offset) {
    return *reinterpret_cast<uintptr_t *>(Ref(i) + static_cast<uintptr_t>(offset));
  }
};

class MessageTest : public ::testing::Test {
 protected:
  static constexpr int kFrames = FakeStack::kFrames;
  FakeStack *records = nullptr;
  // Named after the test: the tests of this program run side by side.
  std::string path_ =
      std::string("runtime-message-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";

  void SetUp() override {
    ioStatus = 0;
    errorNumber = 207;
    errorLocation = Code(0xABC);
  }
  void Chain(FakeStack &stack) {
    records = &stack;
    for (int i = 0; i < kFrames; ++i) {
      records->SetOuter(i, i + 1 < kFrames ? Ref(i + 1) : 0);
      records->SetReturn(i, Code(0x1000 + static_cast<uint32_t>(i)));
    }
    errorFrame = Ref(0);
  }
  void TearDown() override {
    std::remove(path_.c_str());
    errorLocation = 0;
    errorFrame = 0;
    ioStatus = 0;
  }
  FrameRef Ref(int i) const { return records->Ref(i); }
  static CodeAddress Code(uint32_t imageAddress) { return ImageAddressBias() + imageAddress; }

  // The message as PrintRunError writes it into a file, one string a line.
  std::vector<std::string> Print() {
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    BindStdStream(errorOutput, ModeOutput, file);
    PrintRunError();
    CloseHandle(file);
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> lines;
    std::string all = text.str(), line;
    for (std::size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(all.substr(at, end - at));
    return lines;
  }
};

TEST_F(MessageTest, HeaderLocationFramesAndEmptyLine) {
  FakeStack stack;
  Chain(stack);
  records->SetOuter(2, 0);  // three frames, the last one the main routine's
  std::vector<std::string> expected = {
      "Runtime error 207 at 0x00000ABC", "  0x00000ABC", "  0x00001000", "  0x00001001", "  0x00001002", ""};
  EXPECT_EQ(Print(), expected);
}

TEST_F(MessageTest, WalkStopRules) {
  struct Case {
    const char *what;
    void (*change)(FakeStack &records);
    std::size_t frameLines;
  } cases[] = {
      {"a long chain to a file stops after 257", [](FakeStack &) {}, 257},
      {"a zero return address counts without a line", [](FakeStack &r) { r.SetReturn(5, 0); }, 256},
      {"the walk ends where the next frame lies below", [](FakeStack &r) { r.SetOuter(3, r.Ref(1)); }, 4},
      {"and where it is the same frame", [](FakeStack &r) { r.SetOuter(3, r.Ref(3)); }, 4},
  };
  FakeStack stack;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Chain(stack);
    c.change(*records);
    std::vector<std::string> lines = Print();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.size(), 2 + c.frameLines + 1);
    EXPECT_EQ(lines.back(), "");
  }
}

TEST_F(MessageTest, NothingWithoutLocationOrWithPendingIoStatus) {
  FakeStack stack;
  Chain(stack);
  errorLocation = 0;
  EXPECT_TRUE(Print().empty());
  errorLocation = Code(0xABC);
  ioStatus = 101;
  EXPECT_TRUE(Print().empty());
  ioStatus = 0;
  errorFrame = 0;
  EXPECT_EQ(Print(), (std::vector<std::string>{"Runtime error 207 at 0x00000ABC", "  0x00000ABC", ""}));
}

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pendingFaults = {};
    stackSegment = StackSegmentSelector();
  }
  void TearDown() override { pendingFaults = {}; }
  LONG Filter(DWORD code, ULONG_PTR ebp = 0x7000, DWORD segSs = 0xFFFFFFFF) {
    record_ = {};
    record_.ExceptionCode = code;
    context_ = {};
    context_.Eip = 0x4321;
    context_.Ebp = ebp;
    context_.SegSs = segSs == 0xFFFFFFFF ? stackSegment : segSs;
    EXCEPTION_POINTERS pointers = {&record_, &context_};
    return OsExceptionFilter(&pointers);
  }
  EXCEPTION_RECORD record_;
  CONTEXT context_;
};

TEST_F(FilterTest, TableOfAcceptedFaults) {
  struct Case {
    DWORD code;
    uint8_t number;
    bool floating;
  } cases[] = {
      {0x80000004, 217, false}, {0xC0000005, 216, false}, {0xC0000006, 217, false}, {0xC000001D, 217, false},
      {0xC000008C, 201, false}, {0xC000008D, 216, true},  {0xC000008E, 200, true},  {0xC0000090, 207, true},
      {0xC0000091, 205, true},  {0xC0000092, 207, true},  {0xC0000093, 206, true},  {0xC0000094, 200, false},
      {0xC0000095, 215, false}, {0xC0000096, 217, false}, {0xC00000FD, 202, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    pendingFaults = {};
    ASSERT_EQ(Filter(c.code), EXCEPTION_CONTINUE_EXECUTION);
    EXPECT_EQ(context_.Eip, reinterpret_cast<uintptr_t>(&ResumeAfterFault));
    EXPECT_EQ(record_.ExceptionCode, 0u);
    ASSERT_EQ(pendingFaults.count, 1);
    EXPECT_EQ(pendingFaults.entries[0].address, 0x4321u);
    EXPECT_EQ(pendingFaults.entries[0].number, c.number);
    EXPECT_EQ(pendingFaults.entries[0].floating, c.floating);
  }
}

TEST_F(FilterTest, DeclinedFaultsLeaveEverythingAsItWas) {
  struct Case {
    const char *what;
    DWORD code;
    ULONG_PTR ebp;
    DWORD segSs;
  } cases[] = {
      {"inexact result", 0xC000008F, 0x7000, 0xFFFFFFFF},
      {"breakpoint", 0x80000003, 0x7000, 0xFFFFFFFF},
      {"misalignment", 0x80000002, 0x7000, 0xFFFFFFFF},
      {"a code of nobody's", 0xE0000001, 0x7000, 0xFFFFFFFF},
      {"frame 0", 0xC0000005, 0, 0xFFFFFFFF},
      {"a foreign stack segment", 0xC0000005, 0x7000, 0x1234},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Filter(c.code, c.ebp, c.segSs), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_EQ(context_.Eip, 0x4321u);
    EXPECT_EQ(record_.ExceptionCode, c.code);
    EXPECT_EQ(pendingFaults.count, 0);
  }
}

TEST_F(FilterTest, SixteenPendingFaultsAtMost) {
  for (int i = 0; i < kMaxPendingFaults; ++i) ASSERT_EQ(Filter(0xC0000094), EXCEPTION_CONTINUE_EXECUTION);
  EXPECT_EQ(Filter(0xC0000094), EXCEPTION_CONTINUE_SEARCH);
  EXPECT_EQ(context_.Eip, 0x4321u);
  EXPECT_EQ(pendingFaults.count, kMaxPendingFaults);
}

// The module procedures of the table below record what ran.
std::vector<std::string> calls;

TEST(ModuleTableTest, InitialisationCountsEveryEntryAndFinalisationRunsBackwards) {
  static const ModuleEntry entries[] = {
      {[] { calls.push_back("i1"); }, [] { calls.push_back("f1"); }},
      {nullptr, [] { calls.push_back("f2"); }},
      // Entering the finalisation again from inside one, as a stop there does,
      // finishes only the entries that are left.
      {[] { calls.push_back("i3"); },
       [] {
         calls.push_back("f3");
         FinalizeModules();
       }},
      {[] { calls.push_back("i4"); }, nullptr},
  };
  moduleTable = {4, 0, entries};
  calls.clear();
  InitModules();
  EXPECT_EQ(calls, (std::vector<std::string>{"i1", "i3", "i4"}));
  EXPECT_EQ(moduleTable.initialisedCount, 4);
  calls.clear();
  FinalizeModules();
  EXPECT_EQ(calls, (std::vector<std::string>{"f3", "f2", "f1"}));
  EXPECT_EQ(moduleTable.initialisedCount, 0);
  moduleTable = {0, 0, nullptr};
}

}  // namespace
