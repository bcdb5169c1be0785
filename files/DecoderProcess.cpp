#include "files/DecoderProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "files/ImageWire.h"
#include "platform/ExecutableFolder.h"

extern char** environ;

namespace files {

namespace {

// A decoder still there after this long is taken for one that never ends;
// its processor time has a tighter bound of its own.
constexpr std::chrono::seconds kTimeBound{120};
// A decoder that has slept this long without a moment of processor time or
// a byte of reply waits for nothing that will come.
constexpr std::chrono::milliseconds kIdleBound{2000};
constexpr std::chrono::milliseconds kIdleCheck{250};
// A reply beyond this is no description of a bitmap (the pixels come apart).
constexpr size_t kReplyBound = size_t{256} << 20;
// Pixels of this size or more sit on pages of their own in every process.
constexpr uint64_t kMappedPixels = uint64_t{32} << 20;

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  void Reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

// Only a regular file holds an image. The type is checked before opening, so
// that a named pipe or a device is never opened, and again on the open
// descriptor, in case the name changed hands in between; O_NONBLOCK keeps
// even that open from waiting. Says why when it cannot be opened.
LoadFailure OpenRegularFile(const std::string& path, Fd& file) {
  const auto failureOf = [](int error) {
    switch (error) {
      case ENOENT:
      case ENOTDIR:
      case ENAMETOOLONG:
        return LoadFailure::Missing;
      case EACCES:
      case EPERM:
        return LoadFailure::NoPermission;
      case EIO:
        return LoadFailure::Damaged;
      default:
        return LoadFailure::NotAPicture;
    }
  };
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) return failureOf(errno);
  if (!S_ISREG(named.st_mode)) return LoadFailure::NotAPicture;
  file.Reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!file.Valid()) return failureOf(errno);
  struct stat opened {};
  const bool same = ::fstat(file.Get(), &opened) == 0 && S_ISREG(opened.st_mode) &&
                    opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
  return same ? LoadFailure::None : LoadFailure::NotAPicture;
}

// Moves fd above the standard descriptors, so that placing the child's
// descriptors cannot overwrite one before it is placed.
int Lifted(Fd& fd) {
  if (fd.Get() < 10) fd.Reset(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 10));
  return fd.Get();
}

// The decoder process; one that is still there when this goes is killed and
// reaped, so that no way out of a decode leaves it running.
struct Child {
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    Reap();
  }
  int Reap() {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return status;
  }

  pid_t pid = -1;
  Fd pidfd;
  Fd reply;
};

bool Spawn(const DecodeRequest& request, Fd& image, Fd& pixels, Child& child) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  child.reply.Reset(ends[0]);
  Fd replyEnd(ends[1]);
  if (Lifted(image) < 0 || Lifted(pixels) < 0 || Lifted(replyEnd) < 0 || Lifted(child.reply) < 0)
    return false;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, image.Get(), 0);
  posix_spawn_file_actions_adddup2(&actions, replyEnd.Get(), 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pixels.Get(), 3);
  posix_spawn_file_actions_addclosefrom_np(&actions, 4);

  const std::string program = DecoderPath();
  std::string memory = "--memory=" + std::to_string(request.memoryAvailable);
  std::string fault = "--test-fault=" + request.testFault;
  std::vector<char*> argv{const_cast<char*>(program.c_str()), memory.data()};
  if (!request.testFault.empty()) argv.push_back(fault.data());
  argv.push_back(nullptr);
  // Huge pages where the system offers them: the decoder's bitmap is cleared
  // and filled with a five-hundredth of the page faults.
  std::vector<char*> environment;
  for (char** entry = environ; *entry; ++entry) {
    if (std::strncmp(*entry, "GLIBC_TUNABLES=", 15) != 0) environment.push_back(*entry);
  }
  std::string tunables = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";
  environment.push_back(tunables.data());
  environment.push_back(nullptr);
  const int spawned = ::posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(),
                                    environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    child.pid = -1;
    return false;
  }
  child.pidfd.Reset(static_cast<int>(::syscall(SYS_pidfd_open, child.pid, 0)));
  return true;
}

