// The decoder process: reads one image with FreeImage under resource limits
// and hands it to the program, so that a decoder that crashes, runs away or
// allocates without end takes only this process down.
//
// Descriptors, set up by the program:
//   0  the image file, a regular file open for reading
//   1  the reply: a description of the bitmap and its metadata (files/ImageWire.h)
//   3  an empty memory file that receives the pixels
// Arguments: --memory=<bytes the program can still use>, and for tests only
// --test-fault=crash|hang|sleep.
#include <FreeImage.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "files/ImageWire.h"
#include "files/Orientation.h"
#include "files/decoder/BmpInfoHeader.h"
#include "files/decoder/BmpRunLength.h"
#include "files/decoder/DecodeRules.h"
#include "files/decoder/FrameCount.h"
#include "files/decoder/TiffFirstDirectory.h"
#include "files/decoder/TiffGreyAlpha.h"

namespace {

constexpr int kImageFd = 0;
constexpr int kReplyFd = 1;
constexpr int kPixelFd = 3;
// Past this much processor time a decoder is taken for one that never ends,
// whatever the file and the picture.
constexpr rlim_t kMostCpuSeconds = 600;
// Room for the libraries and the decoders' own buffers beside the bitmap.
constexpr uint64_t kAddressSlack = uint64_t{512} << 20;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLimitAddressSpace = false;  // the sanitizer reserves terabytes of shadow
#else
constexpr bool kLimitAddressSpace = true;
#endif

struct Options {
  uint64_t memory = 0;
  std::string_view fault;
};

Options ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg(argv[i]);
    if (arg.starts_with("--memory=")) options.memory = std::strtoull(argv[i] + 9, nullptr, 10);
    if (arg.starts_with("--test-fault=")) options.fault = arg.substr(13);
  }
  return options;
}

uint64_t AddressSpaceInUse() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  unsigned long pages = 0;
  if (statm) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return uint64_t{pages} * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

// Lets the process take at most room bytes of address space beyond what it
// has now; a limit only ever goes down.
void LimitAddressSpace(uint64_t room) {
  if (!kLimitAddressSpace) return;
  rlimit address{};
  ::getrlimit(RLIMIT_AS, &address);
  const rlim_t space = std::min<rlim_t>(AddressSpaceInUse() + room, address.rlim_cur);
  address = {space, space};
  ::setrlimit(RLIMIT_AS, &address);
}

// Processor time for a file of fileBytes and a bitmap of pixelBytes (0 while
// unknown): two seconds, two more per megabyte of file (the slowest codings,
// JPEG 2000 and camera raws, decode a megabyte in well under that) and one
// per 32 MB of bitmap (a small, highly compressed picture may still be large
// and slow to decode). A decoder past it ends by SIGXCPU, which the program
// reports as taking too long.
void LimitProcessorTime(uint64_t fileBytes, uint64_t pixelBytes) {
  const uint64_t seconds = 2 + (fileBytes >> 19) + (pixelBytes >> 25);
  const rlimit cpu{std::min<rlim_t>(seconds, kMostCpuSeconds), kMostCpuSeconds + 1};
  ::setrlimit(RLIMIT_CPU, &cpu);
}

// No core files, a bound on processor time (raised once the declared size
// is known), on memory (the precise check of the declared size comes later,
// for formats that can tell it up front), and no new descriptors: the
// decoder needs none.
void ApplyLimits(uint64_t memory, uint64_t fileBytes) {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  LimitProcessorTime(fileBytes, 0);
  LimitAddressSpace(memory / 2 + kAddressSlack);
  const rlimit files{kPixelFd + 1, kPixelFd + 1};
  ::setrlimit(RLIMIT_NOFILE, &files);
}

// What the decoders say, and whether they ran out of data.
struct Watch {
  std::FILE* stream = nullptr;
  bool shortRead = false;
  bool dataEnded = false;
  std::optional<decoder::TiffProfile> hiddenProfile;  // read here, not by FreeImage
  unsigned tiffOrientation = 1;
  uint64_t tiffSamplesPerPixel = 0;       // 0: not a TIFF
  std::optional<uint64_t> endOfBitmapAt;  // a byte read as 1, the end-of-bitmap escape
};
Watch g_watch;

