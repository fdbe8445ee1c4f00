#include "support/RunProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

std::string BinaryPath(const std::string& name) { return std::string(TARVO_BIN_DIR) + "/" + name; }

namespace {

long NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

void Drain(int fd, std::string& into, bool& open) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    open = false;
  }
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& cwd, int timeoutMs) {
  int outPipe[2], errPipe[2];
  ProgramResult result;
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    for (const auto& [key, value] : env) setenv(key.c_str(), value.c_str(), 1);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  bool outOpen = true, errOpen = true;
  const long deadline = NowMs() + timeoutMs;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    const long left = deadline - NowMs();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) Drain(outPipe[0], result.out, outOpen);
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) Drain(errPipe[0], result.err, errOpen);
  }
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}
