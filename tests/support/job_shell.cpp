// A job-control shell in miniature, for the pseudo-terminal tests:
//
//   job_shell PROGRAM ARGS...
//
// runs the program as a job in a process group of its own, in the
// terminal's foreground, as an interactive shell does. When the job stops
// (Ctrl+Z), the shell takes the terminal back and waits; SIGUSR1 is its
// "fg": the job gets the terminal again and SIGCONT. The shell ends as the
// job ended, with its exit code or by its signal. Unlike a real shell it
// does not save and restore the terminal's mode around a stopped job, so a
// test sees exactly what the program left.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

int main(int argc, char **argv) {
  if (argc < 2) return 64;
  // The shell changes the foreground while it is not in it.
  signal(SIGTTOU, SIG_IGN);
  sigset_t fg;
  sigemptyset(&fg);
  sigaddset(&fg, SIGUSR1);
  sigprocmask(SIG_BLOCK, &fg, nullptr);

  const pid_t job = fork();
  if (job < 0) return 71;
  if (job == 0) {
    setpgid(0, 0);
    tcsetpgrp(STDIN_FILENO, getpid());
    signal(SIGTTOU, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &fg, nullptr);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  setpgid(job, job);
  tcsetpgrp(STDIN_FILENO, job);
  for (;;) {
    int status = 0;
    if (waitpid(job, &status, WUNTRACED) != job) return 70;
    if (WIFSTOPPED(status)) {
      tcsetpgrp(STDIN_FILENO, getpgrp());
      int sig = 0;
      sigwait(&fg, &sig);
      tcsetpgrp(STDIN_FILENO, job);
      kill(-job, SIGCONT);
      continue;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    const int sig = WTERMSIG(status);
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    kill(getpid(), sig);
    return 128 + sig;
  }
}