void DLL_CALLCONV OnMessage(FREE_IMAGE_FORMAT, const char* message) {
  if (message && decoder::SaysDataEnded(message)) g_watch.dataEnded = true;
}

unsigned DLL_CALLCONV ReadProc(void* buffer, unsigned size, unsigned count, fi_handle) {
  const bool patched = g_watch.hiddenProfile || g_watch.endOfBitmapAt;
  const long offset = patched ? std::ftell(g_watch.stream) : 0;
  const size_t got = std::fread(buffer, size, count, g_watch.stream);
  if (got < count) g_watch.shortRead = true;
  if (g_watch.hiddenProfile && offset >= 0)
    decoder::HideProfile(*g_watch.hiddenProfile, uint64_t(offset), buffer, got * size);
  const std::optional<uint64_t> end = g_watch.endOfBitmapAt;
  if (end && offset >= 0 && *end >= uint64_t(offset) && *end - uint64_t(offset) < got * size)
    static_cast<uint8_t*>(buffer)[*end - uint64_t(offset)] = 1;
  return static_cast<unsigned>(got);
}

unsigned DLL_CALLCONV WriteProc(void*, unsigned, unsigned, fi_handle) { return 0; }

int DLL_CALLCONV SeekProc(fi_handle, long offset, int origin) {
  return std::fseek(g_watch.stream, offset, origin);
}

long DLL_CALLCONV TellProc(fi_handle) { return std::ftell(g_watch.stream); }

bool WriteAll(int fd, const void* data, uint64_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd, bytes, size);
    if (put <= 0) return false;
    bytes += put;
    size -= static_cast<uint64_t>(put);
  }
  return true;
}

// The file's first bytes, for the rules that read a field of the header.
std::string Head() {
  std::string head(64, '\0');
  std::fseek(g_watch.stream, 0, SEEK_SET);
  head.resize(std::fread(head.data(), 1, head.size(), g_watch.stream));
  std::fseek(g_watch.stream, 0, SEEK_SET);
  return head;
}

bool ReadAt(uint64_t offset, void* to, size_t count) {
  auto* bytes = static_cast<char*>(to);
  while (count > 0) {
    const ssize_t got = ::pread(kImageFd, bytes, count, off_t(offset));
    if (got <= 0) return false;
    bytes += got;
    offset += uint64_t(got);
    count -= size_t(got);
  }
  return true;
}

// Gives bitmap the profile hidden from FreeImage, keeping the flags the
// reader set (CMYK).
void PutHiddenProfile(FIBITMAP* bitmap) {
  if (!g_watch.hiddenProfile) return;
  std::string profile(g_watch.hiddenProfile->size, '\0');
  if (!ReadAt(g_watch.hiddenProfile->dataAt, profile.data(), profile.size())) return;
  const WORD flags = FreeImage_GetICCProfile(bitmap)->flags;
  FreeImage_CreateICCProfile(bitmap, profile.data(), static_cast<long>(profile.size()));
  FreeImage_GetICCProfile(bitmap)->flags = flags;
}

// A grey picture with alpha, read whole in place of FreeImage's bitmap, with
// the metadata, profile and resolution FreeImage read; FreeImage's bitmap
// for any other.
FIBITMAP* WithGreyAndAlpha(FIBITMAP* bitmap, uint64_t fileBytes) {
  FIBITMAP* whole = decoder::ReadGreyAlphaTiff(ReadAt, fileBytes);
  if (!whole) return bitmap;
  FreeImage_CloneMetadata(whole, bitmap);
  const FIICCPROFILE* profile = FreeImage_GetICCProfile(bitmap);
  if (profile->data && profile->size > 0) {
    FreeImage_CreateICCProfile(whole, profile->data, profile->size);
    FreeImage_GetICCProfile(whole)->flags = profile->flags;
  }
  FreeImage_SetDotsPerMeterX(whole, FreeImage_GetDotsPerMeterX(bitmap));
  FreeImage_SetDotsPerMeterY(whole, FreeImage_GetDotsPerMeterY(bitmap));
  FreeImage_Unload(bitmap);
  return whole;
}

