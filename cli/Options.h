#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files/JpegChoices.h"

// The command line of magnova-resize, read the GNU way (getopt_long: options
// anywhere, "--" ends them). Plain data and functions, main thread.
namespace cli {

struct Options {
  int percent = 200;  // used when neither side is asked for
  int64_t width = 0;  // exact sides; 0: not asked for
  int64_t height = 0;
  FREE_IMAGE_FORMAT format = FIF_UNKNOWN;  // FIF_UNKNOWN: the source's own, else PNG
  files::JpegChoices jpeg;                 // --quality and --subsampling
  std::string outputFolder;                // empty: beside each source
  std::optional<std::string> suffix;       // replaces "_<P>percents"
  bool recursive = false;
  int jobs = 0;  // 0: one per core
  bool overwrite = false;
  bool dryRun = false;
  int verbosity = 1;  // 0 quiet, 1 normal, 2 verbose
  std::vector<std::string> inputs;
};

// What reading the command line asks for.
enum class Parsed { Run, Help, Version, UsageError };

struct ParseResult {
  Parsed what = Parsed::Run;
  std::string error;  // for UsageError: what was wrong, in plain words
};

ParseResult ParseOptions(int argc, char** argv, Options& options);

// The --help text and the --version text.
std::string HelpText();
std::string VersionText();

}  // namespace cli
