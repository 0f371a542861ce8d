// Child processes with less than the test has: files that may not grow past a limit, or none of
// root's privileges. POSIX only: the Windows builds have neither.
#pragma once

#if !defined(_WIN32)
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace norvisk_test {

// What InChild returns besides the child's own exit codes (0-255).
constexpr int kChildNotStarted = 1000;  // fork, or the limit or the user, failed
constexpr int kChildSignal = 2000;      // plus the signal that ended the child

// Runs `run`, which returns an exit code, in a child process, after `prepare` (returning false
// when it cannot do what it should). Returns the child's exit code.
template <class Prepare, class Run>
int InChild(Prepare prepare, Run run) {
  const pid_t child = fork();
  if (child == -1) return kChildNotStarted;
  if (child == 0) {
    if (!prepare()) _exit(255);
    _exit(run());
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return kChildNotStarted;
  if (WIFSIGNALED(status)) return kChildSignal + WTERMSIG(status);
  return WEXITSTATUS(status) == 255 ? kChildNotStarted : WEXITSTATUS(status);
}

// `run` where no file may grow past `bytes`. SIGXFSZ keeps its default action, which ends the
// process, as in any program that never heard of it: the writers must hold it back themselves.
template <class Run>
int UnderFileSizeLimit(rlim_t bytes, Run run) {
  return InChild(
      [bytes] {
        signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{bytes, bytes};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
      },
      run);
}

// `run` as a user without privileges: as nobody when the test runs as root (whom no mode
// stops), as the test's own user otherwise.
template <class Run>
int Unprivileged(Run run) {
  return InChild(
      [] {
        if (geteuid() != 0) return true;
        constexpr uid_t kNobody = 65534;
        constexpr gid_t kNoGroup = 65534;
        return setgroups(0, nullptr) == 0 && setgid(kNoGroup) == 0 && setuid(kNobody) == 0;
      },
      run);
}

}  // namespace norvisk_test
#endif
