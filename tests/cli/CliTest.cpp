// magnova-resize run as a user runs it: failures in a batch, usage errors,
// Ctrl+C in the middle of an enlargement, and exact sides.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "../files/TestImages.h"
#include "CliRunner.h"

namespace {

using testimages::TempDir;

class FreeImageScope : public testing::Environment {
 public:
  void SetUp() override { FreeImage_Initialise(TRUE); }
  void TearDown() override { FreeImage_DeInitialise(); }
};
const auto* const kFreeImage = testing::AddGlobalTestEnvironment(new FreeImageScope);

// The size of the picture in a file, read back by FreeImage; 0 x 0 when none.
std::pair<unsigned, unsigned> SizeOf(const std::string& path) {
  FIBITMAP* bitmap = FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0);
  if (!bitmap) return {0, 0};
  const std::pair<unsigned, unsigned> size{FreeImage_GetWidth(bitmap), FreeImage_GetHeight(bitmap)};
  FreeImage_Unload(bitmap);
  return size;
}

void WritePicture(const std::string& path, FREE_IMAGE_FORMAT fif, int width, int height) {
  FIBITMAP* bitmap = testimages::MakePattern(width, height, 24);
  ASSERT_TRUE(testimages::Write(bitmap, fif, path));
  FreeImage_Unload(bitmap);
}

// Root reads every file; a run without the rights that allow it meets the
// permissions as any user does. False when they cannot be given up here.
bool CanDropReadRights() {
  if (::geteuid() != 0) return true;
  return prctl(PR_CAPBSET_READ, CAP_SETPCAP) == 1;
}

void DropReadRights() {
  if (::geteuid() != 0) return;
  prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
  prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
}

// A PNG whose header declares 100000 x 100000 colour pixels and whose data
// is a few hundred bytes: a decoder that believes it allocates 30 GB.
std::string PngBomb() {
  const std::string signature = "\x89PNG\r\n\x1a\n";
  auto chunk = [](const std::string& type, const std::string& data) {
    std::string out;
    const uint32_t length = static_cast<uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(length >> shift);
    out += type + data;
    // CRC-32 over type and data, as PNG asks.
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : type + data) {
      crc ^= c;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(crc >> shift);
    return out;
  };
  const std::string header("\x00\x01\x86\xA0\x00\x01\x86\xA0\x08\x02\x00\x00\x00", 13);
  // A stored (uncompressed) zlib stream of a few zero rows.
  const std::string data("\x78\x01\x01\x00\x01\xFF\xFE", 7);
  std::string zeros(256, '\0');
  return signature + chunk("IHDR", header) + chunk("IDAT", data + zeros) + chunk("IEND", "");
}

struct FailureCase {
  const char* name;     // the hostile input, made in the batch's folder
  const char* message;  // the words that follow "magnova-resize: <path>: "
};

class CliFailureTest : public testing::TestWithParam<FailureCase> {};

