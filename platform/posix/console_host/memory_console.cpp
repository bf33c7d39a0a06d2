#include "platform/posix/console_host/memory_console.h"

#include <algorithm>

#include "platform/posix/console_host/screen_buffer.h"

namespace platform_posix {
namespace {

class MemoryHost final : public console_host::ConsoleHost {
 public:
  MemoryHost(console_host::ScreenBuffer &screen, MemoryConsole &owner) : ConsoleHost(screen), owner_(owner) {}

  BOOL GetCursorInfo(CONSOLE_CURSOR_INFO *info) override {
    if (info == nullptr) return FALSE;
    *info = owner_.cursorInfo;
    return TRUE;
  }
  BOOL InputCount(DWORD *count) override {
    if (count != nullptr) *count = static_cast<DWORD>(owner_.input.size());
    return TRUE;
  }
  BOOL ReadInput(INPUT_RECORD *records, DWORD length, DWORD *read) override {
    DWORD n = 0;
    while (n < length && !owner_.input.empty()) {
      records[n++] = owner_.input.front();
      owner_.input.pop_front();
    }
    if (read != nullptr) *read = n;
    return TRUE;
  }

 protected:
  void Bell() override { ++owner_.bells; }

 private:
  MemoryConsole &owner_;
};

}  // namespace

struct MemoryConsole::Impl {
  Impl(int columns, int rows, MemoryConsole &owner) : screen(columns, rows), host(screen, owner) {}
  console_host::ScreenBuffer screen;
  MemoryHost host;
};

MemoryConsole::MemoryConsole(int columns, int rows) : impl_(new Impl(columns, rows, *this)) {}
MemoryConsole::~MemoryConsole() = default;

int MemoryConsole::Columns() const { return impl_->screen.Columns(); }
int MemoryConsole::Rows() const { return impl_->screen.Rows(); }
unsigned char MemoryConsole::CharAt(int x, int y) const { return impl_->screen.At(x, y).ch; }
WORD MemoryConsole::AttributeAt(int x, int y) const { return impl_->screen.At(x, y).attr; }

std::string MemoryConsole::RowText(int y) const {
  std::string row;
  for (int x = 0; x < Columns(); ++x) row += static_cast<char>(CharAt(x, y));
  return row;
}

void MemoryConsole::SetCell(int x, int y, unsigned char ch, WORD attr) { impl_->screen.Set(x, y, {ch, attr, -1}); }

void MemoryConsole::Fill(unsigned char ch, WORD attr) {
  for (int y = 0; y < Rows(); ++y)
    for (int x = 0; x < Columns(); ++x) SetCell(x, y, ch, attr);
}

COORD MemoryConsole::Cursor() const { return impl_->screen.cursor; }
void MemoryConsole::SetCursor(COORD position) { impl_->screen.cursor = position; }
WORD MemoryConsole::Attributes() const { return impl_->screen.attributes; }
void MemoryConsole::SetAttributes(WORD attr) { impl_->screen.attributes = attr; }

namespace console_host {
ConsoleHost &MemoryAccess::Host(MemoryConsole &console) { return console.impl_->host; }
}  // namespace console_host

}  // namespace platform_posix