// A BMP as FreeImage can read it: a rewritten start, then the image file from
// the end of its long info header on, read in place rather than copied, so
// that a big picture takes no more memory than it does in other formats.
struct SplicedBmp {
  decoder::ShortBmpStart start;
  uint64_t length = 0;  // of the whole, as FreeImage sees it
  uint64_t at = 0;
};
SplicedBmp g_spliced;

ssize_t ReadSpliced(void*, char* to, size_t count) {
  size_t done = 0;
  const std::string& start = g_spliced.start.bytes;
  while (done < count && g_spliced.at < g_spliced.length) {
    ssize_t got = 0;
    if (g_spliced.at < start.size()) {
      got = ssize_t(std::min<uint64_t>(count - done, start.size() - g_spliced.at));
      std::memcpy(to + done, start.data() + g_spliced.at, size_t(got));
    } else {
      const uint64_t fileAt = g_spliced.at - start.size() + g_spliced.start.restAt;
      got = ::pread(kImageFd, to + done, count - done, off_t(fileAt));
      if (got <= 0) break;
    }
    done += size_t(got);
    g_spliced.at += uint64_t(got);
  }
  return ssize_t(done);
}

int SeekSpliced(void*, off64_t* offset, int origin) {
  const int64_t base = origin == SEEK_SET   ? 0
                       : origin == SEEK_CUR ? int64_t(g_spliced.at)
                                            : int64_t(g_spliced.length);
  if (*offset < -base || *offset > INT64_MAX - base) return -1;
  g_spliced.at = uint64_t(base + *offset);
  *offset = off64_t(g_spliced.at);
  return 0;
}

// Hands FreeImage a BMP with a 40-byte info header in place of a longer one,
// which it would refuse as no BMP; every other file stays as it is.
void ShortenBmpInfoHeader(uint64_t fileBytes) {
  std::string head(decoder::kLongestBmpStart, '\0');
  const ssize_t got = ::pread(kImageFd, head.data(), head.size(), 0);
  head.resize(got > 0 ? size_t(got) : 0);
  std::optional<decoder::ShortBmpStart> start = decoder::ShortenBmpInfoHeader(head, fileBytes);
  if (!start) return;
  g_spliced.length = start->bytes.size() + (fileBytes - start->restAt);
  g_spliced.start = std::move(*start);
  std::FILE* spliced = ::fopencookie(nullptr, "rb", {ReadSpliced, nullptr, SeekSpliced, nullptr});
  if (spliced) g_watch.stream = spliced;
}

// Reads the last row's end-of-line escape of an 8-bit run-length BMP as the
// end of the bitmap, which it is. Offsets are the stream's, as FreeImage
// sees it.
void EndRunLengthAtLastRow() {
  std::FILE* stream = g_watch.stream;
  if (std::fseek(stream, 0, SEEK_END) != 0) return;
  const long length = std::ftell(stream);
  g_watch.endOfBitmapAt = decoder::LastRowEndOfLine(
      [stream](uint64_t offset, void* to, size_t count) {
        return offset <= LONG_MAX && std::fseek(stream, long(offset), SEEK_SET) == 0 &&
               std::fread(to, 1, count, stream) == count;
      },
      length > 0 ? uint64_t(length) : 0);
  std::fseek(stream, 0, SEEK_SET);
}

void TestFault(std::string_view fault) {
  if (fault == "crash") std::raise(SIGSEGV);
  if (fault == "hang") {
    volatile unsigned spin = 0;
    for (;;) spin = spin + 1u;
  }
  if (fault == "sleep") {
    for (;;) ::pause();
  }
}

// Puts the pixels in the memory file at the same place within a page as they
// have here. A big bitmap sits 16 bytes into its own pages in every process,
// so the program can map whole pages of the file in place of its own
// bitmap's pages instead of copying them.
bool PutPixels(const void* bits, uint64_t bytes, uint64_t& offset) {
  offset = reinterpret_cast<uintptr_t>(bits) % static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const char* from = static_cast<const char*>(bits);
  for (uint64_t done = 0; done < bytes;) {
    const ssize_t put = ::pwrite(kPixelFd, from + done, bytes - done, off_t(offset + done));
    if (put <= 0) return false;
    done += uint64_t(put);
  }
  return true;
}