// Every failure is told with the file's name and its reason, and the rest of
// the batch is written.
TEST_P(CliFailureTest, ToldAndTheRestIsWritten) {
  const FailureCase c = GetParam();
  TempDir dir;
  WritePicture(dir.File("first.png"), FIF_PNG, 40, 30);
  WritePicture(dir.File("last.jpg"), FIF_JPEG, 24, 16);
  const std::string bad = dir.File(c.name);
  clirun::Launch launch{{dir.File("first.png"), bad, dir.File("last.jpg")}, {}};
  const std::string name = c.name;
  if (name == "missing.png") {
    // Nothing made.
  } else if (name == "secret.png") {
    if (!CanDropReadRights()) GTEST_SKIP() << "root's read rights cannot be given up here";
    WritePicture(bad, FIF_PNG, 8, 8);
    ASSERT_EQ(::chmod(bad.c_str(), 0), 0);
    launch.beforeExec = DropReadRights;
  } else if (name == "notes.png") {
    testimages::WriteAll(bad, "Shopping: bread, milk.\n");
  } else if (name == "cut.jpg") {
    testimages::WriteAll(bad, testimages::TruncatedFile(FIF_JPEG, 0.5));
  } else if (name == "bomb.png") {
    testimages::WriteAll(bad, PngBomb());
  } else if (name == "pano.jpg") {
    WritePicture(bad, FIF_JPEG, 40000, 10);
  } else if (name == "folder") {
    ASSERT_EQ(::mkdir(bad.c_str(), 0755), 0);
  } else if (name == "pipe") {
    ASSERT_EQ(::mkfifo(bad.c_str(), 0644), 0);
  }

  const clirun::Run run = clirun::RunCli(launch);
  EXPECT_EQ(run.status, 1) << run.err;
  const std::vector<std::string> lines = run.ErrLines();
  ASSERT_EQ(lines.size(), 2u) << run.err;
  EXPECT_EQ(lines[0].rfind("magnova-resize: " + bad + ": " + c.message, 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "magnova-resize: 2 written, 0 skipped, 1 failed");
  EXPECT_EQ(SizeOf(dir.File("first_200percents.png")), std::make_pair(80u, 60u));
  EXPECT_EQ(SizeOf(dir.File("last_200percents.jpg")), std::make_pair(48u, 32u));
  EXPECT_TRUE(run.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliFailureTest,
    testing::Values(FailureCase{"missing.png", "does not exist"},
                    FailureCase{"secret.png", "no permission to read it"},
                    FailureCase{"notes.png", "not a picture it can read"},
                    FailureCase{"cut.jpg", "damaged or incomplete"},
                    FailureCase{"bomb.png", "too large for memory: 100000 x 100000 pixels"},
                    FailureCase{"pano.jpg",
                                "too large for its format: JPEG holds at most 65,500 pixels a "
                                "side; the picture is 80,000 \u00d7 20 pixels"},
                    FailureCase{"folder", "is a folder (use --recursive"},
                    FailureCase{"pipe", "is a named pipe, not a picture file"}),
    [](const testing::TestParamInfo<FailureCase>& info) {
      std::string name = info.param.name;
      return name.substr(0, name.find('.'));
    });

TEST(CliUsageTest, MistakesEndWithStatusTwoAndWriteNothing) {
  TempDir dir;
  WritePicture(dir.File("a.png"), FIF_PNG, 10, 10);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--percent=0", dir.File("a.png")}, "invalid percent '0' (1 to 2000)"},
      {{"--percent", "2001", dir.File("a.png")}, "invalid percent '2001' (1 to 2000)"},
      {{"--format=gif", dir.File("a.png")}, "unknown format 'gif' (jpg, png, tif or bmp)"},
      {{"--quality=101", dir.File("a.png")}, "invalid JPEG quality '101' (1 to 100)"},
      {{"--percent=150", "--width=10", dir.File("a.png")},
       "--percent cannot be given with --width or --height"},
      {{"--bogus", dir.File("a.png")}, "unknown option '--bogus'"},
      {{"-o", dir.File("a.png"), dir.File("a.png")}, "the output folder"},
      {{"-o", dir.File("no/where"), dir.File("a.png")}, "cannot make the output folder"},
      {{"--percent=300"}, "no file or folder given"},
  };
  for (const auto& c : cases) {
    const clirun::Run run = clirun::RunCli({c.args, {}});
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_EQ(run.err.rfind(std::string("magnova-resize: ") + c.message, 0), 0u) << run.err;
    EXPECT_NE(run.err.find("Try 'magnova-resize --help'"), std::string::npos);
    EXPECT_EQ(testimages::CountEntries(dir.Path()), 1) << c.message;
  }
}

// Options anywhere, "--" ends them: a file named like an option is a file.
TEST(CliUsageTest, OptionsAfterFilesAndAfterDoubleDash) {
  TempDir dir;
  WritePicture(dir.File("--percent=50.png"), FIF_PNG, 20, 10);
  const clirun::Run run =
      clirun::RunCli({{"-o", dir.Path(), "--", dir.File("--percent=50.png"), "--percent=300"}, {}});
  // "--percent=300" after "--" is a file, and does not exist.
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(SizeOf(dir.File("--percent=50_200percents.png")), std::make_pair(40u, 20u));
  const clirun::Run after =
      clirun::RunCli({{dir.File("--percent=50.png"), "--percent=300", "--suffix=_x3"}, {}});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(SizeOf(dir.File("--percent=50_x3.png")), std::make_pair(60u, 30u));
}

// Exact sides, with the other side from the aspect ratio (hand-computed:
// 200 x 451 / 301 = 299.67 -> 300; 301 x 77 / 200 = 115.9 -> 116), and the
// name's percent from the larger ratio (451 / 301 = 149.8 %).
TEST(CliSidesTest, ExactWidthHeightAndBox) {
  TempDir dir;
  WritePicture(dir.File("wide.png"), FIF_PNG, 301, 200);
  const struct {
    std::vector<std::string> args;
    const char* output;
    unsigned width, height;
  } cases[] = {
      {{"--width=451"}, "wide_150percents.png", 451, 300},
      {{"--height=77"}, "wide_39percents.png", 116, 77},
      {{"--width=602", "--height=100"}, "wide_200percents.png", 602, 100},
      {{"--width", "3", "--format", "bmp"}, "wide_1percents.bmp", 3, 2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(dir.File("wide.png"));
    const clirun::Run run = clirun::RunCli({args, {}});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(SizeOf(dir.File(c.output)), std::make_pair(c.width, c.height)) << c.output;
  }
}

// Ctrl+C, SIGTERM or a closed terminal (SIGHUP) in the middle of a large enlargement: the file
// written before stays, the enlargement leaves nothing, not even a temporary file.
TEST(CliInterruptTest, StopsLeavingNoPartialFile) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    TempDir dir;
    WritePicture(dir.File("a-small.png"), FIF_PNG, 64, 48);
    WritePicture(dir.File("b-large.png"), FIF_PNG, 1600, 1200);
    const std::string written = dir.File("a-small_500percents.png");
    std::chrono::steady_clock::time_point since{};
    double latencyMs = 0;
    const clirun::Run run = clirun::RunCliInterrupted(
        {{"--jobs=1", "--percent=500", dir.File("a-small.png"), dir.File("b-large.png")}, {}},
        [&] {
          // Once the small one is written, the large one is well under way a second later.
          if (!testimages::Exists(written)) return 0;
          const auto now = std::chrono::steady_clock::now();
          if (since == std::chrono::steady_clock::time_point{}) since = now;
          return now - since > std::chrono::seconds(1) ? signal : 0;
        },
        latencyMs);
    std::printf("stopped %.0f ms after signal %d\n", latencyMs, signal);
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_EQ(SizeOf(written), std::make_pair(320u, 240u));
    EXPECT_FALSE(testimages::Exists(dir.File("b-large_500percents.png")));
    // The two sources and the one result: no temporary file is left.
    EXPECT_EQ(testimages::CountEntries(dir.Path()), 3);
    EXPECT_NE(run.err.find("magnova-resize: interrupted: 1 written, 0 skipped, 0 failed"),
              std::string::npos)
        << run.err;
  }
}

