// The window and the command line make the same file, byte for byte, from
// the same source, percent and format: the window's whole path (Open,
// Resize, Save Resized As through the real frame) against magnova-resize.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "../files/FrameHarness.h"
#include "../files/TestImages.h"
#include "CliRunner.h"
#include "files/CJpegOptionsDlg.h"

namespace {

using testimages::TempDir;

// A raw EXIF block as FreeImage's JPEG reader gives it: the APP1 mark, then
// a little-endian TIFF header and one IFD with the camera's make.
std::string CameraExif() {
  return std::string(
      "Exif\0\0II*\0\x08\0\0\0\x01\0\x0F\x01\x02\0\x08\0\0\0\x1A\0\0\0\0\0\0\0Magnova\0", 40);
}

// A picture with a profile, EXIF and XMP, as a camera's would have.
void AddCameraMetadata(FIBITMAP* bitmap) {
  // A display profile's header and an empty tag table: size, version 2.1,
  // class, colour spaces, signature and the D50 illuminant.
  std::string icc(132, '\0');
  icc[3] = static_cast<char>(132);
  icc.replace(8, 2, "\x02\x10");
  icc.replace(12, 12, "mntrRGB XYZ ");
  icc.replace(36, 4, "acsp");
  icc.replace(68, 12, std::string("\0\0\xF6\xD6\0\x01\0\0\0\0\xD3\x2D", 12));
  FreeImage_CreateICCProfile(bitmap, icc.data(), static_cast<long>(icc.size()));
  const std::string exif = CameraExif();
  testimages::SetTag(bitmap, FIMD_EXIF_RAW, "ExifRaw", FIDT_BYTE, exif.data(), exif.size());
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'></x:xmpmeta>";
  testimages::SetTag(bitmap, FIMD_XMP, "XMLPacket", FIDT_ASCII, xmp.c_str(), xmp.size() + 1);
}

struct Case {
  const char* source;  // made by the test
  FREE_IMAGE_FORMAT sourceFormat;
  int bpp;
  int width, height;
  int percent;
  int saveType;        // the save dialog's type: 1 JPEG, 2 BMP, 3 TIFF, 4 PNG
  const char* format;  // the same for --format
  const char* output;  // the proposed name with its extension
  int quality = 75;    // JPEG options: the window's dialog, the tool's options
  bool fullColour = false;
};

class SameAsWindowTest : public testing::TestWithParam<Case> {};

TEST_P(SameAsWindowTest, SameBytes) {
  const Case c = GetParam();
  TempDir dir;
  const std::string source = dir.File(c.source);
  FIBITMAP* picture = testimages::MakePattern(c.width, c.height, c.bpp);
  if (c.sourceFormat == FIF_JPEG) AddCameraMetadata(picture);
  ASSERT_TRUE(testimages::Write(picture, c.sourceFormat, source));
  FreeImage_Unload(picture);

  // The window: open, type the percent, resize, save under the proposal.
  const std::string windowFile = dir.File(std::string("window-") + c.output);
  {
    harness::Prompts prompts;
    CMainFrame frame;
    ASSERT_TRUE(harness::RunBounded(frame, [&] { frame.OpenFile(source); }));
    ASSERT_NE(frame.m_source, nullptr);
    frame.m_percentEdit->setText(QString::number(c.percent) + "%");
    frame.OnResize();
    ASSERT_NE(frame.m_result, nullptr);
    prompts.File(windowFile, c.saveType);
    prompts.dialogAnswer = [&c](const platform::PromptRecord& record) {
      if (auto* dialog = dynamic_cast<CJpegOptionsDlg*>(record.owner)) {
        dialog->QualityBox()->setValue(c.quality);
        dialog->SubsamplingBox()->setCurrentIndex(c.fullColour ? 1 : 0);
      }
      return platform::PromptAnswer{ids::IdOk, std::nullopt};
    };
    ASSERT_TRUE(harness::RunBounded(frame, [&] { frame.OnSaveResizedAs(); }));
    ASSERT_TRUE(frame.m_resultSaved);
    std::string proposal;
    for (const platform::PromptRecord& shown : prompts.shown)
      if (shown.kind == platform::PromptRecord::SaveFile) proposal = shown.text.toStdString();
    const std::string output = c.output;
    EXPECT_EQ(proposal + output.substr(output.rfind('.')), output) << "the window's proposal";
  }

  // The command line, into a folder of its own.
  const std::string cliFolder = dir.File("cli");
  ASSERT_EQ(::mkdir(cliFolder.c_str(), 0755), 0);
  const clirun::Run run = clirun::RunCli(
      {{"--percent=" + std::to_string(c.percent), std::string("--format=") + c.format,
        "--quality=" + std::to_string(c.quality),
        std::string("--subsampling=") + (c.fullColour ? "4:4:4" : "4:2:0"), "-o", cliFolder,
        source},
       {}});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string cliFile = cliFolder + "/" + c.output;
  ASSERT_TRUE(testimages::Exists(cliFile)) << run.err;
  const std::string windowBytes = testimages::ReadAll(windowFile);
  EXPECT_FALSE(windowBytes.empty());
  EXPECT_TRUE(windowBytes == testimages::ReadAll(cliFile)) << c.output;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SameAsWindowTest,
    testing::Values(Case{"photo.jpg", FIF_JPEG, 24, 96, 64, 200, 4, "png", "photo_200percents.png"},
                    Case{"photo.jpg", FIF_JPEG, 24, 96, 64, 130, 1, "jpg", "photo_130percents.jpg"},
                    Case{"text.jpg", FIF_JPEG, 24, 96, 64, 150, 1, "jpg", "text_150percents.jpg",
                         93, true},
                    Case{"logo.png", FIF_PNG, 32, 64, 48, 150, 4, "png", "logo_150percents.png"},
                    Case{"scan.tif", FIF_TIFF, 24, 90, 60, 50, 3, "tif", "scan_50percents.tif"},
                    Case{"icon.bmp", FIF_BMP, 8, 40, 30, 300, 2, "bmp", "icon_300percents.bmp"}),
    [](const testing::TestParamInfo<Case>& info) {
      std::string name = info.param.output;
      return name.substr(0, name.find('.'));
    });

}  // namespace