// Room for the bitmap, made on a thread of its own while the decoder
// decodes: clearing a big bitmap's memory costs as much as decoding into it.
class Room {
 public:
  Room() = default;
  Room(const Room&) = delete;
  Room& operator=(const Room&) = delete;
  ~Room() {
    if (FIBITMAP* unused = Take()) FreeImage_Unload(unused);
  }
  void Make(const wire::Shape& shape) {
    try {
      m_maker = std::thread([this, shape] { m_bitmap = wire::Allocate(shape); });
    } catch (const std::system_error&) {
      // No thread: the room is made once the decoder is done.
    }
  }
  FIBITMAP* Take() {
    if (m_maker.joinable()) m_maker.join();
    return std::exchange(m_bitmap, nullptr);
  }

 private:
  std::thread m_maker;
  FIBITMAP* m_bitmap = nullptr;
};

enum class Ending { Finished, Stopped, TooSlow, Killed };

// The process's state letter and the processor time it has had, in clock
// ticks, from /proc; nothing once it is gone.
std::optional<std::pair<char, uint64_t>> ProcessState(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
  Fd fields(::open(path, O_RDONLY | O_CLOEXEC));
  char text[1024];
  const ssize_t got = fields.Valid() ? ::read(fields.Get(), text, sizeof text - 1) : -1;
  if (got <= 0) return std::nullopt;
  text[got] = '\0';
  // The name, in parentheses, may hold anything; the fields follow the last ')'.
  const char* after = std::strrchr(text, ')');
  char state = 0;
  unsigned long long user = 0, system = 0;
  if (!after || std::sscanf(after + 1, " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu",
                            &state, &user, &system) != 3) {
    return std::nullopt;
  }
  return std::make_pair(state, uint64_t(user + system));
}

// Whether the process waits in a read of its descriptor 0, the image file:
// a slow network share, not a decoder that stopped working.
bool ReadingTheImage(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/syscall", int(pid));
  Fd calls(::open(path, O_RDONLY | O_CLOEXEC));
  char text[256];
  const ssize_t got = calls.Valid() ? ::read(calls.Get(), text, sizeof text - 1) : -1;
  if (got <= 0) return false;
  text[got] = '\0';
  long call = -1;
  unsigned long fd = 1;
  if (std::sscanf(text, "%ld %lx", &call, &fd) != 2) return false;
  return fd == 0 && (call == SYS_read || call == SYS_pread64 || call == SYS_readv ||
                     call == SYS_preadv || call == SYS_preadv2);
}

// Tells a decoder that sleeps without end (asleep or stopped, no processor
// time, no reply) from one that works or waits for the disk or the file.
class IdleWatch {
 public:
  explicit IdleWatch(pid_t pid) : m_pid(pid) {}
  // Called whenever the reply grew, and on every check.
  void Worked() { m_since = std::chrono::steady_clock::now(); }
  bool Idle() {
    const auto state = ProcessState(m_pid);
    if (!state) return false;
    const bool asleep = state->first == 'S' || state->first == 'T' || state->first == 't';
    if (!asleep || state->second != m_ticks || ReadingTheImage(m_pid)) {
      m_ticks = state->second;
      Worked();
      return false;
    }
    return std::chrono::steady_clock::now() - m_since >= kIdleBound;
  }

 private:
  pid_t m_pid;
  uint64_t m_ticks = UINT64_MAX;
  std::chrono::steady_clock::time_point m_since = std::chrono::steady_clock::now();
};

