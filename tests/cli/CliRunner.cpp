#include "CliRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace clirun {
namespace {

struct Child {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

Child Spawn(const Launch& launch) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) std::abort();
  Child child;
  child.pid = ::fork();
  if (child.pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    if (launch.beforeExec) launch.beforeExec();
    std::vector<char*> argv;
    static std::string program = MAGNOVA_RESIZE_PATH;
    argv.push_back(program.data());
    for (const std::string& arg : launch.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  child.out = out[0];
  child.err = err[0];
  return child;
}

// Reads what is there of both streams, waiting at most timeoutMs; false once both are closed.
bool Drain(Child& child, Run& run, int timeoutMs) {
  pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
  if (child.out < 0 && child.err < 0) return false;
  if (::poll(fds, 2, timeoutMs) <= 0) return true;
  for (int i = 0; i < 2; ++i) {
    int& fd = i == 0 ? child.out : child.err;
    if (fd < 0 || !fds[i].revents) continue;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(got));
    } else {
      ::close(fd);
      fd = -1;
    }
  }
  return child.out >= 0 || child.err >= 0;
}

void Finish(Child& child, Run& run) {
  while (Drain(child, run, 1000)) {
  }
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::vector<std::string> Run::ErrLines() const {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Run RunCli(const Launch& launch) {
  Run run;
  Child child = Spawn(launch);
  Finish(child, run);
  return run;
}

Run RunCliInterrupted(const Launch& launch, const std::function<int()>& sendWhen,
                      double& latencyMs) {
  Run run;
  Child child = Spawn(launch);
  int signal = 0;
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while ((signal = sendWhen()) == 0 && std::chrono::steady_clock::now() < bound)
    Drain(child, run, 10);
  const auto sent = std::chrono::steady_clock::now();
  ::kill(child.pid, signal != 0 ? signal : SIGKILL);
  Finish(child, run);
  latencyMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
  return run;
}

}  // namespace clirun
