#include "files/ImageFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "files/ExportBitmap.h"
#include "files/FormatMetadata.h"
#include "files/ImageMetadata.h"
#include "files/PngProfile.h"
#include "files/PngWriter.h"
#include "files/SaveNames.h"

namespace files {

namespace {

// The stream FreeImage reads or writes, with the caller's stop request.
struct StreamHandle {
  std::FILE* stream;  // or, when null, memory
  const StopRequested* stop;
  FREE_IMAGE_FORMAT fif = FIF_UNKNOWN;  // the writer that calls, when writing
  std::vector<uint8_t>* memory = nullptr;
  size_t position = 0;   // in memory
  bool stopped = false;  // a stop was seen: nothing more is written
  bool thrown = false;
  unsigned writes = 0;
  int error = 0;  // errno of the first write that failed
};

// Writes to memory at the handle's position, growing it as a file grows.
size_t PutInMemory(StreamHandle& h, const unsigned char* in, size_t count) {
  std::vector<uint8_t>& memory = *h.memory;
  if (h.position + count > memory.size()) memory.resize(h.position + count);
  std::copy(in, in + count, memory.begin() + static_cast<std::ptrdiff_t>(h.position));
  h.position += count;
  return count;
}

bool Stopped(const StreamHandle& h) { return *h.stop && (*h.stop)(); }

// Large requests (an uncompressed strip can be the whole image) are served in
// pieces so that a stop request is seen between them.
constexpr size_t kPiece = size_t{1} << 20;

// What ends FreeImage's PNG and TIFF writers early. Both carry on after a
// failed write to the last row, but catch a C string thrown from inside
// their encoding, free their encoder and fail (FreeImage's own PNG reader
// throws one the same way). JPEG needs none: a failed write ends its
// encoder through libjpeg's error exit.
const char* const kStopped = "saving stopped";

bool StopsByThrow(const StreamHandle& h) {
  if (h.fif == FIF_PNG) return true;
  // TIFF's first write is its header, made while FreeImage opens the file,
  // outside the writer's catch; failing it fails the opening instead.
  return h.fif == FIF_TIFF && h.writes > 1;
}

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

// Writes in pieces; once a stop is seen, nothing more reaches the stream.
size_t PutBytes(StreamHandle& h, const void* buffer, size_t total) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < total && !h.stopped) {
    if (Stopped(h)) {
      h.stopped = true;
      break;
    }
    const size_t piece = std::min(kPiece, total - done);
    errno = 0;
    size_t put =
        h.memory ? PutInMemory(h, in + done, piece) : std::fwrite(in + done, 1, piece, h.stream);
    done += put;
    if (put < piece) {
      if (h.error == 0) h.error = errno != 0 ? errno : EIO;
      break;
    }
  }
  return done;
}

unsigned DLL_CALLCONV WriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  auto& h = *static_cast<StreamHandle*>(handle);
  ++h.writes;
  if (size == 0) return 0;
  const size_t done = PutBytes(h, buffer, size_t{size} * count);
  if (h.stopped && !h.thrown && StopsByThrow(h)) {
    h.thrown = true;
    throw kStopped;
  }
  return static_cast<unsigned>(done / size);
}

int DLL_CALLCONV SeekProc(fi_handle handle, long offset, int origin) {
  auto& h = *static_cast<StreamHandle*>(handle);
  if (!h.memory) return std::fseek(h.stream, offset, origin);
  const long base = origin == SEEK_SET   ? 0
                    : origin == SEEK_CUR ? static_cast<long>(h.position)
                                         : static_cast<long>(h.memory->size());
  if (offset < -base) return -1;
  h.position = static_cast<size_t>(base + offset);
  return 0;
}

long DLL_CALLCONV TellProc(fi_handle handle) {
  auto& h = *static_cast<StreamHandle*>(handle);
  return h.memory ? static_cast<long>(h.position) : std::ftell(h.stream);
}

FreeImageIO StreamIO() { return FreeImageIO{ReadProc, WriteProc, SeekProc, TellProc}; }

// libtiff, under FreeImage's TIFF writer, prints a line on standard error
// for each of some sixty EXIF tags it does not know, whenever a picture with
// EXIF is written; FreeImage tells what matters by its result.
void QuietTiffLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

// Encodes bitmap as fif to stream, or to memory when that is given, through
// the stopping write procedure. A stop that ends the encoder early is caught
// here, should the writer let it pass.
bool EncodeWithStop(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, std::FILE* stream,
                    const StopRequested& stop, int flags, std::vector<uint8_t>* memory = nullptr,
                    int* error = nullptr) {
  StreamHandle handle{stream, &stop, fif, memory};
  struct Report {
    const StreamHandle& handle;
    int* error;
    ~Report() {
      if (error && handle.error) *error = handle.error;
    }
  } report{handle, error};
  FreeImageIO io = StreamIO();
  if (fif == FIF_TIFF) QuietTiffLibrary();
  bool encoded = false;
#if defined(__SANITIZE_ADDRESS__)
  // FreeImage's JPEG and TIFF writers lose their one-row buffer when a save
  // is stopped (libjpeg's error exit, or the stop thrown into the TIFF
  // writer); the leak checker is told not to count what the encoder allocates.
  __lsan::ScopedDisabler encoderAllocations;
#endif
  try {
    encoded = FreeImage_SaveToHandle(fif, bitmap, &io, &handle, flags) != FALSE;
  } catch (const char*) {
    encoded = false;
  }
  return encoded && !handle.stopped && (memory || !std::ferror(stream));
}