// Waits for the child to end, collecting its reply. It is killed when the
// caller stops wanting it (Stopped), when it runs past its bound or sleeps
// without end (TooSlow), or when its reply outgrows any description
// (Killed). It has ended once its process has, whoever else may hold the
// reply's other end. status is waitpid's.
Ending Collect(Child& child, int stopFd, std::string& reply, int& status, Room& room) {
  const auto deadline = std::chrono::steady_clock::now() + kTimeBound;
  bool finished = false;
  Ending ending = Ending::TooSlow;  // unless something else ends the wait
  bool replyOpen = true;
  bool shapeSeen = false;
  IdleWatch idle(child.pid);
  const auto readReply = [&] {
    char buffer[65536];
    const ssize_t got = ::read(child.reply.Get(), buffer, sizeof buffer);
    if (got > 0) reply.append(buffer, static_cast<size_t>(got));
    if (got == 0) replyOpen = false;
    if (got < 0 && errno != EINTR && errno != EAGAIN) replyOpen = false;
    if (got > 0) idle.Worked();
    return got > 0;
  };
  while (!finished) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fds[3] = {{replyOpen ? child.reply.Get() : -1, POLLIN, 0},
                     {child.pidfd.Get(), POLLIN, 0},
                     {stopFd, POLLIN, 0}};
    const int ready = ::poll(fds, 3, static_cast<int>(std::min(left, kIdleCheck).count()));
    if (ready < 0 && errno != EINTR) {
      ending = Ending::Killed;
      break;
    }
    if (ready == 0 && idle.Idle()) break;
    if (ready <= 0) continue;
    if (fds[2].revents) {
      ending = Ending::Stopped;
      break;
    }
    // A process that has ended wrote all it will: what is in the pipe.
    if (fds[1].revents && replyOpen) {
      ::fcntl(child.reply.Get(), F_SETFL, O_NONBLOCK);
      while (replyOpen && readReply() && reply.size() <= kReplyBound) {
      }
      replyOpen = false;
    }
    if (fds[0].revents) readReply();
    if (reply.size() > kReplyBound) {
      ending = Ending::Killed;
      break;
    }
    if (!shapeSeen && reply.size() >= wire::kShapeRecordBytes) {
      shapeSeen = true;
      wire::Reader in(reply);
      std::optional<wire::Shape> shape;
      if (wire::GetShape(in, shape) && shape) room.Make(*shape);
    }
    // Without a process descriptor, the end of the reply stands for the end
    // of the process.
    finished = !replyOpen && (!child.pidfd.Valid() || fds[1].revents);
  }
  if (!finished) ::kill(child.pid, SIGKILL);
  status = child.Reap();
  return finished ? Ending::Finished : ending;
}

bool ReadAt(int fd, char* to, uint64_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t got = ::pread(fd, to, size, off_t(offset));
    if (got <= 0) return false;
    to += got;
    size -= uint64_t(got);
    offset += uint64_t(got);
  }
  return true;
}

// Puts the pixels the decoder left in the memory file at to. Where the
// bitmap's own pages and the file's have the same layout (a big bitmap has
// its own pages, 16 bytes in, in both processes), the file's pages are mapped
// in place of the bitmap's: no copy. The bitmap's memory is then freed with
// the bitmap as always, the file's pages with it.
bool PlacePixels(int pixels, void* to, uint64_t size, uint64_t offset) {
  struct stat info {};
  if (::fstat(pixels, &info) != 0 || uint64_t(info.st_size) < offset ||
      uint64_t(info.st_size) - offset < size) {
    return false;
  }
  const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
  const auto at = reinterpret_cast<uintptr_t>(to);
  char* bytes = static_cast<char*>(to);
  if (size < kMappedPixels || at % page != offset % page)
    return ReadAt(pixels, bytes, size, offset);
  const uint64_t head = (page - at % page) % page;
  const uint64_t body = (size - head) / page * page;
  void* mapped = ::mmap(bytes + head, body, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, pixels,
                        off_t(offset + head));
  if (mapped == MAP_FAILED) return ReadAt(pixels, bytes, size, offset);
  return ReadAt(pixels, bytes, head, offset) &&
         ReadAt(pixels, bytes + head + body, size - head - body, offset + head + body);
}

