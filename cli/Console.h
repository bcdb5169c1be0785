#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Everything the tool says on stderr: failures, notes, and on a terminal one
// progress line that redraws itself (files done and total, the running
// file's percent, the time spent and the time left). Without a terminal no
// control code is written. Any thread; one lock keeps lines whole.
namespace cli {

// The share of one file's work done, 0..1, from the resize's progress
// reports. Used by one job's thread.
class CFileProgress {
 public:
  explicit CFileProgress(bool reduction) : m_reduction(reduction) {}
  // A report of the resize: the engine's stage 2..14 (0 keeps the current
  // one) and its value 0..255. Returns the share of the resize done; never falls.
  double Report(int stage, int value);

 private:
  bool m_reduction;
  bool m_engineSeen = false;
  double m_done = 0.0;
};

class CConsole {
 public:
  // verbosity: 0 failures only, 1 notes too, 2 details too. progressLine:
  // draw the redrawn line (stderr is a terminal and not quiet).
  CConsole(int verbosity, bool progressLine);

  void Failure(const std::string& text);
  void Note(const std::string& text);
  void Detail(const std::string& text);
  // The last line, whatever the verbosity but quiet.
  void Summary(const std::string& text);

  // Progress: the batch's files and their weights (bytes of each source).
  void Start(int files, uint64_t totalWeight);
  // A file's job has begun, has moved on, has ended; slot is its job's number.
  void Begin(int slot, const std::string& name, uint64_t weight);
  void Progress(int slot, double share);
  void End(int slot);
  // Draws the line again (the main thread calls it a few times a second).
  void Redraw();
  // Takes the line away for good.
  void ClearLine();

  // "1:05" or "1:02:03".
  static std::string Clock(std::chrono::seconds seconds);
  // text with its control bytes and backslashes escaped as GNU ls -b does
  // (\n, \033 ...), so that no name retitles the terminal or splits a line.
  static std::string Escaped(std::string_view text);

 private:
  struct Running {
    int slot;
    std::string name;
    uint64_t weight;
    double share;
  };
  void WriteLine(const std::string& text);  // with m_mutex held
  void Erase();                             // with m_mutex held
  void Draw();                              // with m_mutex held

  const int m_verbosity;
  const bool m_progressLine;
  std::mutex m_mutex;
  bool m_drawn = false;
  int m_files = 0;
  int m_done = 0;
  uint64_t m_totalWeight = 0;
  uint64_t m_doneWeight = 0;
  std::vector<Running> m_running;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace cli
