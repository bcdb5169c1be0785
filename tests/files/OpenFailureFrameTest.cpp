// A failed Open through the running frame: no message box, and the status
// bar names the file and says why, until the next command.
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "FrameHarness.h"
#include "TestImages.h"
#include "files/CWaitDlg.h"

namespace {

using platform::PromptRecord;
using testimages::TempDir;

// Takes from the calling thread, and from threads it starts meanwhile, the
// capabilities that let the superuser read any file, so that the kernel
// refuses a file without read permission as it does for every other user.
// Capabilities belong to each thread: the rest of the process keeps them.
class WithoutFileOverride {
 public:
  WithoutFileOverride() {
    m_header.version = _LINUX_CAPABILITY_VERSION_3;
    m_held = ::syscall(SYS_capget, &m_header, m_saved.data()) == 0;
    if (!m_held) return;
    std::array<__user_cap_data_struct, 2> reduced = m_saved;
    for (int bit : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
      reduced[bit / 32].effective &= ~(1u << (bit % 32));
    ::syscall(SYS_capset, &m_header, reduced.data());
  }
  ~WithoutFileOverride() {
    if (m_held) ::syscall(SYS_capset, &m_header, m_saved.data());
  }
  WithoutFileOverride(const WithoutFileOverride&) = delete;
  WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

 private:
  bool m_held = false;
  __user_cap_header_struct m_header{};
  std::array<__user_cap_data_struct, 2> m_saved{};
};

struct FailedOpen {
  const char* label;
  const char* name;                       // the file's name in the test's folder
  void (*make)(const std::string& path);  // null: nothing is made
  const char* fault;                      // played by the decoder
  uint64_t memory;                        // what the frame takes to be available
  bool abort;                             // pressed while the decoder runs
  const char* text;                       // the status bar's text
};

void PrintTo(const FailedOpen& c, std::ostream* out) { *out << c.label; }

void GoodPicture(const std::string& path) {
  FIBITMAP* bitmap = testimages::MakePattern(24, 16, 24);
  testimages::Write(bitmap, FIF_PNG, path);
  FreeImage_Unload(bitmap);
}

bool Readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

constexpr uint64_t kGigabyte = uint64_t{1} << 30;

class OpenFailureTest : public testing::TestWithParam<FailedOpen> {
 protected:
  TempDir m_dir;
  harness::Prompts m_prompts;
  std::unique_ptr<CMainFrame> m_frame = std::make_unique<CMainFrame>();
};

TEST_P(OpenFailureTest, StatusBarNamesTheFileAndSaysWhyUntilTheNextCommand) {
  const FailedOpen& c = GetParam();
  const std::string path = m_dir.File(c.name);
  if (c.make) c.make(path);
  m_frame->m_memoryStatus = [memory = c.memory] { return std::optional<uint64_t>(memory); };
  m_frame->m_decoderTestFault = c.fault;
  if (c.abort) {
    QTimer::singleShot(300, m_frame.get(), [&] { m_frame->m_waitDlg->AbortButton()->click(); });
  }
  std::optional<WithoutFileOverride> unprivileged;
  if (std::string(c.label) == "NoPermission" && Readable(path)) {
    unprivileged.emplace();
    if (Readable(path)) GTEST_SKIP() << "this user reads any file";
  }
  m_prompts.File(path);
  ASSERT_TRUE(harness::RunBounded(*m_frame, [&] { m_frame->OnFileOpen(); }));
  unprivileged.reset();
  if (c.abort) m_frame->EndWorker();

  EXPECT_EQ(m_frame->m_source, nullptr);
  EXPECT_EQ(m_prompts.Count(PromptRecord::Message), 0);
  EXPECT_EQ(m_frame->m_readyLabel->text(), QString::fromUtf8(c.text));
  // It stays while events are handled, and goes with the next command.
  harness::PumpUntil([] { return false; }, 50);
  EXPECT_EQ(m_frame->m_readyLabel->text(), QString::fromUtf8(c.text));
  m_frame->OnCommand(ids::ZoomIn);
  EXPECT_EQ(m_frame->m_readyLabel->text(), "Ready");
}

INSTANTIATE_TEST_SUITE_P(
    Causes, OpenFailureTest,
    testing::Values(
        FailedOpen{"Missing", "missing.png", nullptr, "", kGigabyte, false,
                   "Cannot open missing.png: the file does not exist."},
        FailedOpen{"NoPermission", "locked.png",
                   [](const std::string& path) {
                     GoodPicture(path);
                     ::chmod(path.c_str(), 0);
                   },
                   "", kGigabyte, false, "Cannot open locked.png: no permission to read it."},
        FailedOpen{"TextNamedPng", "notes.png",
                   [](const std::string& path) {
                     testimages::WriteAll(path, "this is not an image at all");
                   },
                   "", kGigabyte, false,
                   "Cannot open notes.png: it is not a picture Magnova can read."},
        FailedOpen{"EmptyFile", "empty.png",
                   [](const std::string& path) { testimages::WriteAll(path, ""); }, "", kGigabyte,
                   false, "Cannot open empty.png: it is not a picture Magnova can read."},
        FailedOpen{"Folder", "folder.png",
                   [](const std::string& path) { ::mkdir(path.c_str(), 0700); }, "", kGigabyte,
                   false, "Cannot open folder.png: it is not a picture Magnova can read."},
        FailedOpen{"TooLargeForMemory", "huge.bmp",
                   [](const std::string& path) {
                     testimages::WriteAll(path, testimages::BmpDeclaring(40000, 40000));
                   },
                   "", kGigabyte, false,
                   "Cannot open huge.bmp: the picture, 40000 \u00d7 40000, is too large for the "
                   "memory available."},
        FailedOpen{"MoreThanTheFileHolds", "tiny.bmp",
                   [](const std::string& path) {
                     testimages::WriteAll(path, testimages::BmpDeclaring(3000, 3000));
                   },
                   "", kGigabyte, false,
                   "Cannot open tiny.bmp: the file is damaged; the decoder failed on it."},
        FailedOpen{"CutPng", "cut.png",
                   [](const std::string& path) {
                     testimages::WriteAll(path, testimages::TruncatedFile(FIF_PNG, 0.5));
                   },
                   "", kGigabyte, false,
                   "Cannot open cut.png: the file is damaged; the decoder failed on it."},
        FailedOpen{"DecoderCrash", "good.png", GoodPicture, "crash", kGigabyte, false,
                   "Cannot open good.png: the file is damaged; the decoder failed on it."},
        FailedOpen{"Aborted", "good.png", GoodPicture, "hang", kGigabyte, true,
                   "Opening good.png was aborted."}),
    [](const testing::TestParamInfo<FailedOpen>& info) { return info.param.label; });

}  // namespace