// The outcome of a load that gave no picture.
DecodeOutcome Failed(LoadCode code, LoadFailure failure, uint32_t width = 0, uint32_t height = 0) {
  DecodeOutcome outcome;
  outcome.code = code;
  outcome.failure = failure;
  outcome.width = width;
  outcome.height = height;
  return outcome;
}

DecodeOutcome Decode(const DecodeRequest& request) {
  Fd image;
  if (const LoadFailure failure = OpenRegularFile(request.path, image);
      failure != LoadFailure::None) {
    return Failed(kNotRecognised, failure);
  }
  Fd pixels(::memfd_create("magnova-pixels", MFD_CLOEXEC));
  Child child;
  if (!pixels.Valid() || !Spawn(request, image, pixels, child))
    return Failed(kNotRecognised, LoadFailure::NoDecoder);
  image.Reset();

  std::string reply;
  int status = 0;
  Room room;
  const Ending ending = Collect(child, request.stopFd, reply, status, room);
  switch (ending) {
    case Ending::Finished:
      break;
    case Ending::Stopped:
      return Failed(kNotRecognised, LoadFailure::Aborted);
    case Ending::TooSlow:
      return Failed(kNotRecognised, LoadFailure::TooSlow);
    case Ending::Killed:
      return Failed(kNotRecognised, LoadFailure::Damaged);
  }
  // The decoder's processor time ran out.
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
    return Failed(kNotRecognised, LoadFailure::TooSlow);
  // A decoder that crashed or was killed by its limits recognised nothing,
  // whatever it said before: it failed on what it read.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return Failed(kNotRecognised, LoadFailure::Damaged);

  wire::Reader in(reply);
  wire::Verdict said;
  std::optional<wire::Shape> shape;
  if (!wire::GetShape(in, shape) || !wire::GetReply(in, said))
    return Failed(kNotRecognised, LoadFailure::Damaged);
  switch (said.status) {
    case wire::Status::NotRecognised:
      return Failed(kNotRecognised, LoadFailure::NotAPicture);
    case wire::Status::ReadFailed:
      return Failed(kReadFailed, LoadFailure::Damaged);
    case wire::Status::TooLarge:
      return Failed(kReadFailed, LoadFailure::TooLarge, said.width, said.height);
    case wire::Status::Loaded:
      break;
  }
  const int pixelFd = pixels.Get();
  FIBITMAP* bitmap = wire::GetBitmap(
      in,
      [pixelFd](void* to, uint64_t size, uint64_t offset) {
        return PlacePixels(pixelFd, to, size, offset);
      },
      room.Take());
  if (bitmap && !in.AtEnd()) {
    FreeImage_Unload(bitmap);
    return Failed(kReadFailed, LoadFailure::Damaged);
  }
  // A sound reply that cannot be rebuilt here: memory ran short.
  if (!bitmap) {
    return Failed(kReadFailed, LoadFailure::TooLarge, shape ? shape->width : 0,
                  shape ? shape->height : 0);
  }
  DecodeOutcome outcome;
  outcome.bitmap = bitmap;
  outcome.code = kLoaded;
  outcome.incomplete = said.incomplete;
  outcome.format = static_cast<FREE_IMAGE_FORMAT>(said.format);
  outcome.frames = said.frames;
  return outcome;
}

}  // namespace

DecodeOutcome DecodeImageFile(const DecodeRequest& request) {
  try {
    return Decode(request);
  } catch (...) {
    // Memory for the reply ran out: nothing was made.
    return Failed(kNotRecognised, LoadFailure::TooLarge);
  }
}

std::string DecoderPath() { return platform::ExecutableFolder() + "magnova-decoder"; }

}  // namespace files
