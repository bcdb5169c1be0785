#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "cli/Console.h"
#include "cli/Inputs.h"
#include "cli/MemoryGate.h"
#include "cli/Options.h"
#include "cli/Outputs.h"

// One file of a run: decoded by the decoder process, resized by the window's
// own resize, saved by its safe save. Runs on a job thread of the run.
namespace cli {

// Time the jobs spent in each part of their work, summed over the jobs.
struct StepTimes {
  std::atomic<int64_t> decodeNs{0};
  std::atomic<int64_t> resizeNs{0};
  std::atomic<int64_t> saveNs{0};
  // Jobs whose decoder process runs: Ctrl+C waits for them to kill it.
  std::atomic<int> decoding{0};
};

// What the jobs of one run share.
struct Batch {
  const Options& options;
  CMemoryGate& gate;
  CConsole& console;
  COutputs& outputs;
  const std::atomic<bool>& stop;  // Ctrl+C or SIGTERM: every job stops at once
  int stopFd;                     // readable once stop is set
  StepTimes& times;
};

enum class FileEnd { Written, Skipped, Failed, Stopped };

struct FileOutcome {
  FileEnd end = FileEnd::Failed;
  std::string message;  // the failure's or the note's words, after the file's name
  std::string output;   // the result's path, once known
};

// slot: the job's number, for the progress line.
FileOutcome ResizeFile(const Input& input, const Batch& batch, int slot);

}  // namespace cli
