#include "driver_launch.h"

#include <sstream>

#include "run_error_message.h"

// Set by the build: RUNTIME_DRIVER, the driver's path; RUNTIME_DRIVER_LAUNCHER,
// the words in front of it, separated by '|'; RUNTIME_DRIVER_MACHINE, the
// processor's name as the build knows it, or "windows".

unsigned DriverMachine() {
  const std::string name = RUNTIME_DRIVER_MACHINE;
  if (name == "x86_64" || name == "AMD64" || name == "amd64") return kX86_64;
  if (name == "i386" || name == "i486" || name == "i586" || name == "i686" || name == "x86") return kI686;
  if (name == "aarch64" || name == "arm64" || name == "ARM64") return kAarch64;
  if (name == "arm" || name == "armhf" || name == "armv7l") return kArm;
  if (name == "riscv64") return kRiscv64;
  if (name == "s390x") return kS390x;
  if (name == "windows") return kWindows;
  return 0;
}

ChildResult Launch(std::vector<std::string> command, OutputKind kind) {
  std::vector<std::string> launched;
  std::istringstream launcher(RUNTIME_DRIVER_LAUNCHER);
  for (std::string word; std::getline(launcher, word, '|');)
    if (!word.empty()) launched.push_back(word);
  launched.insert(launched.end(), command.begin(), command.end());
  return RunChild(launched, kind);
}

ChildResult Drive(std::vector<std::string> args, OutputKind kind) {
  args.insert(args.begin(), RUNTIME_DRIVER);
  return Launch(args, kind);
}

const std::string &MainReturnPoint() {
  static const std::string point = [] {
    Message message = ParseMessage(Drive({"null-write"}).output);
    return message.frames.size() == 2 ? message.frames[1] : std::string("?");
  }();
  return point;
}
