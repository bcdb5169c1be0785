#include "cli/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace cli {
namespace {

constexpr int kFirstStage = 2;
constexpr int kStages = 13;
// Shares of the resize: the engine's stages, then the rows turned into the result.
constexpr double kEngineShare = 0.9;

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

double CFileProgress::Report(int stage, int value) {
  const double step = std::clamp(value, 0, 255) / 256.0;
  double done = 0.0;
  if (stage > 0) {
    m_engineSeen = true;
    done = kEngineShare * (std::clamp(stage - kFirstStage, 0, kStages - 1) + step) / kStages;
  } else if (m_reduction) {
    done = step;
  } else {
    // Before the engine, the alpha's own run; after it, the result's rows.
    done = m_engineSeen ? kEngineShare + (1.0 - kEngineShare) * step : 0.0;
  }
  m_done = std::max(m_done, done);
  return m_done;
}

CConsole::CConsole(int verbosity, bool progressLine)
    : m_verbosity(verbosity), m_progressLine(progressLine && verbosity > 0) {}

std::string CConsole::Escaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char* named = c == '\\'   ? "\\\\"
                        : c == '\n' ? "\\n"
                        : c == '\t' ? "\\t"
                        : c == '\r' ? "\\r"
                        : c == '\a' ? "\\a"
                        : c == '\b' ? "\\b"
                        : c == '\f' ? "\\f"
                        : c == '\v' ? "\\v"
                                    : nullptr;
    if (named) {
      escaped += named;
    } else if (byte < 0x20 || byte == 0x7F) {
      char octal[8];
      std::snprintf(octal, sizeof octal, "\\%03o", byte);
      escaped += octal;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

void CConsole::WriteLine(const std::string& text) {
  Erase();
  std::fputs(Escaped(text).c_str(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void CConsole::Failure(const std::string& text) {
  std::lock_guard lock(m_mutex);
  WriteLine(text);
}

void CConsole::Note(const std::string& text) {
  if (m_verbosity < 1) return;
  std::lock_guard lock(m_mutex);
  WriteLine(text);
}

void CConsole::Detail(const std::string& text) {
  if (m_verbosity < 2) return;
  std::lock_guard lock(m_mutex);
  WriteLine(text);
}

void CConsole::Summary(const std::string& text) { Note(text); }

void CConsole::Start(int files, uint64_t totalWeight) {
  std::lock_guard lock(m_mutex);
  m_files = files;
  m_totalWeight = totalWeight;
  m_start = std::chrono::steady_clock::now();
}

void CConsole::Begin(int slot, const std::string& name, uint64_t weight) {
  std::lock_guard lock(m_mutex);
  m_running.push_back({slot, Escaped(name), weight, 0.0});
}

void CConsole::Progress(int slot, double share) {
  std::lock_guard lock(m_mutex);
  for (Running& r : m_running)
    if (r.slot == slot) r.share = share;
}

void CConsole::End(int slot) {
  std::lock_guard lock(m_mutex);
  const auto it = std::find_if(m_running.begin(), m_running.end(),
                               [&](const Running& r) { return r.slot == slot; });
  if (it == m_running.end()) return;
  m_doneWeight += it->weight;
  ++m_done;
  m_running.erase(it);
  Draw();
}

void CConsole::Redraw() {
  std::lock_guard lock(m_mutex);
  Draw();
}

void CConsole::ClearLine() {
  std::lock_guard lock(m_mutex);
  Erase();
}

void CConsole::Erase() {
  if (!m_drawn) return;
  std::fputs("\r\033[K", stderr);
  m_drawn = false;
}

std::string CConsole::Clock(std::chrono::seconds seconds) {
  const long long s = std::max<long long>(0, seconds.count());
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

void CConsole::Draw() {
  if (!m_progressLine || m_files == 0) return;
  const auto elapsed = std::chrono::steady_clock::now() - m_start;
  double doneWeight = static_cast<double>(m_doneWeight);
  for (const Running& r : m_running) doneWeight += r.share * static_cast<double>(r.weight);
  const double share = m_totalWeight ? doneWeight / static_cast<double>(m_totalWeight) : 0.0;
  // Appended piece by piece: GCC 12 at -O3 warns of overlap inside
  // operator+ on a temporary string, a false positive.
  std::string line = "[";
  line += std::to_string(m_done);
  line += "/";
  line += std::to_string(m_files);
  line += "]";
  if (!m_running.empty()) {
    const Running& first = m_running.front();
    line += " " + first.name + " " + std::to_string(static_cast<int>(first.share * 100)) + "%";
    if (m_running.size() > 1) line += " (+" + std::to_string(m_running.size() - 1) + ")";
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed);
  line += "  " + Clock(seconds) + " elapsed";
  if (share > 0.01) {
    const double left = std::chrono::duration<double>(elapsed).count() * (1.0 - share) / share;
    line += ", " + Clock(std::chrono::seconds(static_cast<long long>(left + 0.5))) + " left";
  }
  // A line longer than the terminal would wrap, and the next redraw would
  // leave the wrapped part behind: it is cut at the terminal's width.
  const size_t width = static_cast<size_t>(std::max(10, TerminalWidth() - 1));
  if (line.size() > width) line = line.substr(0, width);
  std::fputs("\r\033[K", stderr);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  m_drawn = true;
}

}  // namespace cli