bool g_shapeSent = false;
// The format of the file's contents, told with every reply.
FREE_IMAGE_FORMAT g_format = FIF_UNKNOWN;

// The shape the bitmap will have once turned upright, so that the room the
// program makes for it fits.
files::wire::Shape UprightShape(FIBITMAP* header) {
  files::wire::Shape shape = files::wire::ShapeOf(header);
  const unsigned orientation =
      g_watch.tiffOrientation != 1 ? g_watch.tiffOrientation : files::ExifOrientation(header);
  if (orientation >= 5) std::swap(shape.width, shape.height);
  return shape;
}

// Opens the reply with the bitmap's shape, or with word that it is unknown.
void SendShape(const std::optional<files::wire::Shape>& shape) {
  std::string record;
  files::wire::PutShape(record, shape);
  g_shapeSent = WriteAll(kReplyFd, record.data(), record.size());
  if (!g_shapeSent) std::_Exit(2);
}

[[noreturn]] void Reply(files::wire::Verdict verdict, FIBITMAP* bitmap) {
  if (!g_shapeSent) SendShape(std::nullopt);
  std::string reply;
  verdict.format = g_format;
  files::wire::PutReply(reply, verdict);
  if (bitmap) {
    uint64_t offset = 0;
    if (!PutPixels(FreeImage_GetBits(bitmap),
                   uint64_t{FreeImage_GetPitch(bitmap)} * FreeImage_GetHeight(bitmap), offset)) {
      std::_Exit(2);
    }
    files::wire::PutBitmap(reply, bitmap, offset);
  }
  // The process ends here: the bitmap goes with it, unfreed.
  std::_Exit(WriteAll(kReplyFd, reply.data(), reply.size()) ? 0 : 2);
}

[[noreturn]] void Refuse(files::wire::Status status, const decoder::PictureSize& size = {}) {
  files::wire::Verdict verdict;
  verdict.status = status;
  verdict.width = uint32_t(std::min<uint64_t>(size.width, UINT32_MAX));
  verdict.height = uint32_t(std::min<uint64_t>(size.height, UINT32_MAX));
  Reply(verdict, nullptr);
}

// Refuses a declared size that cannot fit in memory or that the file cannot
// hold.
void RefuseUnfitSize(const decoder::SizeVerdict verdict, const decoder::PictureSize& size) {
  if (verdict == decoder::SizeVerdict::TooLarge) Refuse(files::wire::Status::TooLarge, size);
  if (verdict == decoder::SizeVerdict::CannotHold) Refuse(files::wire::Status::ReadFailed);
}

