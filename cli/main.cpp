// magnova-resize: Magnova's resize for many files at once, from a terminal or
// a script. The main thread reads the command line, starts one job thread a
// slot, draws the progress line and answers Ctrl+C; the jobs do the work.
#include <FreeImage.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <vector>

#include "cli/Console.h"
#include "cli/FileJob.h"
#include "cli/Inputs.h"
#include "cli/Options.h"
#include "cli/Outputs.h"
#include "files/SaveNames.h"
#include "resize/ResizeRules.h"

namespace {

constexpr char kProgram[] = "magnova-resize";
constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;
// How long decoding jobs get to kill their decoder processes after Ctrl+C;
// the whole stop stays within a tenth of a second.
constexpr auto kStopGrace = std::chrono::milliseconds(60);
constexpr int kRedrawMs = 200;

std::atomic<bool> g_stop{false};
int g_stopPipe[2] = {-1, -1};

void OnSignal(int) {
  g_stop = true;
  const char byte = 1;
  // Nobody reads the pipe: it stays readable for every poll that watches it.
  [[maybe_unused]] const ssize_t put = ::write(g_stopPipe[1], &byte, 1);
}

bool CatchStopSignals() {
  if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // A closed terminal or a dropped connection stops the run as Ctrl+C does;
  // a reader that went away (| head) stops only what is printed.
  return ::sigaction(SIGINT, &action, nullptr) == 0 &&
         ::sigaction(SIGTERM, &action, nullptr) == 0 &&
         ::sigaction(SIGHUP, &action, nullptr) == 0 && ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

int Cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

uint64_t MemoryBudget() {
  if (const std::optional<uint64_t> available = resize::AvailableMemoryBytes()) return *available;
  return uint64_t(::sysconf(_SC_PHYS_PAGES)) * uint64_t(::sysconf(_SC_PAGESIZE));
}

std::string Gigabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / (1u << 30));
  return text;
}

std::string Seconds(int64_t nanoseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(nanoseconds) / 1e9);
  return text;
}

// The run's counts, for the last line and the exit status.
struct Counts {
  int written = 0;
  int skipped = 0;
  int failed = 0;
};

std::string CountsText(const Counts& counts, bool dryRun) {
  return std::to_string(counts.written) + (dryRun ? " would be written, " : " written, ") +
         std::to_string(counts.skipped) + " skipped, " + std::to_string(counts.failed) + " failed";
}

// The job threads and what they have done.
class CRun {
 public:
  CRun(const std::vector<cli::Input>& inputs, const cli::Batch& batch)
      : m_inputs(inputs), m_batch(batch), m_outcomes(inputs.size()) {}

  void Start(int threads) {
    for (int slot = 0; slot < threads; ++slot) m_threads.emplace_back(&CRun::Work, this, slot);
  }
  bool AllEnded() {
    std::lock_guard lock(m_mutex);
    return m_ended == m_threads.size();
  }
  void Join() {
    for (std::thread& t : m_threads) t.join();
  }
  Counts Tally() {
    std::lock_guard lock(m_mutex);
    return m_counts;
  }
  const std::vector<cli::FileOutcome>& Outcomes() const { return m_outcomes; }

 private:
  void Work(int slot) {
    for (;;) {
      const size_t index = m_next++;
      if (index >= m_inputs.size() || m_batch.stop) break;
      const cli::Input& input = m_inputs[index];
      m_batch.console.Begin(slot, std::string(files::FileNamePart(input.source)), input.bytes);
      cli::FileOutcome outcome;
      try {
        outcome = cli::ResizeFile(input, m_batch, slot);
      } catch (const std::bad_alloc&) {
        outcome = {cli::FileEnd::Failed, "out of memory", {}};
      }
      m_batch.console.End(slot);
      Tell(input, outcome);
      std::lock_guard lock(m_mutex);
      m_outcomes[index] = outcome;
      if (outcome.end == cli::FileEnd::Written) ++m_counts.written;
      if (outcome.end == cli::FileEnd::Skipped) ++m_counts.skipped;
      if (outcome.end == cli::FileEnd::Failed) ++m_counts.failed;
    }
    std::lock_guard lock(m_mutex);
    ++m_ended;
  }

  void Tell(const cli::Input& input, const cli::FileOutcome& outcome) {
    const std::string name = std::string(kProgram) + ": " + input.source + ": ";
    switch (outcome.end) {
      case cli::FileEnd::Failed:
        m_batch.console.Failure(name + outcome.message);
        break;
      case cli::FileEnd::Skipped:
        m_batch.console.Note(name + outcome.message);
        break;
      case cli::FileEnd::Written:
        if (!m_batch.options.dryRun)
          m_batch.console.Detail(name + "wrote " + outcome.output + " (" + outcome.message + ")");
        break;
      case cli::FileEnd::Stopped:
        break;
    }
  }

  const std::vector<cli::Input>& m_inputs;
  const cli::Batch& m_batch;
  std::atomic<size_t> m_next{0};
  std::vector<std::thread> m_threads;
  std::mutex m_mutex;
  size_t m_ended = 0;
  Counts m_counts;
  std::vector<cli::FileOutcome> m_outcomes;
};

