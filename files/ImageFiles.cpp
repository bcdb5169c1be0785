#include "files/ImageFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

#include "files/SaveNames.h"

namespace files {

namespace {

// The stream FreeImage reads or writes, with the caller's stop request.
struct StreamHandle {
  std::FILE* stream;
  const StopRequested* stop;
};

bool Stopped(const StreamHandle& h) { return *h.stop && (*h.stop)(); }

// Large requests (an uncompressed strip can be the whole image) are served in
// pieces so that a stop request is seen between them.
constexpr size_t kPiece = size_t{1} << 20;

unsigned DLL_CALLCONV ReadProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  auto& h = *static_cast<StreamHandle*>(handle);
  if (size == 0) return 0;
  const size_t total = size_t{size} * count;
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < total) {
    if (Stopped(h)) break;
    size_t got = std::fread(out + done, 1, std::min(kPiece, total - done), h.stream);
    done += got;
    if (got == 0) break;
  }
  return static_cast<unsigned>(done / size);
}

unsigned DLL_CALLCONV WriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  auto& h = *static_cast<StreamHandle*>(handle);
  if (size == 0) return 0;
  const size_t total = size_t{size} * count;
  const auto* in = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < total) {
    if (Stopped(h)) break;
    size_t put = std::fwrite(in + done, 1, std::min(kPiece, total - done), h.stream);
    done += put;
    if (put == 0) break;
  }
  return static_cast<unsigned>(done / size);
}

int DLL_CALLCONV SeekProc(fi_handle handle, long offset, int origin) {
  return std::fseek(static_cast<StreamHandle*>(handle)->stream, offset, origin);
}

long DLL_CALLCONV TellProc(fi_handle handle) {
  return std::ftell(static_cast<StreamHandle*>(handle)->stream);
}

FreeImageIO StreamIO() { return FreeImageIO{ReadProc, WriteProc, SeekProc, TellProc}; }

std::string RandomToken() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  return std::to_string(::getpid()) + "-" + std::to_string(random()) + "-" +
         std::to_string(counter++);
}

}  // namespace

bool WriteImage(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, std::FILE* stream,
                const StopRequested& stop) {
  if (!bitmap || !stream) return false;
  StreamHandle handle{stream, &stop};
  FreeImageIO io = StreamIO();
  bool written = FreeImage_SaveToHandle(fif, bitmap, &io, &handle, 0) != FALSE;
  return written && !std::ferror(stream) && !(stop && stop());
}

CReplacingFile::CReplacingFile(std::string target) : m_target(std::move(target)) {
  struct stat existing {};
  const bool replacing = ::stat(m_target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = TemporaryNameBeside(m_target, RandomToken());
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return;
    }
    m_temporary = std::move(name);
    // A replaced file keeps its permissions; a new one gets the umask's.
    if (replacing) (void)::fchmod(fd, existing.st_mode & 07777);
    m_stream = ::fdopen(fd, "wb");
    if (!m_stream) {
      ::close(fd);
      ::unlink(m_temporary.c_str());
      m_temporary.clear();
    }
    return;
  }
}

CReplacingFile::~CReplacingFile() {
  if (m_stream) std::fclose(m_stream);
  if (!m_replaced && !m_temporary.empty()) ::unlink(m_temporary.c_str());
}

bool CReplacingFile::Close() {
  if (!m_stream) return !m_temporary.empty() && !m_writeFailed;
  m_writeFailed = std::ferror(m_stream) != 0;
  if (std::fclose(m_stream) != 0) m_writeFailed = true;
  m_stream = nullptr;
  return !m_writeFailed;
}

bool CReplacingFile::Replace() {
  if (!Close()) return false;
  m_replaced = ::rename(m_temporary.c_str(), m_target.c_str()) == 0;
  return m_replaced;
}

}  // namespace files
