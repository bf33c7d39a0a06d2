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
  if (name == "windows") return kWindows;
  return 0;
}

ChildResult Drive(std::vector<std::string> args, OutputKind kind) {
  std::vector<std::string> command;
  std::istringstream launcher(RUNTIME_DRIVER_LAUNCHER);
  for (std::string word; std::getline(launcher, word, '|');)
    if (!word.empty()) command.push_back(word);
  command.push_back(RUNTIME_DRIVER);
  command.insert(command.end(), args.begin(), args.end());
  return RunChild(command, kind);
}

const std::string &MainReturnPoint() {
  static const std::string point = [] {
    Message message = ParseMessage(Drive({"null-write"}).output);
    return message.frames.size() == 2 ? message.frames[1] : std::string("?");
  }();
  return point;
}