int UsageError(const std::string& text) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
               cli::CConsole::Escaped(text).c_str(), kProgram);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  cli::Options options;
  const cli::ParseResult parsed = cli::ParseOptions(argc, argv, options);
  switch (parsed.what) {
    case cli::Parsed::Help:
      std::fputs(cli::HelpText().c_str(), stdout);
      return 0;
    case cli::Parsed::Version:
      std::fputs(cli::VersionText().c_str(), stdout);
      return 0;
    case cli::Parsed::UsageError:
      return UsageError(parsed.error);
    case cli::Parsed::Run:
      break;
  }
  if (!options.outputFolder.empty()) {
    // A missing output folder is made, as rsync makes its target; its
    // parent must exist. A dry run makes nothing.
    struct stat info {};
    if (::stat(options.outputFolder.c_str(), &info) != 0 && errno == ENOENT && !options.dryRun &&
        ::mkdir(options.outputFolder.c_str(), 0777) != 0) {
      return UsageError("cannot make the output folder '" + options.outputFolder +
                        "': " + std::strerror(errno));
    }
    const bool found = ::stat(options.outputFolder.c_str(), &info) == 0;
    if (found ? !S_ISDIR(info.st_mode) : !options.dryRun)
      return UsageError("the output folder '" + options.outputFolder + "' is not a folder");
  }
  if (!CatchStopSignals()) {
    std::fprintf(stderr, "%s: cannot watch for Ctrl+C\n", kProgram);
    return kExitFailures;
  }
  FreeImage_Initialise(TRUE);

  const std::vector<cli::Input> inputs = cli::ListInputs(options);
  std::set<std::string> folders;
  for (const cli::Input& input : inputs) {
    if (input.failure.empty())
      folders.insert(input.outputFolder.empty() ? files::FolderPart(input.source)
                                                : input.outputFolder);
  }
  for (const std::string& folder : folders) cli::RemoveStaleTemporaries(folder);
  const int slots =
      static_cast<int>(std::min<size_t>(options.jobs ? options.jobs : Cores(), inputs.size()));
  cli::CMemoryGate gate(MemoryBudget(), std::max(1, slots));
  cli::CConsole console(options.verbosity, ::isatty(STDERR_FILENO) && !options.dryRun);
  cli::COutputs outputs;
  cli::StepTimes times;
  const cli::Batch batch{options, gate, console, outputs, g_stop, g_stopPipe[0], times};
  console.Detail(std::string(kProgram) + ": memory budget " +
                 Gigabytes(gate.Budget() - gate.Budget() / 8) + " (" +
                 std::to_string(gate.Budget() - gate.Budget() / 8) + " bytes) for " +
                 std::to_string(gate.Slots()) + " jobs at once; a larger picture runs alone");

  uint64_t weight = 0;
  for (const cli::Input& input : inputs) weight += std::max<uint64_t>(1, input.bytes);
  console.Start(static_cast<int>(inputs.size()), weight);
  CRun run(inputs, batch);
  run.Start(gate.Slots());

  while (!g_stop && !run.AllEnded()) {
    pollfd watch{g_stopPipe[0], POLLIN, 0};
    ::poll(&watch, 1, kRedrawMs);
    console.Redraw();
  }
  if (g_stop) {
    gate.Stop();
    // A decoding job kills its decoder process as soon as it sees the
    // stop; every other job's work ends with the process.
    const auto grace = std::chrono::steady_clock::now() + kStopGrace;
    while (times.decoding > 0 && std::chrono::steady_clock::now() < grace)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool ended = run.AllEnded();
    // Whatever a job is still doing, its temporary file goes and no file
    // is made or renamed after this.
    outputs.End();
    console.ClearLine();
    const Counts counts = run.Tally();
    console.Summary(std::string(kProgram) + ": interrupted: " + CountsText(counts, options.dryRun));
    std::fflush(stdout);
    std::fflush(stderr);
    if (ended) run.Join();
    // Jobs still inside a library call end with the process.
    std::_Exit(kExitInterrupted);
  }
  run.Join();
  console.ClearLine();
  const Counts counts = run.Tally();
  if (options.dryRun) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      const cli::FileOutcome& outcome = run.Outcomes()[i];
      if (outcome.end == cli::FileEnd::Written)
        std::printf("%s -> %s (%s)\n", cli::CConsole::Escaped(inputs[i].source).c_str(),
                    cli::CConsole::Escaped(outcome.output).c_str(),
                    cli::CConsole::Escaped(outcome.message).c_str());
    }
  }
  console.Detail(std::string(kProgram) + ": time over all jobs: decoding " +
                 Seconds(times.decodeNs) + ", resizing " + Seconds(times.resizeNs) + ", saving " +
                 Seconds(times.saveNs));
  console.Summary(std::string(kProgram) + ": " + CountsText(counts, options.dryRun));
  FreeImage_DeInitialise();
  return counts.failed > 0 ? kExitFailures : 0;
}