uint64_t FileBytes() {
  struct stat file {};
  return ::fstat(kImageFd, &file) == 0 ? uint64_t(file.st_size) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  using files::wire::Status;
  const Options options = ParseArguments(argc, argv);
  struct stat file {};
  if (::fstat(kImageFd, &file) != 0 || !S_ISREG(file.st_mode)) Refuse(Status::NotRecognised);
  ApplyLimits(options.memory, uint64_t(file.st_size));
  FreeImage_Initialise(FALSE);
  FreeImage_SetOutputMessage(OnMessage);
  g_watch.stream = ::fdopen(kImageFd, "rb");
  if (!g_watch.stream) Refuse(Status::NotRecognised);
  FreeImageIO io{ReadProc, WriteProc, SeekProc, TellProc};

  const FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeFromHandle(&io, &g_watch, 0);
  if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) Refuse(Status::NotRecognised);
  g_format = fif;
  const std::string head = Head();
  const uint64_t fileBytes = uint64_t(file.st_size);
  if (fif == FIF_BMP) {
    ShortenBmpInfoHeader(fileBytes);
    EndRunLengthAtLastRow();
  }
  const decoder::Layout layout =
      decoder::ReadLayout(fif, fileBytes, [](uint64_t offset, void* to, size_t count) {
        const ssize_t got = ::pread(kImageFd, to, count, off_t(offset));
        return got > 0 ? size_t(got) : size_t{0};
      });
  if (layout.broken) Refuse(Status::ReadFailed);
  if (fif == FIF_TIFF) {
    const decoder::TiffFirstDirectory first = decoder::ReadFirstDirectory(ReadAt, fileBytes);
    g_watch.hiddenProfile = first.freedProfile;
    g_watch.tiffOrientation = first.orientation;
    g_watch.tiffSamplesPerPixel = first.samplesPerPixel;
  }
  // Sizes before pixels: FreeImage allocates and clears the whole bitmap
  // before it reads a pixel. Where its decoder cannot tell the size without
  // the pixels, the size the layout declares stands in.
  if (FreeImage_FIFSupportsNoPixels(fif)) {
    FIBITMAP* header = FreeImage_LoadFromHandle(fif, &io, &g_watch, FIF_LOAD_NOPIXELS);
    if (!header) Refuse(Status::ReadFailed);
    const decoder::PictureSize size = decoder::SizeOf(header);
    const files::wire::Shape shape = UprightShape(header);
    FreeImage_Unload(header);
    const decoder::SizeVerdict verdict =
        decoder::JudgeDeclaredSize(fif, size, fileBytes, options.memory, head, layout);
    if (verdict == decoder::SizeVerdict::Fits) SendShape(shape);
    RefuseUnfitSize(verdict, size);
    LimitProcessorTime(fileBytes, size.pixelBytes);
  } else if (layout.width > 0 && layout.height > 0) {
    const uint64_t pitch = (uint64_t{layout.width} * layout.bpp + 31) / 32 * 4;
    const decoder::PictureSize size{layout.width, layout.height, pitch * layout.height};
    RefuseUnfitSize(decoder::JudgeDeclaredSize(fif, size, fileBytes, options.memory, head, layout),
                    size);
    LimitProcessorTime(fileBytes, size.pixelBytes);
  } else {
    // A size told only by decoding: the decoder may take no more than the
    // file's bytes can make, so that a small file cannot take much memory
    // before it is judged.
    LimitAddressSpace(decoder::DecodingAllowance(fif, fileBytes, head));
  }
  if (!g_shapeSent) SendShape(std::nullopt);
  TestFault(options.fault);

  std::fseek(g_watch.stream, 0, SEEK_SET);
  g_watch.shortRead = false;
  g_watch.dataEnded = false;
  FIBITMAP* bitmap = FreeImage_LoadFromHandle(fif, &io, &g_watch, 0);
  if (!bitmap) Refuse(Status::ReadFailed);
  PutHiddenProfile(bitmap);
  // One sample per pixel has no alpha, whatever table FreeImage made up for it.
  if (g_watch.tiffSamplesPerPixel == 1) FreeImage_SetTransparencyTable(bitmap, nullptr, 0);
  if (g_watch.tiffSamplesPerPixel == 2) bitmap = WithGreyAndAlpha(bitmap, fileBytes);
  // Formats whose size could not be told up front are judged once loaded.
  const decoder::PictureSize loaded = decoder::SizeOf(bitmap);
  RefuseUnfitSize(decoder::JudgeDeclaredSize(fif, loaded, fileBytes, options.memory, head, layout),
                  loaded);
  // Shown, enlarged and saved as the camera was held.
  if (g_watch.tiffOrientation != 1) files::SetExifOrientation(bitmap, g_watch.tiffOrientation);
  bitmap = files::TurnUpright(bitmap);
  // The file may have shrunk while it was read.
  const uint64_t bytesLeft = std::min(fileBytes, FileBytes());
  files::wire::Verdict verdict;
  verdict.status = Status::Loaded;
  verdict.incomplete = g_watch.dataEnded ||
                       (g_watch.shortRead && decoder::ReadsExactly(fif, head)) ||
                       layout.neededBytes > bytesLeft;
  verdict.frames = decoder::CountFrames(fif, bytesLeft, ReadAt);
  Reply(verdict, bitmap);
}
