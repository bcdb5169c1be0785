#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

// The handler may only write to a descriptor; the UI thread reads it.
int g_signalWriteFd = -1;

void OnTerminationSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_signalWriteFd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

void RouteTerminationSignals(std::function<void()> onSignal) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return;
  g_signalWriteFd = fds[1];

  auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                   [readFd = fds[0], onSignal = std::move(onSignal)] {
                     char drained[16];
                     while (::read(readFd, drained, sizeof drained) > 0) {
                     }
                     onSignal();
                   });

  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace platform
