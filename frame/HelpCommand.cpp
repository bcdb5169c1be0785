#include "frame/HelpCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "res/CommandIds.h"

extern char** environ;

namespace help {

std::string_view TopicFor(int id) {
  switch (id) {
    case ids::HelpGettingStarted:
      return "_GettingStarted.html";
    case ids::HelpTechSupport:
      return "_TechSupp.html";
    case ids::HelpResizing:
      return "resizing.html";
    default:
      return {};
  }
}

bool HelpFileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string HelpCommandLine(std::string_view helpPath, std::string_view topic) {
  std::string inner(helpPath);
  if (!topic.empty()) {
    inner += "::/";
    inner += topic;
  }
  std::string line(kViewerName);
  line += " \"";
  size_t backslashes = 0;
  for (char c : inner) {
    if (c == '\\') {
      ++backslashes;
    } else {
      if (c == '"') line.append(backslashes + 1, '\\');
      backslashes = 0;
    }
    line += c;
  }
  // Backslashes right before the closing quote would escape it.
  line.append(backslashes, '\\');
  line += '"';
  return line;
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  size_t i = 0;
  while (i < commandLine.size()) {
    char c = commandLine[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      size_t run = 0;
      while (i < commandLine.size() && commandLine[i] == '\\') {
        ++run;
        ++i;
      }
      if (i < commandLine.size() && commandLine[i] == '"') {
        word.append(run / 2, '\\');
        if (run % 2 == 1) {
          word += '"';
          ++i;
        }
      } else {
        word.append(run, '\\');
      }
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
    } else {
      word += c;
    }
    ++i;
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

namespace {
bool IsProgramFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder.empty() ? std::string_view(".") : folder);
  if (path.back() != '/') path += '/';
  path += name;
  return path;
}
}  // namespace

std::string FindProgram(std::string_view name, std::string_view firstFolder,
                        std::string_view searchPath) {
  if (name.find('/') != std::string_view::npos) return std::string(name);
  if (!firstFolder.empty()) {
    std::string candidate = Join(firstFolder, name);
    if (IsProgramFile(candidate)) return candidate;
  }
  size_t start = 0;
  for (;;) {
    size_t end = searchPath.find(':', start);
    std::string candidate = Join(searchPath.substr(start, end - start), name);
    if (IsProgramFile(candidate)) return candidate;
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

namespace {
void WriteError(int fd, int error) {
  ssize_t written;
  do {
    written = ::write(fd, &error, sizeof error);
  } while (written < 0 && errno == EINTR);
}
}  // namespace

int StartDetached(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& settings) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Built before the fork: the child may not allocate.
  std::vector<char*> envp;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view current(*entry);
    const bool replaced = std::any_of(settings.begin(), settings.end(), [&](const std::string& s) {
      const size_t name = s.find('=');
      return current.substr(0, name + 1) == std::string_view(s).substr(0, name + 1);
    });
    if (!replaced) envp.push_back(*entry);
  }
  for (const std::string& s : settings) envp.push_back(const_cast<char*>(s.c_str()));
  envp.push_back(nullptr);

  // The grandchild reports a failed exec through the pipe; a successful exec
  // closes it, so an empty read means the program runs.
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return errno;
  // The program gets no share of this process's terminal or pipes: whoever
  // reads our output must not wait for a viewer that stays open.
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_t child = ::fork();
  if (child < 0) {
    int error = errno;
    for (int fd : {pipeFds[0], pipeFds[1], devNull})
      if (fd >= 0) ::close(fd);
    return error;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on: the parent has threads.
    ::close(pipeFds[0]);
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::setsid();
      if (devNull >= 0)
        for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(devNull, fd);
      ::execve(program.c_str(), argv.data(), envp.data());
      WriteError(pipeFds[1], errno);
      ::_exit(127);
    }
    if (grandchild < 0) WriteError(pipeFds[1], errno);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  if (devNull >= 0) ::close(devNull);
  // The intermediate child exits at once; reaping it leaves the viewer an
  // orphan that init reaps, so no zombie is left behind.
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  do {
    n = ::read(pipeFds[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  ::close(pipeFds[0]);
  return n == static_cast<ssize_t>(sizeof error) ? error : 0;
}

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace help