// An existing file is kept and noted; with --overwrite it is replaced.
TEST(CliOverwriteTest, ExistingFileSkippedUnlessAsked) {
  TempDir dir;
  WritePicture(dir.File("p.png"), FIF_PNG, 10, 8);
  testimages::WriteAll(dir.File("p_200percents.png"), "mine");
  const clirun::Run kept = clirun::RunCli({{dir.File("p.png")}, {}});
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(testimages::ReadAll(dir.File("p_200percents.png")), "mine");
  EXPECT_NE(kept.err.find("exists (use --overwrite)"), std::string::npos) << kept.err;
  EXPECT_NE(kept.err.find("0 written, 1 skipped, 0 failed"), std::string::npos);
  const clirun::Run replaced = clirun::RunCli({{"--overwrite", "-q", dir.File("p.png")}, {}});
  EXPECT_EQ(replaced.status, 0);
  EXPECT_TRUE(replaced.err.empty()) << replaced.err;
  EXPECT_EQ(SizeOf(dir.File("p_200percents.png")), std::make_pair(20u, 16u));
}

// Run again, as after Ctrl+C, into the folder itself and into an output
// folder inside it that does not exist yet: the second run takes neither
// the first one's results nor the output folder for sources.
TEST(CliRerunTest, ResultsAreNeverSources) {
  const struct {
    const char* output;               // -o, relative to the folder; empty: none
    const char* result;               // the one result, relative to the folder
    std::vector<const char*> absent;  // what no run may make
  } cases[] = {
      {"", "a_200percents.png", {"a_200percents_200percents.png"}},
      {"out",
       "out/a_200percents.png",
       {"out/out", "out/a_200percents_200percents.png", "a_200percents.png"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WritePicture(dir.File("a.png"), FIF_PNG, 12, 10);
    std::vector<std::string> args{"-r", dir.Path()};
    if (*c.output) args.insert(args.begin(), {"-o", dir.File(c.output)});
    const clirun::Run first = clirun::RunCli({args, {}});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("1 written, 0 skipped, 0 failed"), std::string::npos) << first.err;
    const clirun::Run second = clirun::RunCli({args, {}});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.err.find("0 written, 1 skipped, 0 failed"), std::string::npos) << second.err;
    EXPECT_EQ(SizeOf(dir.File(c.result)), std::make_pair(24u, 20u)) << c.result;
    for (const char* made : c.absent) EXPECT_FALSE(testimages::Exists(dir.File(made))) << made;
  }
}

