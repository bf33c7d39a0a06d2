#include "child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char chunk[4096];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) text.append(chunk, static_cast<std::size_t>(n));
    else if (n < 0 && errno == EINTR) continue;
    else break;  // end of data; a terminal whose other side closed gives EIO
  }
  return text;
}

int TempFile() {
  char name[] = "/tmp/runtime-child-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) unlink(name);
  return fd;
}

std::string ReadFromStart(int fd) {
  lseek(fd, 0, SEEK_SET);
  return ReadAll(fd);
}

}  // namespace

ChildResult RunChild(const std::vector<std::string> &args, OutputKind kind) {
  ChildResult result;
  int readEnd = -1, writeEnd = -1;
  if (kind == OutputKind::kPipe) {
    int fds[2];
    if (pipe(fds) != 0) return result;
    readEnd = fds[0];
    writeEnd = fds[1];
  } else if (kind == OutputKind::kFile) {
    writeEnd = TempFile();
    readEnd = dup(writeEnd);
  } else {
    readEnd = posix_openpt(O_RDWR | O_NOCTTY);
    if (readEnd < 0 || grantpt(readEnd) != 0 || unlockpt(readEnd) != 0) return result;
    writeEnd = open(ptsname(readEnd), O_RDWR | O_NOCTTY);
    termios raw;
    tcgetattr(writeEnd, &raw);
    cfmakeraw(&raw);
    tcsetattr(writeEnd, TCSANOW, &raw);
  }
  const int errorFile = TempFile();

  std::vector<char *> argv;
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(writeEnd, 1);
    dup2(errorFile, 2);
    close(readEnd);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(writeEnd);
  if (kind != OutputKind::kFile) result.output = ReadAll(readEnd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (kind == OutputKind::kFile) result.output = ReadFromStart(readEnd);
  close(readEnd);
  result.errors = ReadFromStart(errorFile);
  close(errorFile);
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

std::string Describe(const ChildResult &result) {
  return "exit " + std::to_string(result.exitCode) + ", signal " + std::to_string(result.signal) + "\nstdout:\n" +
         result.output + "\nstderr:\n" + result.errors;
}
