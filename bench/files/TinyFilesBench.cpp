// Peak memory of opening small files that declare huge pictures, through the
// program's own decoding (the decoder process and the program's side of it),
// as a ratio to opening a small valid picture measured in the same run.
// Each file is opened in a process of its own, so that each peak is its own.
// Usage: files_tiny_bench [memory bytes the program may use; default: all available]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "TestImages.h"
#include "files/DecoderProcess.h"

namespace {

uint64_t MemoryAvailable() {
  std::ifstream info("/proc/meminfo");
  std::string key, unit;
  uint64_t value = 0;
  while (info >> key >> value >> unit)
    if (key == "MemAvailable:") return value * 1024;
  return 0;
}

struct Peaks {
  double program = 0, decoder = 0;  // MB
  int failure = -1;
};

// Opens path in a child process; its own peak and its decoder's.
Peaks OpenAndMeasure(const std::string& path, uint64_t memory) {
  int ends[2];
  if (::pipe(ends) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    files::DecodeOutcome outcome = files::DecodeImageFile({path, memory, -1, ""});
    rusage self{}, decoder{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &decoder);
    const Peaks peaks{self.ru_maxrss / 1024.0, decoder.ru_maxrss / 1024.0, int(outcome.failure)};
    (void)!::write(ends[1], &peaks, sizeof peaks);
    std::_Exit(0);
  }
  ::close(ends[1]);
  Peaks peaks;
  if (::read(ends[0], &peaks, sizeof peaks) != sizeof peaks) peaks = {};
  ::close(ends[0]);
  ::waitpid(child, nullptr, 0);
  return peaks;
}

}  // namespace

int main(int argc, char** argv) {
  FreeImage_Initialise(FALSE);
  const uint64_t memory = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : MemoryAvailable();
  testimages::TempDir dir;
  FIBITMAP* small = testimages::MakePattern(64, 64, 24);
  testimages::Write(small, FIF_PNG, dir.File("baseline.png"));
  FreeImage_Unload(small);

  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string dds = testimages::DdsDxt1(40, 16777188, false);
  dds.resize(768, '\0');
  const std::vector<Case> cases = {
      {"DDS 40 x 16777188", dds},
      {"JPEG 30000 x 30000", testimages::JpegDeclaring(30000, 30000)},
      {"GIF 65535 x 65535", testimages::GifDeclaring(65535, 65535)},
      {"TIFF strip 60000 x 60000", testimages::TiffGrey(60000, 60000, false)},
      {"BMP 30000 x 30000", testimages::BmpDeclaring(30000, 30000)},
      {"J2K 20000 x 20000", testimages::Jpeg2000Declaring(FIF_J2K, 20000, 20000)},
      {"JP2 20000 x 20000", testimages::Jpeg2000Declaring(FIF_JP2, 20000, 20000)},
  };
  const Peaks baseline = OpenAndMeasure(dir.File("baseline.png"), memory);
  std::printf("memory given %.1f GB; baseline (64 x 64 PNG): program %.1f MB, decoder %.1f MB\n",
              memory / 1e9, baseline.program, baseline.decoder);
  std::printf("%-26s %6s  %-8s %14s %14s\n", "file", "bytes", "refused", "program/base",
              "decoder/base");
  for (const Case& c : cases) {
    const std::string path = dir.File("tiny");
    testimages::WriteAll(path, c.bytes);
    const Peaks peaks = OpenAndMeasure(path, memory);
    std::printf("%-26s %6zu  %-8s %8.2f (%3.0f MB) %7.2f (%3.0f MB)\n", c.name, c.bytes.size(),
                peaks.failure == int(files::LoadFailure::TooLarge)  ? "large"
                : peaks.failure == int(files::LoadFailure::Damaged) ? "damaged"
                                                                    : "no",
                peaks.program / baseline.program, peaks.program, peaks.decoder / baseline.decoder,
                peaks.decoder);
  }
  FreeImage_DeInitialise();
}
