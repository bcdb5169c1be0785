// The decoder process: reads one image with FreeImage under resource limits
// and hands it to the program, so that a decoder that crashes, runs away or
// allocates without end takes only this process down.
//
// Descriptors, set up by the program:
//   0  the image file, a regular file open for reading
//   1  the reply: a description of the bitmap and its metadata (files/ImageWire.h)
//   3  an empty memory file that receives the pixels
// Arguments: --memory=<bytes the program can still use>, and for tests only
// --test-fault=crash|hang.
#include <FreeImage.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "files/ImageWire.h"
#include "files/decoder/DecodeRules.h"

namespace {

constexpr int kImageFd = 0;
constexpr int kReplyFd = 1;
constexpr int kPixelFd = 3;
constexpr rlim_t kCpuSeconds = 60;
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

// No core files, a bound on processor time, on memory (the precise check of
// the declared size comes later, for formats that can tell it up front), and
// no new descriptors: the decoder needs none.
void ApplyLimits(uint64_t memory) {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  const rlimit cpu{kCpuSeconds, kCpuSeconds + 1};
  ::setrlimit(RLIMIT_CPU, &cpu);
  if (kLimitAddressSpace) {
    const rlim_t space = AddressSpaceInUse() + memory / 2 + kAddressSlack;
    const rlimit address{space, space};
    ::setrlimit(RLIMIT_AS, &address);
  }
  const rlimit files{kPixelFd + 1, kPixelFd + 1};
  ::setrlimit(RLIMIT_NOFILE, &files);
}

// What the decoders say, and whether they ran out of data.
struct Watch {
  std::FILE* stream = nullptr;
  bool shortRead = false;
  bool dataEnded = false;
};
Watch g_watch;

void DLL_CALLCONV OnMessage(FREE_IMAGE_FORMAT, const char* message) {
  if (message && decoder::SaysDataEnded(message)) g_watch.dataEnded = true;
}

unsigned DLL_CALLCONV ReadProc(void* buffer, unsigned size, unsigned count, fi_handle) {
  const size_t got = std::fread(buffer, size, count, g_watch.stream);
  if (got < count) g_watch.shortRead = true;
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

void TestFault(std::string_view fault) {
  if (fault == "crash") std::raise(SIGSEGV);
  if (fault == "hang") {
    volatile unsigned spin = 0;
    for (;;) spin = spin + 1u;
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
files::wire::FileFacts g_facts;

void LearnSize(FIBITMAP* bitmap) {
  g_facts.width = FreeImage_GetWidth(bitmap);
  g_facts.height = FreeImage_GetHeight(bitmap);
}

// Opens the reply with the bitmap's shape, or with word that it is unknown.
void SendShape(const std::optional<files::wire::Shape>& shape) {
  std::string record;
  files::wire::PutShape(record, shape);
  g_shapeSent = WriteAll(kReplyFd, record.data(), record.size());
  if (!g_shapeSent) std::_Exit(2);
}

[[noreturn]] void Reply(files::wire::Status status, bool incomplete, FIBITMAP* bitmap) {
  if (!g_shapeSent) SendShape(std::nullopt);
  std::string reply;
  files::wire::PutReply(reply, status, incomplete);
  files::wire::PutFacts(reply, g_facts);
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

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseArguments(argc, argv);
  struct stat file {};
  if (::fstat(kImageFd, &file) != 0 || !S_ISREG(file.st_mode)) {
    Reply(files::wire::Status::NotRecognised, false, nullptr);
  }
  ApplyLimits(options.memory);
  FreeImage_Initialise(FALSE);
  FreeImage_SetOutputMessage(OnMessage);
  g_watch.stream = ::fdopen(kImageFd, "rb");
  if (!g_watch.stream) Reply(files::wire::Status::NotRecognised, false, nullptr);
  FreeImageIO io{ReadProc, WriteProc, SeekProc, TellProc};

  const FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeFromHandle(&io, &g_watch, 0);
  if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) {
    Reply(files::wire::Status::NotRecognised, false, nullptr);
  }
  g_facts.format = fif;
  const std::string head = Head();
  if (FreeImage_FIFSupportsNoPixels(fif)) {
    // Sizes before pixels: FreeImage allocates and clears the whole bitmap
    // before it reads a pixel.
    FIBITMAP* header = FreeImage_LoadFromHandle(fif, &io, &g_watch, FIF_LOAD_NOPIXELS);
    const bool fits = header && decoder::DeclaredSizeFits(fif, header, uint64_t(file.st_size),
                                                          options.memory, head);
    if (header) LearnSize(header);
    if (fits) SendShape(files::wire::ShapeOf(header));
    const bool tooLarge = header && !decoder::FitsInMemory(header, options.memory);
    if (header) FreeImage_Unload(header);
    if (!fits)
      Reply(tooLarge ? files::wire::Status::TooLarge : files::wire::Status::ReadFailed, false,
            nullptr);
  }
  if (!g_shapeSent) SendShape(std::nullopt);
  TestFault(options.fault);

  std::fseek(g_watch.stream, 0, SEEK_SET);
  g_watch.shortRead = false;
  g_watch.dataEnded = false;
  FIBITMAP* bitmap = FreeImage_LoadFromHandle(fif, &io, &g_watch, 0);
  if (!bitmap) Reply(files::wire::Status::ReadFailed, false, nullptr);
  // Formats that cannot tell their size up front are checked once loaded.
  LearnSize(bitmap);
  if (!decoder::FitsInMemory(bitmap, options.memory)) {
    Reply(files::wire::Status::TooLarge, false, nullptr);
  }
  const bool incomplete =
      g_watch.dataEnded || (g_watch.shortRead && decoder::ReadsExactly(fif, head));
  Reply(files::wire::Status::Loaded, incomplete, bitmap);
}
