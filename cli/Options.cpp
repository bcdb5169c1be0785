#include "cli/Options.h"

#include <getopt.h>

#include <string_view>

#include "platform/NumberParsing.h"
#include "resize/ResizeRules.h"

namespace cli {
namespace {

enum LongOnly : int {
  kPercent = 256,
  kWidth,
  kHeight,
  kFormat,
  kQuality,
  kSubsampling,
  kSuffix,
  kDryRun,
  kHelp,
  kVersion,
};

constexpr int64_t kMaxSide = 1 << 30;

const option kLongOptions[] = {
    {"percent", required_argument, nullptr, kPercent},
    {"width", required_argument, nullptr, kWidth},
    {"height", required_argument, nullptr, kHeight},
    {"format", required_argument, nullptr, kFormat},
    {"quality", required_argument, nullptr, kQuality},
    {"subsampling", required_argument, nullptr, kSubsampling},
    {"output", required_argument, nullptr, 'o'},
    {"suffix", required_argument, nullptr, kSuffix},
    {"recursive", no_argument, nullptr, 'r'},
    {"jobs", required_argument, nullptr, 'j'},
    {"overwrite", no_argument, nullptr, 'f'},
    {"dry-run", no_argument, nullptr, kDryRun},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// A whole number within low..high, or nullopt.
std::optional<int64_t> Number(const char* text, int64_t low, int64_t high) {
  const std::optional<int32_t> value = platform::ParseInt32(text);
  if (!value || *value < low || *value > high) return std::nullopt;
  return *value;
}

std::optional<FREE_IMAGE_FORMAT> FormatNamed(std::string_view name) {
  if (name == "jpg" || name == "jpeg") return FIF_JPEG;
  if (name == "png") return FIF_PNG;
  if (name == "tif" || name == "tiff") return FIF_TIFF;
  if (name == "bmp") return FIF_BMP;
  return std::nullopt;
}

ParseResult Error(std::string text) { return {Parsed::UsageError, std::move(text)}; }

}  // namespace

ParseResult ParseOptions(int argc, char** argv, Options& options) {
  bool percentGiven = false;
  // getopt's own messages are replaced by ours; "+" is not given, so that
  // options may follow the files, as GNU tools allow.
  opterr = 0;
  optind = 1;
  for (;;) {
    int index = 0;
    const int c = getopt_long(argc, argv, ":o:rj:fqv", kLongOptions, &index);
    if (c == -1) break;
    const char* arg = optarg;
    switch (c) {
      case kPercent: {
        const auto value = Number(arg, resize::kMinPercent, resize::kMaxPercent);
        if (!value) return Error(std::string("invalid percent '") + arg + "' (1 to 2000)");
        options.percent = static_cast<int>(*value);
        percentGiven = true;
        break;
      }
      case kWidth:
      case kHeight: {
        const auto value = Number(arg, 1, kMaxSide);
        if (!value)
          return Error(std::string("invalid ") + (c == kWidth ? "width" : "height") + " '" + arg +
                       "' (a whole number of pixels from 1)");
        (c == kWidth ? options.width : options.height) = *value;
        break;
      }
      case kFormat: {
        const auto format = FormatNamed(arg);
        if (!format)
          return Error(std::string("unknown format '") + arg + "' (jpg, png, tif or bmp)");
        options.format = *format;
        break;
      }
      case kQuality: {
        const auto value = Number(arg, 1, 100);
        if (!value) return Error(std::string("invalid JPEG quality '") + arg + "' (1 to 100)");
        options.jpeg.quality = static_cast<int>(*value);
        break;
      }
      case kSubsampling: {
        const auto full = files::ParseSubsampling(arg);
        if (!full)
          return Error(std::string("invalid colour subsampling '") + arg + "' (4:2:0 or 4:4:4)");
        options.jpeg.fullColour = *full;
        break;
      }
      case 'o':
        if (!*arg) return Error("the output folder is empty");
        options.outputFolder = arg;
        break;
      case kSuffix:
        if (std::string_view(arg).find('/') != std::string_view::npos)
          return Error("the suffix cannot hold a '/'");
        options.suffix = arg;
        break;
      case 'r':
        options.recursive = true;
        break;
      case 'j': {
        const auto value = Number(arg, 1, 1024);
        if (!value) return Error(std::string("invalid number of jobs '") + arg + "' (1 to 1024)");
        options.jobs = static_cast<int>(*value);
        break;
      }
      case 'f':
        options.overwrite = true;
        break;
      case kDryRun:
        options.dryRun = true;
        break;
      case 'q':
        options.verbosity = 0;
        break;
      case 'v':
        options.verbosity = 2;
        break;
      case kHelp:
        return {Parsed::Help, {}};
      case kVersion:
        return {Parsed::Version, {}};
      case ':':
        return Error(std::string("option '") + argv[optind - 1] + "' needs a value");
      default:
        return Error(optopt ? std::string("unknown option '-") + static_cast<char>(optopt) + "'"
                            : std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (percentGiven && (options.width > 0 || options.height > 0))
    return Error("--percent cannot be given with --width or --height");
  for (int i = optind; i < argc; ++i) options.inputs.emplace_back(argv[i]);
  if (options.inputs.empty()) return Error("no file or folder given");
  return {};
}

std::string HelpText() {
  return R"(Usage: magnova-resize [OPTION]... FILE|FOLDER...
Enlarge (or reduce) pictures as Magnova's window does, without a window.

Size (one of):
      --percent=P        resize to P percent, 1 to 2000 (default 200)
      --width=W          make the result exactly W pixels wide, aspect kept
      --height=H         make the result exactly H pixels high, aspect kept
                         (both --width and --height: exactly W x H)
Output:
      --format=FMT       jpg, png, tif or bmp (default: the source's own
                         format where it can be written, else png)
      --quality=Q        JPEG quality, 1 to 100 (default 75)
      --subsampling=S    JPEG colour subsampling: 4:2:0 (default) or 4:4:4
                         (whole colour, for graphics and text)
  -o, --output=DIR       write into DIR (default: beside each source)
      --suffix=TEXT      name results <name>TEXT.<ext> instead of
                         <name>_<P>percents.<ext>
  -f, --overwrite        replace existing files (otherwise they are skipped)
Work:
  -r, --recursive        enlarge the pictures in FOLDERs and their subfolders
  -j, --jobs=N           run at most N pictures at once (default: one per core)
      --dry-run          list what would be written; write nothing
  -q, --quiet            print only failures
  -v, --verbose          print each file written and the memory plan
      --help             show this help and exit
      --version          show the version and exit

Exit status: 0 all succeeded, 1 some failed, 2 usage error, 130 interrupted.
)";
}

std::string VersionText() { return "magnova-resize (Magnova) 1.00\n"; }

}  // namespace cli
