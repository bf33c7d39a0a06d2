// The message-box streams of a windowed program: when the shared text is
// shown, what of it, and that stdError and errorOutput fill one text. The
// system's message box is replaced by a double that records its calls.
#include "runtime/message_box_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/std_streams.h"
#include "textio/streams.h"
#include "textio/write_text.h"

namespace {

struct Box {
  std::string text, caption;
  UINT type;
  bool owned;
  bool operator==(const Box &) const = default;
};

std::vector<Box> boxes;

int WINAPI Record(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  boxes.push_back({text, caption, type, owner != nullptr});
  return IDOK;
}

Box Shown(const std::string &text) { return {text, "Error", MB_OK, false}; }

// One write statement on a stream; "|" in `text` ends it (the stream is
// written out there).
void Write(TextStream &stream, const std::string &text) {
  std::string piece;
  for (char c : text + "|") {
    if (c != '|') {
      piece += c;
      continue;
    }
    WriteBytes(stream, piece.data(), static_cast<int32_t>(piece.size()));
    EndWrite(stream);
    piece.clear();
  }
}

class MessageBoxStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = messageBoxProc;
    messageBoxProc = Record;
    // A windowed program without standard handles, as Windows starts one.
    handles_[0] = stdInputHandle, handles_[1] = stdOutputHandle, handles_[2] = stdErrorHandle;
    stdInputHandle = stdOutputHandle = stdErrorHandle = nullptr;
    boxes.clear();
    messageBoxText.length = 0;
    ioStatus = 0;
    BindMessageStream(stdError);
    BindMessageStream(errorOutput);
  }
  void TearDown() override {
    messageBoxProc = previous_;
    stdInputHandle = handles_[0], stdOutputHandle = handles_[1], stdErrorHandle = handles_[2];
    BindStream(stdError, ShortString{});
    BindStream(errorOutput, ShortString{});
  }

 private:
  MessageBoxProc previous_ = nullptr;
  OsHandle handles_[3] = {};
};

TEST_F(MessageBoxStreamTest, AParagraphsEndOrAFullTextIsShown) {
  const std::string k1000(1000, 'a'), k30(30, 'b');
  struct Case {
    const char *name;
    std::string written;  // on stdError, "|" between write statements
    std::vector<std::string> shown;
    int held;  // characters left in the shared text
  };
  const std::vector<Case> cases = {
      {"one line end is no paragraph", "hello\r\n", {}, 7},
      {"two line-end characters are not enough", "hello\n|\n", {}, 7},
      {"three are", "hello\r\n|\r", {"hello\r\n\r"}, 0},
      {"a message's empty last line", "Runtime error 2\r\n|\r\n", {"Runtime error 2\r\n\r\n"}, 0},
      {"three characters alone are too few", "\r\n\r", {}, 3},
      {"the 1024th character shows it", k1000 + "|" + k30, {k1000 + k30.substr(0, 24)}, 0},
      {"what does not fit is dropped", k1000 + "|" + k30 + "\r\n\r\n|x", {k1000 + k30.substr(0, 24)}, 1},
  };
  for (const Case &c : cases) {
    boxes.clear();
    messageBoxText.length = 0;
    Write(stdError, c.written);
    std::vector<Box> want;
    for (const std::string &text : c.shown) want.push_back(Shown(text));
    EXPECT_EQ(boxes, want) << c.name;
    EXPECT_EQ(messageBoxText.length, c.held) << c.name;
    EXPECT_EQ(ioStatus, 0) << c.name;
  }
}

TEST_F(MessageBoxStreamTest, BothStreamsFillOneTextAndTheCloseShowsWhatIsLeft) {
  Write(stdError, "hello\r\n");
  Write(errorOutput, "Runtime error 2 at 0x00401000\r\n");
  EXPECT_EQ(boxes, std::vector<Box>{});
  Write(errorOutput, "\r\n");
  EXPECT_EQ(boxes, std::vector<Box>{Shown("hello\r\nRuntime error 2 at 0x00401000\r\n\r\n")});

  boxes.clear();
  Write(stdError, "bye");
  CloseStream(stdError);
  EXPECT_EQ(boxes, std::vector<Box>{Shown("bye")});
  CloseStream(errorOutput);  // nothing left: no empty box
  EXPECT_EQ(boxes.size(), 1u);
}

}  // namespace
