// A job-control shell in miniature, for the pseudo-terminal tests:
//
//   job_shell PROGRAM ARGS...
//
// runs the program as a job in a process group of its own, in the
// terminal's foreground, as an interactive shell does. When the job stops
// (Ctrl+Z), the shell takes the terminal back and waits for a command,
// given as a signal: SIGUSR1 is its "fg" (the job gets the terminal again
// and SIGCONT), SIGUSR2 its "bg" (SIGCONT, the terminal stays the
// shell's), SIGTERM its "exit" (the shell ends at once and leaves the
// stopped job behind, orphaned). Otherwise the shell ends as the job ended,
// with its exit code or by its signal. Unlike a real shell it does not save
// and restore the terminal's mode around a stopped job, so a test sees
// exactly what the program left.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

int main(int argc, char **argv) {
  if (argc < 2) return 64;
  // The shell changes the foreground while it is not in it.
  signal(SIGTTOU, SIG_IGN);
  // The commands, and the news of a job that ends or stops while the shell
  // has the terminal (also one that others continued meanwhile), wait until
  // the shell asks for them. SIGTERM is a command only then.
  sigset_t held, commands;
  sigemptyset(&held);
  sigaddset(&held, SIGUSR1);
  sigaddset(&held, SIGUSR2);
  sigaddset(&held, SIGCHLD);
  commands = held;
  sigaddset(&commands, SIGTERM);
  sigprocmask(SIG_BLOCK, &held, nullptr);

  const pid_t job = fork();
  if (job < 0) return 71;
  if (job == 0) {
    setpgid(0, 0);
    tcsetpgrp(STDIN_FILENO, getpid());
    signal(SIGTTOU, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  setpgid(job, job);
  tcsetpgrp(STDIN_FILENO, job);
  bool shellHasTerminal = false;  // the job stopped, or was sent on in the background
  for (;;) {
    int status = 0;
    if (!shellHasTerminal) {
      if (waitpid(job, &status, WUNTRACED) != job) return 70;
    } else {
      int sig = 0;
      sigprocmask(SIG_BLOCK, &commands, nullptr);
      sigwait(&commands, &sig);
      sigprocmask(SIG_SETMASK, &held, nullptr);
      if (sig == SIGTERM) return 0;
      if (sig == SIGUSR1 || sig == SIGUSR2) {
        if (sig == SIGUSR1) {
          tcsetpgrp(STDIN_FILENO, job);
          shellHasTerminal = false;
        }
        kill(-job, SIGCONT);
        continue;
      }
      const pid_t changed = waitpid(job, &status, WUNTRACED | WNOHANG);
      if (changed == 0) continue;
      if (changed != job) return 70;
    }
    if (WIFSTOPPED(status)) {
      tcsetpgrp(STDIN_FILENO, getpgrp());
      shellHasTerminal = true;
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
