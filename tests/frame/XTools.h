// The X tools' side of the real-window tests: what the display shows and
// says about its windows, keys sent to it, and bounded waits.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "../files/TestImages.h"

// The X tools' view of the display: focus, windows, their states and order.
class XQuery {
 public:
  explicit XQuery(const QProcessEnvironment& env)
      : m_prefix("DISPLAY=" + env.value("DISPLAY").toStdString() + " ") {}

  std::string Run(const std::string& command) const {
    std::string out = testimages::CommandOutput(m_prefix + command + " 2>/dev/null");
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
  void Keys(const std::string& keys) const { Run("xdotool key --delay 50 " + keys); }

  // The window that holds the keyboard focus, and its name.
  std::string FocusId() const { return Run("xdotool getwindowfocus"); }
  std::string FocusName() const { return Run("xdotool getwindowfocus getwindowname"); }
  std::string Name(const std::string& id) const { return Run("xdotool getwindowname " + id); }
  bool Viewable(const std::string& id) const {
    return Run("xwininfo -id " + id).find("Map State: IsViewable") != std::string::npos;
  }
  // Iconified as the window manager says (WM_STATE) or as it tells other
  // clients (_NET_WM_STATE).
  bool Iconic(const std::string& id) const {
    const std::string state = Run("xprop -id " + id + " WM_STATE _NET_WM_STATE");
    return state.find("window state: Iconic") != std::string::npos ||
           state.find("_NET_WM_STATE_HIDDEN") != std::string::npos;
  }
  // True when upper is stacked above lower: in the window manager's client
  // list, or among the root's children where no window manager runs.
  bool Above(const std::string& upper, const std::string& lower) const {
    std::vector<unsigned long> order;
    const std::string stacking = Run("xprop -root _NET_CLIENT_LIST_STACKING");
    if (stacking.find('#') != std::string::npos) {
      for (size_t at = stacking.find("0x"); at != std::string::npos;
           at = stacking.find("0x", at + 2))
        order.push_back(std::stoul(stacking.substr(at), nullptr, 16));
    } else {
      // xwininfo lists the root's children from the top of the stack down.
      const std::string tree = Run("xwininfo -root -children");
      for (size_t at = tree.find("\n     0x"); at != std::string::npos;
           at = tree.find("\n     0x", at + 1))
        order.insert(order.begin(), std::stoul(tree.substr(at + 6), nullptr, 16));
    }
    const auto place = [&](const std::string& id) {
      return std::find(order.begin(), order.end(), std::stoul(id)) - order.begin();
    };
    const auto upperPlace = place(upper);
    return upperPlace < static_cast<long>(order.size()) && upperPlace > place(lower);
  }

 private:
  std::string m_prefix;
};

// Polls until done holds, for at most the given time; false when it never did
// or when broken holds first (a fault that needs no more waiting).
inline bool WaitUntil(
    const std::function<bool()>& done, int milliseconds,
    const std::function<bool()>& broken = [] { return false; }) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    if (done()) return true;
    if (broken()) return false;
    QThread::msleep(100);
  }
  return done();
}

// Starts openbox on the display and waits until it has taken the screen;
// false when it did not come up.
inline bool StartWindowManager(QProcess& windowManager, const QProcessEnvironment& env,
                               const XQuery& x) {
  windowManager.setProcessEnvironment(env);
  windowManager.start("openbox", {"--sm-disable"});
  return WaitUntil(
      [&] { return x.Run("xprop -root _NET_SUPPORTING_WM_CHECK").find('#') != std::string::npos; },
      30000);
}
