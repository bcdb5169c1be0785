#include "cli/FileJob.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "files/DecoderProcess.h"
#include "files/ImageFiles.h"
#include "files/SaveFailure.h"
#include "files/SaveLimits.h"
#include "files/SaveNames.h"
#include "resize/ResizeCore.h"
#include "resize/ResizeRules.h"

namespace cli {
namespace {

struct Unloader {
  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, Unloader>;

// The share of a file's progress that decoding stands for, and resizing.
constexpr double kDecodeShare = 0.1;
constexpr double kResizeShare = 0.8;
constexpr double kSaveShare = 1.0 - kDecodeShare - kResizeShare;

// Adds the time since it was made to a sum when it goes.
class CStepClock {
 public:
  explicit CStepClock(std::atomic<int64_t>& sum) : m_sum(sum) {}
  ~CStepClock() {
    m_sum += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                  m_start)
                 .count();
  }
  CStepClock(const CStepClock&) = delete;
  CStepClock& operator=(const CStepClock&) = delete;

 private:
  std::atomic<int64_t>& m_sum;
  const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

FileOutcome Failed(std::string message) { return {FileEnd::Failed, std::move(message), {}}; }
FileOutcome Stopped() { return {FileEnd::Stopped, {}, {}}; }

std::string Bytes(uint64_t bytes) {
  char text[32];
  const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  if (mib >= 1024.0)
    std::snprintf(text, sizeof text, "%.1f GB", mib / 1024.0);
  else
    std::snprintf(text, sizeof text, "%.0f MB", std::ceil(mib));
  return text;
}

std::string Sides(uint64_t width, uint64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// The save dialog's type index of a format the tool writes.
int SaveIndexOf(FREE_IMAGE_FORMAT fif) {
  const auto& formats = files::SaveFormats();
  for (size_t i = 0; i < formats.size(); ++i)
    if (formats[i].fif == fif) return static_cast<int>(i) + 1;
  return 0;
}

FREE_IMAGE_FORMAT OutputFormat(const Options& options, FREE_IMAGE_FORMAT source) {
  if (options.format != FIF_UNKNOWN) return options.format;
  return SaveIndexOf(source) != 0 ? source : FIF_PNG;
}

// Decoding through the decoder process with memory bytes at hand.
files::DecodeOutcome Decode(const Input& input, const Batch& batch, uint64_t memory) {
  const CStepClock clock(batch.times.decodeNs);
  ++batch.times.decoding;
  struct Done {
    std::atomic<int>& count;
    ~Done() { --count; }
  } done{batch.times.decoding};
  files::DecodeRequest request;
  request.path = input.source;
  request.memoryAvailable = memory;
  request.stopFd = batch.stopFd;
  return files::DecodeImageFile(request);
}

// Why a decode gave no picture, in plain words.
std::string DecodeFailure(const files::DecodeOutcome& outcome, const std::string& path,
                          uint64_t memory) {
  switch (outcome.failure) {
    case files::LoadFailure::TooLarge: {
      // The pixels with the two 32-bit copies made of every source.
      const uint64_t pixels = uint64_t{outcome.width} * outcome.height;
      return "too large for memory: " + Sides(outcome.width, outcome.height) +
             " pixels need about " + Bytes(pixels * 12) + ", " + Bytes(memory) + " available";
    }
    case files::LoadFailure::Missing:
      return "does not exist";
    case files::LoadFailure::NoPermission:
      return "no permission to read it";
    case files::LoadFailure::Damaged:
      return "damaged or incomplete: it cannot be decoded";
    case files::LoadFailure::TooSlow:
      return "the decoder took too long on it";
    case files::LoadFailure::NoDecoder:
      return "the decoder could not be started";
    default: {
      // The file could be opened a moment ago; one that is gone now says so.
      const std::string unreadable = Unreadable(path);
      return unreadable.empty() ? "not a picture it can read" : unreadable;
    }
  }
}

// The percent that names a job and chooses between reduction and enlargement.
int JobPercent(const Options& options, uint64_t width, uint64_t height, resize::Size64 target) {
  if (options.width <= 0 && options.height <= 0) return options.percent;
  const double ratio = std::max(static_cast<double>(target.width) / static_cast<double>(width),
                                static_cast<double>(target.height) / static_cast<double>(height));
  return static_cast<int>(std::lround(ratio * 100.0));
}

std::string OutputPath(const Input& input, const Options& options, int percent,
                       FREE_IMAGE_FORMAT fif) {
  const std::string folder =
      input.outputFolder.empty() ? files::FolderPart(input.source) : input.outputFolder;
  const std::string name = options.suffix ? files::SaveNameWithTail(input.source, *options.suffix)
                                          : files::ProposedSaveName(input.source, percent / 100.0);
  const std::string file = files::FinalSaveName(name, SaveIndexOf(fif));
  if (folder.empty()) return file;
  return folder.back() == '/' ? folder + file : folder + "/" + file;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat x {};
  struct stat y {};
  return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Makes folder and the folders above it that are missing.
bool MakeFolder(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  const std::string parent = files::FolderPart(folder);
  if (!parent.empty() && parent != folder && !MakeFolder(parent)) return false;
  return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

// Saves made to path by the window's safe save: a complete file under a
// temporary name, renamed over path at the end; stopped, it leaves nothing.
FileOutcome Save(FIBITMAP* made, FREE_IMAGE_FORMAT fif, const std::string& path, const Batch& batch,
                 int slot) {
  const CStepClock clock(batch.times.saveNs);
  const std::string tooLarge = files::FormatLimitFailure(
      fif, FreeImage_GetWidth(made), FreeImage_GetHeight(made), FreeImage_GetBPP(made));
  if (!tooLarge.empty()) return Failed("too large for its format: " + tooLarge);
  const std::string folder = files::FolderPart(path);
  if (!MakeFolder(folder))
    return Failed("cannot make the folder " + folder + ": " + std::strerror(errno));
  std::unique_ptr<files::CReplacingFile> file;
  int openError = 0;
  if (!batch.outputs.Locked([&] {
        errno = 0;
        file = std::make_unique<files::CReplacingFile>(path);
        openError = errno;
        batch.outputs.AddTemporary(file->TemporaryPath());
      }))
    return Stopped();
  const auto forget = [&] {
    batch.outputs.RemoveTemporary(file->TemporaryPath());
    file.reset();
  };
  if (!file->Stream()) {
    batch.outputs.Locked(forget);
    return Failed("cannot write " + path + ": " +
                  files::SaveFailureReason(openError ? openError : EACCES, path));
  }
  const int flags = fif == FIF_JPEG ? files::JpegSaveFlags(batch.options.jpeg) : 0;
  int writeError = 0;
  files::WriteExtras extras;
  extras.error = &writeError;
  extras.progress = [&](double share) {
    batch.console.Progress(slot, kDecodeShare + kResizeShare + kSaveShare * share);
  };
  const bool written = files::WriteImage(
      made, fif, file->Stream(), [&] { return batch.stop.load(); }, nullptr, flags, extras);
  FileOutcome outcome =
      Failed("cannot write " + path + ": " + files::SaveFailureReason(writeError, path));
  const bool running = batch.outputs.Locked([&] {
    if (batch.stop) {
      outcome = Stopped();
    } else if (written && !batch.options.overwrite && Exists(path)) {
      // Made by someone else while this job ran.
      outcome = {FileEnd::Skipped, "not replaced: " + path + " exists (use --overwrite)", path};
    } else if (written && file->Replace()) {
      outcome = {FileEnd::Written, {}, path};
    } else if (written) {
      outcome = Failed("cannot write " + path + ": " +
                       files::SaveFailureReason(file->Error() ? file->Error() : EIO, path));
    }
    forget();
  });
  return running ? outcome : Stopped();
}

}  // namespace

FileOutcome ResizeFile(const Input& input, const Batch& batch, int slot) {
  if (!input.failure.empty()) return Failed(input.failure);
  const Options& options = batch.options;
  CGateHold hold(batch.gate);
  if (!hold.Slot()) return Stopped();

  // A picture too large for one job's share of the memory may still be
  // worked on alone, with the whole of it.
  uint64_t memory = batch.gate.SlotBytes();
  files::DecodeOutcome decoded = Decode(input, batch, memory);
  if (decoded.failure == files::LoadFailure::TooLarge && batch.gate.Slots() > 1 && !batch.stop) {
    if (!hold.All()) return Stopped();
    memory = batch.gate.Budget();
    decoded = Decode(input, batch, memory);
  }
  Bitmap source(decoded.bitmap);
  if (batch.stop) return Stopped();
  if (!source) return Failed(DecodeFailure(decoded, input.source, memory));
  if (decoded.incomplete) return Failed("damaged or incomplete: the file ends early");
  batch.console.Progress(slot, kDecodeShare);

  const uint64_t width = FreeImage_GetWidth(source.get());
  const uint64_t height = FreeImage_GetHeight(source.get());
  const resize::Size64 target =
      resize::TargetFor(width, height, {options.percent, options.width, options.height});
  const int percent = JobPercent(options, width, height, target);
  if (percent > resize::kMaxPercent)
    return Failed("asks for more than " + std::to_string(resize::kMaxPercent) + " percent of its " +
                  Sides(width, height) + " pixels");
  if (target.width <= 0 || target.height <= 0 || target.width > INT32_MAX ||
      target.height > INT32_MAX)
    return Failed("no picture of " + Sides(target.width, target.height) + " pixels can be made");

  const FREE_IMAGE_FORMAT fif = OutputFormat(options, decoded.format);
  // Said before any work is done for a file its format cannot hold.
  const std::string tooLarge = files::FormatLimitFailure(
      fif, target.width, target.height, files::ResultBitsPerPixel(source.get(), percent >= 100));
  if (!tooLarge.empty()) return Failed("too large for its format: " + tooLarge);
  const std::string output = OutputPath(input, options, percent, fif);
  if (SameFile(output, input.source)) return Failed("the result would replace its own source");
  if (!batch.outputs.Claim(output))
    return {FileEnd::Skipped, "not written: another picture of this run is written as " + output,
            output};
  if (!options.overwrite && Exists(output))
    return {FileEnd::Skipped, "not replaced: " + output + " exists (use --overwrite)", output};
  if (options.dryRun) return {FileEnd::Written, Sides(target.width, target.height), output};

  // The window's memory rule, within what this job may use: the source is
  // already in memory, the rest must fit beside it.
  const uint64_t sourceBytes = uint64_t{FreeImage_GetPitch(source.get())} * height;
  const auto fits = [&](uint64_t bytes) {
    const uint64_t rest = bytes > sourceBytes ? bytes - sourceBytes : 0;
    return resize::PlanMemory(percent, width, height, target, rest, 0).fit ==
           resize::MemoryFit::Whole;
  };
  if (!fits(memory) && !hold.HoldsAll() && batch.gate.Slots() > 1) {
    if (!hold.All()) return Stopped();
    memory = batch.gate.Budget();
  }
  if (!fits(memory))
    return Failed("too large for memory: resizing " + Sides(width, height) + " to " +
                  Sides(target.width, target.height) + " pixels needs about " +
                  Bytes(resize::EnlargementPeakBytes(target, width, height) + sourceBytes) + ", " +
                  Bytes(memory - memory / 8) + " available");

  std::string failure;
  CFileProgress progress(percent < 100);
  const resize::ResizeHooks hooks{
      [&](int stage, int value) {
        batch.console.Progress(slot, kDecodeShare + kResizeShare * progress.Report(stage, value));
        return batch.stop.load();
      },
      [&] { return batch.stop.load(); }, [&] { return batch.stop.load(); },
      [&](const std::string& text, const std::string&) { failure = text; }};
  const ResizeRequest request{source.get(), percent / 100.0, static_cast<int>(target.width),
                              static_cast<int>(target.height)};
  FIBITMAP* made = nullptr;
  resize::ResizeOutcome outcome = resize::ResizeOutcome::Abandoned;
  {
    const CStepClock clock(batch.times.resizeNs);
    outcome = resize::ResizeImage(request, hooks, made);
  }
  Bitmap result(made);
  if (outcome == resize::ResizeOutcome::Abandoned || batch.stop) return Stopped();
  if (!result)
    return Failed("could not be resized: " + (failure.empty() ? "out of memory" : failure));
  // The result carries what it needs of the source; the memory goes to the save.
  source.reset();
  batch.console.Progress(slot, kDecodeShare + kResizeShare);
  FileOutcome saved = Save(result.get(), fif, output, batch, slot);
  if (saved.end == FileEnd::Written) saved.message = Sides(target.width, target.height);
  return saved;
}

}  // namespace cli
