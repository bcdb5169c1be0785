#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// Runs magnova-resize as a user does: its own process, its exit status, what
// it printed on each stream.
namespace clirun {

struct Run {
  int status = -1;  // exit status; -1 when it did not exit by itself
  std::string out;  // standard output
  std::string err;  // standard error
  // Lines of standard error.
  std::vector<std::string> ErrLines() const;
};

struct Launch {
  std::vector<std::string> args;
  // Runs in the child before the program starts (dropping rights, say).
  std::function<void()> beforeExec;
};

Run RunCli(const Launch& launch);

// Starts the program, calls sendWhen until it returns a signal number (0:
// not yet) and sends it; then waits for the end. latencyMs gets the time
// from the signal to the end.
Run RunCliInterrupted(const Launch& launch, const std::function<int()>& sendWhen,
                      double& latencyMs);

}  // namespace clirun
