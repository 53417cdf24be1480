#include "common/runner.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>

namespace common {

namespace {

// How often a running child is looked at, in milliseconds.
constexpr int LOOK_INTERVAL = 1;

[[noreturn]] void exec_child(const child &c) {
  setpgid(0, 0);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ, SIG_DFL);
  // A crash is told by its signal; writing a dump would slow it down.
  rlimit no_core{0, 0};
  if (chdir(c.dir.c_str()) != 0 || setrlimit(RLIMIT_CORE, &no_core) != 0 ||
      (c.prepare && !c.prepare()))
    _exit(126);
  std::vector<char *> words;
  for (const std::string &w : c.argv)
    words.push_back(const_cast<char *>(w.c_str()));
  words.push_back(nullptr);
  execvp(words[0], words.data());
  _exit(127);
}

} // namespace

std::string program() {
  const char *p = std::getenv("MORVIDEX");
  return p != nullptr && p[0] == '/' ? p : "";
}

std::vector<std::string> wrapper() {
  const char *w = std::getenv("MORVIDEX_WRAPPER");
  std::vector<std::string> words;
  std::istringstream in(w != nullptr ? w : "");
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

std::vector<std::string> as_user(int uid) {
  if (uid == 0)
    return {};
  return {"setpriv", "--reuid=" + std::to_string(uid),
          "--regid=" + std::to_string(uid), "--clear-groups", "--"};
}

std::vector<std::string> command(const std::vector<std::string> &launcher,
                                 const std::vector<std::string> &args,
                                 const limits &l, const std::string &program) {
  std::vector<std::string> argv = wrapper();
  argv.insert(argv.end(), launcher.begin(), launcher.end());
  if (l.fsize >= 0 || l.address_space >= 0) {
    argv.push_back("prlimit");
    if (l.fsize >= 0)
      argv.push_back("--fsize=" + std::to_string(l.fsize));
    if (l.address_space >= 0)
      argv.push_back("--as=" + std::to_string(l.address_space));
    argv.push_back("--");
  }
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

pid_t start(const child &c) {
  pid_t pid = fork();
  if (pid == 0)
    exec_child(c);
  return pid;
}

bool operator==(const outcome &a, const outcome &b) {
  return std::tie(a.out, a.err, a.status, a.signal, a.killed) ==
         std::tie(b.out, b.err, b.status, b.signal, b.killed);
}

std::string ending(const outcome &o) {
  if (o.killed)
    return "ran past its time and was killed";
  if (o.signal != 0)
    return "ended by signal " + std::to_string(o.signal) + " (" +
           strsignal(o.signal) + ")";
  return "exit status " + std::to_string(o.status);
}

std::ostream &operator<<(std::ostream &os, const outcome &o) {
  return os << "stdout:\n" << o.out << "stderr:\n" << o.err << ending(o);
}

outcome wait_for(pid_t pid, int seconds,
                 const std::function<void()> &meanwhile) {
  outcome e;
  if (pid < 0)
    return e;
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int wstatus = 0;
  for (bool done = false; !done;) {
    done = waitpid(pid, &wstatus, WNOHANG) != 0;
    if (meanwhile)
      meanwhile();
    else if (!done)
      poll(nullptr, 0, LOOK_INTERVAL);
    if (!done && !e.killed && std::chrono::steady_clock::now() > deadline)
      e.killed = kill(-pid, SIGKILL) == 0;
  }
  if (WIFSIGNALED(wstatus))
    e.signal = WTERMSIG(wstatus);
  else
    e.status = WEXITSTATUS(wstatus);
  return e;
}

} // namespace common
