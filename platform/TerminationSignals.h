#pragma once

#include <functional>

// SIGTERM, SIGINT and SIGHUP (a session ending, Ctrl+C in the terminal that
// started the program) reach the UI thread as a call of onSignal, so that they
// close the window the way its close button does instead of killing the
// process under a running worker. Called once, on the UI thread, before the
// message loop runs.
namespace platform {

void RouteTerminationSignals(std::function<void()> onSignal);

}  // namespace platform