// Names with control bytes reach the terminal escaped, one line each.
TEST(CliNamesTest, ControlBytesAreEscaped) {
  TempDir dir;
  const std::string name = "t\033]0;owned\a\nx.png";
  testimages::WriteAll(dir.File(name), "not a picture");
  const clirun::Run run = clirun::RunCli({{"-q", dir.File(name)}, {}});
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
  EXPECT_EQ(run.err, "magnova-resize: " + dir.Path() +
                         "/t\\033]0;owned\\a\\nx.png: not a picture it can read\n");
}

// A reader that goes away (| head) stops what is printed, not the work; the
// temporary files of a run that was killed are removed by the next one in
// that folder, those of a running process kept.
TEST(CliLeftoversTest, ClosedOutputAndStaleTemporaries) {
  TempDir dir;
  for (const char* name : {"a.png", "b.png", "c.png"}) WritePicture(dir.File(name), FIF_PNG, 8, 6);
  const std::string stale = dir.File(".magnova-999999999-7-0.part");
  const std::string live = dir.File(".magnova-" + std::to_string(::getpid()) + "-7-0.part");
  testimages::WriteAll(stale, "left by a killed run");
  testimages::WriteAll(live, "being written");
  const std::string command = std::string("'") + MAGNOVA_RESIZE_PATH + "' -v --jobs=1 '" +
                              dir.Path() + "' -r 2>&1 | head -c 1 >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  for (const char* result : {"a_200percents.png", "b_200percents.png", "c_200percents.png"})
    EXPECT_EQ(SizeOf(dir.File(result)), std::make_pair(16u, 12u)) << result;
  EXPECT_FALSE(testimages::Exists(stale));
  EXPECT_TRUE(testimages::Exists(live));
}

// A reduction of a picture with EXIF saved as TIFF: a quiet run prints
// nothing, as libtiff's complaints about tags it does not know are no
// failure of the run's.
TEST(CliTiffTest, QuietReductionWithExifPrintsNothing) {
  TempDir dir;
  FIBITMAP* bitmap = testimages::MakePattern(40, 30, 24);
  // Exif with one directory: Make = "Tests".
  const unsigned char block[] = {'E', 'x', 'i', 'f',  0,    0, 'I', 'I', 42,  0,   8,   0,  0,
                                 0,   1,   0,   0x0F, 0x01, 2, 0,   6,   0,   0,   0,   26, 0,
                                 0,   0,   0,   0,    0,    0, 'T', 'e', 's', 't', 's', 0};
  testimages::SetTag(bitmap, FIMD_EXIF_RAW, "ExifRaw", FIDT_BYTE, block, sizeof block);
  ASSERT_TRUE(testimages::Write(bitmap, FIF_JPEG, dir.File("camera.jpg")));
  FreeImage_Unload(bitmap);
  const clirun::Run run =
      clirun::RunCli({{"-q", "--percent=50", "--format=tif", dir.File("camera.jpg")}, {}});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(SizeOf(dir.File("camera_50percents.tif")), std::make_pair(20u, 15u));
}

}  // namespace