constexpr char kProfileLeftOut[] =
    "The colour profile was left out of the file: PNG cannot hold this profile.";
constexpr char kBmpProfileLeftOut[] =
    "The colour profile was left out of the file: BMP cannot hold one.";
constexpr char kSettingsLeftOut[] =
    "The EXIF camera settings were left out of the TIFF, which keeps the colour profile.";

// As FreeImage's PNG writer chooses: grey pictures without transparency are
// written in grey.
bool WrittenInColour(FIBITMAP* bitmap) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
  if (type == FIT_UINT16) return false;
  if (type != FIT_BITMAP || FreeImage_GetBPP(bitmap) > 8) return true;
  const FREE_IMAGE_COLOR_TYPE colour = FreeImage_GetColorType(bitmap);
  return (colour != FIC_MINISBLACK && colour != FIC_MINISWHITE) || FreeImage_IsTransparent(bitmap);
}

// The file a path names, its symbolic links followed, so that replacing it
// keeps the links; a link to nothing names the file it would point at.
std::string FollowLinks(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::string link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096), '\0');
    const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
    if (length <= 0) return path;
    link.resize(static_cast<size_t>(length));
    if (link.front() == '/') {
      path = link;
    } else {
      const size_t slash = path.rfind('/');
      path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + link;
    }
  }
  return path;
}

std::string RandomToken() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  return std::to_string(::getpid()) + "-" + std::to_string(random()) + "-" +
         std::to_string(counter++);
}

// The PNG writer of every core, with FreeImage's writer making the frame
// around the picture data; NotMine when the bitmap is left to FreeImage.
PngWrite PngOnEveryCore(FIBITMAP* bitmap, const std::vector<uint8_t>& exif, std::FILE* stream,
                        const StopRequested& stop, const WriteExtras& extras, int* error) {
  FIBITMAP* frameBitmap = PngFrameBitmap(bitmap);
  if (!frameBitmap) return PngWrite::NotMine;
  // Once stop has said so, it is not asked again.
  bool stopped = false;
  const StopRequested latched = [&] { return stopped || (stopped = stop && stop()); };
  std::vector<uint8_t> frame;
  const bool made = EncodeWithStop(frameBitmap, FIF_PNG, nullptr, latched, 0, &frame);
  FreeImage_Unload(frameBitmap);
  if (!made) return stopped ? PngWrite::Failed : PngWrite::NotMine;
  if (!exif.empty() && !AddExifToPng(frame, exif)) return PngWrite::NotMine;
  StreamHandle handle{stream, &latched};
  const PngWrite result = WritePngStrips(
      bitmap, frame,
      [&handle](const uint8_t* bytes, size_t count) {
        return PutBytes(handle, bytes, count) == count;
      },
      latched, extras.progress);
  *error = handle.error;
  return result;
}

}  // namespace

bool WriteImage(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, std::FILE* stream,
                const StopRequested& stop, std::string* notice, int flags,
                const WriteExtras& extras) {
  if (!bitmap || !stream || (stop && stop())) return false;
  FIBITMAP* exportable = ExportableBitmap(bitmap, fif);
  if (!exportable) return false;
  std::string leftOut;
  // A profile the PNG writer refuses would cost the whole file: it is left
  // out of this file, and given back to the bitmap afterwards.
  std::vector<uint8_t> heldProfile;
  const FIICCPROFILE* icc = FreeImage_GetICCProfile(exportable);
  const bool hasProfile = icc && icc->data && icc->size > 0;
  if (hasProfile && fif == FIF_PNG &&
      !PngTakesProfile(icc->data, static_cast<size_t>(icc->size), WrittenInColour(exportable))) {
    const auto* data = static_cast<const uint8_t*>(icc->data);
    heldProfile.assign(data, data + icc->size);
    const WORD flags = icc->flags;
    FreeImage_DestroyICCProfile(exportable);
    FreeImage_GetICCProfile(exportable)->flags = flags;
    leftOut = kProfileLeftOut;
  }
  if (hasProfile && fif == FIF_BMP) leftOut = kBmpProfileLeftOut;
  const std::vector<uint8_t> exif = CarriedExif(exportable);
  bool written = false;
  int error = 0;
  const PngWrite png = fif == FIF_PNG && flags == 0
                           ? PngOnEveryCore(exportable, exif, stream, stop, extras, &error)
                           : PngWrite::NotMine;
  if (png != PngWrite::NotMine) {
    written = png == PngWrite::Written;
  } else if (!exif.empty() && (fif == FIF_PNG || fif == FIF_TIFF)) {
    // The writer leaves the EXIF out: the file is made in memory and given it.
    std::vector<uint8_t> bytes;
    if (EncodeWithStop(exportable, fif, nullptr, stop, flags, &bytes)) {
      if (fif == FIF_PNG) {
        AddExifToPng(bytes, exif);
      } else {
        // FreeImage's TIFF reader frees the profile of a file that links an
        // Exif directory before it copies it: such a file keeps its
        // profile and its main EXIF tags, not the camera's settings.
        AddExifToTiff(bytes, exif, !hasProfile);
        if (hasProfile && ExifHasSettings(exif) && leftOut.empty()) leftOut = kSettingsLeftOut;
      }
      StreamHandle handle{stream, &stop};
      written = PutBytes(handle, bytes.data(), bytes.size()) == bytes.size();
      error = handle.error;
    }
  } else {
    written = EncodeWithStop(exportable, fif, stream, stop, flags, nullptr, &error);
  }
  if (extras.error) *extras.error = error;
  if (written && extras.progress) extras.progress(1.0);
  if (!heldProfile.empty()) {
    const WORD profileFlags = FreeImage_GetICCProfile(exportable)->flags;
    FreeImage_CreateICCProfile(exportable, heldProfile.data(),
                               static_cast<long>(heldProfile.size()));
    FreeImage_GetICCProfile(exportable)->flags = profileFlags;
  }
  if (exportable != bitmap) FreeImage_Unload(exportable);
  if (notice) *notice = leftOut;
  return written && !std::ferror(stream) && !(stop && stop());
}

