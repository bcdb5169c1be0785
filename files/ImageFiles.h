#pragma once

#include <FreeImage.h>

#include <cstdio>
#include <functional>
#include <string>

// Writing image files through FreeImage on streams of our own, so that
// UTF-8 paths of any length work and an abandoned job stops at its next
// write. Called on worker threads; each call touches only its
// own file and bitmap.
namespace files {

// True once the caller no longer wants the outcome; checked between writes.
using StopRequested = std::function<bool()>;

// What a save reports besides its outcome.
struct WriteExtras {
  // The share of the file written so far, 0 to 1; called on the writing
  // thread, for formats whose writer tells it.
  std::function<void(double)> progress;
  int* error = nullptr;  // receives the errno of a write that failed, else 0
};

// Writes bitmap as fif to stream with FreeImage's save flags (0: the
// library's defaults); false when the format cannot take the bitmap, a write
// fails or stop was requested. Metadata the format cannot take is left out of
// the file, never the picture: notice, when given, receives the status bar's
// word on it (empty when all was written). PNG is written on every core.
bool WriteImage(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif, std::FILE* stream,
                const StopRequested& stop, std::string* notice = nullptr, int flags = 0,
                const WriteExtras& extras = {});

// Used by one thread at a time. A file that replaces its target only once it
// is complete: it is written under a temporary name in the target's folder
// and renamed over the target by Replace. Until then the target is untouched;
// the temporary file is removed when the object goes without Replace having
// succeeded. A symbolic link is followed and the file it names replaced. A
// target in a folder that takes no new file, or one with other hard links or
// another owner, is written in place by Replace, from an unnamed scratch
// file, and keeps its owner, mode and links.
class CReplacingFile {
 public:
  explicit CReplacingFile(std::string target);
  ~CReplacingFile();
  CReplacingFile(const CReplacingFile&) = delete;
  CReplacingFile& operator=(const CReplacingFile&) = delete;

  // Null when the temporary file could not be created.
  std::FILE* Stream() const { return m_stream; }
  const std::string& TemporaryPath() const { return m_temporary; }
  // Flushes and closes the stream; false when anything failed to reach the
  // file. A file written in place is written by Replace, not here.
  bool Close();
  // Closes if needed, then renames the temporary file over the target (or
  // writes the target in place).
  bool Replace();
  bool InPlace() const { return m_inPlace; }
  // The errno of what failed: making the file, closing or renaming it.
  int Error() const { return m_error; }

 private:
  void OpenInPlace();
  bool WriteInPlace();

  std::string m_target;
  std::string m_temporary;
  std::FILE* m_stream = nullptr;
  bool m_writeFailed = false;
  bool m_replaced = false;
  bool m_inPlace = false;
  int m_error = 0;
};

}  // namespace files
