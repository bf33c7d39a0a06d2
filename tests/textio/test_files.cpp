#include "tests/textio/test_files.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> serial{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = fs::temp_directory_path() / ("textio-" + std::to_string(stamp) + "-" + std::to_string(serial++));
  fs::create_directories(root_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string ScratchDir::Path(const std::string &name) const { return (root_ / name).string(); }

void ScratchDir::Write(const std::string &name, const std::string &bytes) const {
  std::ofstream out(root_ / name, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ScratchDir::Read(const std::string &name) const {
  std::ifstream in(root_ / name, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::uintmax_t ScratchDir::Size(const std::string &name) const { return fs::file_size(root_ / name); }

bool ScratchDir::Exists(const std::string &name) const { return fs::exists(root_ / name); }

void BindTo(TextStream &stream, const std::string &path) { BindStream(stream, StringFrom(path)); }
