#include "loader.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace e2e {

const char *const LOADER_REFUSED =
    "this kernel does not run 32-bit x86 programs";

Loader probe_loader(const std::string &loader, std::string *why) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) {
    *why = std::string("pipe: ") + std::strerror(errno);
    return Loader::broken;
  }
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd)
      dup2(null_fd, fd);
    char *argv[] = {const_cast<char *>(loader.c_str()),
                    const_cast<char *>("--version"), nullptr};
    execv(argv[0], argv);
    int error = errno; // the pipe carries the reason the exec failed
    (void)!write(p[1], &error, sizeof error);
    _exit(127);
  }
  close(p[1]);
  int error = 0, wstatus = 0;
  bool exec_failed = pid > 0 && read(p[0], &error, sizeof error) ==
                                    static_cast<ssize_t>(sizeof error);
  close(p[0]);
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) {
    *why = std::string("cannot start ") + loader + ": " + std::strerror(errno);
    return Loader::broken;
  }
  if (exec_failed && error == ENOEXEC)
    return Loader::refused;
  if (exec_failed)
    *why = loader + " cannot be executed: " + std::strerror(error);
  else if (WIFSIGNALED(wstatus))
    *why = loader + " --version was killed by signal " +
           std::to_string(WTERMSIG(wstatus));
  else if (WEXITSTATUS(wstatus) != 0)
    *why = loader + " --version ended with status " +
           std::to_string(WEXITSTATUS(wstatus));
  else
    return Loader::runs;
  return Loader::broken;
}

} // namespace e2e
