// Runs a program as a child process and collects its standard output and
// how it ended.
#pragma once

#include <string>
#include <vector>

enum class OutputKind {
  kPipe,
  kFile,
  kTerminal,  // a pseudo-terminal in raw mode: a character device
};

struct ChildResult {
  bool exited = false;  // ended by an exit code (else by a signal)
  int exitCode = -1;
  int signal = 0;
  std::string output;  // standard output
  std::string errors;  // standard error
};

// `args[0]` is the program's path. Standard input is empty.
ChildResult RunChild(const std::vector<std::string> &args, OutputKind kind = OutputKind::kPipe);

// How the child ended and what it wrote, for a failing test's message.
std::string Describe(const ChildResult &result);