CReplacingFile::CReplacingFile(std::string target) : m_target(FollowLinks(std::move(target))) {
  struct stat existing {};
  const bool replacing = ::stat(m_target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  const bool writable = replacing && ::access(m_target.c_str(), W_OK) == 0;
  // A renamed file would lose the target's other names and an owner that
  // only the owner could give back: such a target is written in place.
  const uid_t self = ::geteuid();
  if (writable && (existing.st_nlink > 1 || (self != 0 && existing.st_uid != self))) {
    OpenInPlace();
    return;
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = TemporaryNameBeside(m_target, RandomToken());
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      m_error = errno;
      // A folder that takes no new file may still hold a writable target.
      if (writable && (errno == EACCES || errno == EPERM || errno == EROFS)) OpenInPlace();
      return;
    }
    m_temporary = std::move(name);
    // A replaced file keeps its permissions and, where that may be given,
    // its owner; a new one gets the umask's and the writer's.
    if (replacing) {
      (void)::fchown(fd, existing.st_uid, existing.st_gid);
      (void)::fchmod(fd, existing.st_mode & 07777);
    }
    m_stream = ::fdopen(fd, "wb");
    if (!m_stream) {
      m_error = errno;
      ::close(fd);
      ::unlink(m_temporary.c_str());
      m_temporary.clear();
    }
    return;
  }
}

void CReplacingFile::OpenInPlace() {
  // The picture is made in a scratch file first, so that a failed or stopped
  // write leaves the target as it was. Not a memory stream: the TIFF writer
  // reads back what it has written, which such a stream cannot give.
  m_inPlace = true;
  m_stream = std::tmpfile();
}

CReplacingFile::~CReplacingFile() {
  if (m_stream) std::fclose(m_stream);
  if (!m_replaced && !m_temporary.empty()) ::unlink(m_temporary.c_str());
}

bool CReplacingFile::Close() {
  if (!m_stream) return (m_inPlace || !m_temporary.empty()) && !m_writeFailed;
  m_writeFailed = std::ferror(m_stream) != 0;
  errno = 0;
  if (std::fclose(m_stream) != 0) {
    m_writeFailed = true;
    m_error = errno;
  }
  m_stream = nullptr;
  return !m_writeFailed;
}

bool CReplacingFile::Replace() {
  if (m_inPlace) {
    m_replaced = m_stream && !std::ferror(m_stream) && std::fflush(m_stream) == 0 && WriteInPlace();
    return Close() && m_replaced;
  }
  if (!Close()) return false;
  m_replaced = ::rename(m_temporary.c_str(), m_target.c_str()) == 0;
  if (!m_replaced) m_error = errno;
  return m_replaced;
}

bool CReplacingFile::WriteInPlace() {
  if (std::fseek(m_stream, 0, SEEK_SET) != 0) return false;
  const int fd = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    m_error = errno;
    return false;
  }
  std::vector<char> piece(kPiece);
  uint64_t done = 0;
  bool ok = true;
  for (size_t got; ok && (got = std::fread(piece.data(), 1, piece.size(), m_stream)) > 0;) {
    for (size_t at = 0; ok && at < got;) {
      const ssize_t put = ::write(fd, piece.data() + at, got - at);
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      if (ok) at += static_cast<size_t>(put);
    }
    done += got;
  }
  ok = ok && !std::ferror(m_stream) && ::ftruncate(fd, static_cast<off_t>(done)) == 0;
  ok = ::fsync(fd) == 0 && ok;
  if (!ok) m_error = errno;
  return ::close(fd) == 0 && ok;
}

}  // namespace files
