#include "cli/Inputs.h"

#include <FreeImage.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "files/SaveNames.h"

namespace cli {
namespace {

std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string ReasonOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return "does not exist";
    case EACCES:
    case EPERM:
      return "no permission to read it";
    default:
      return std::strerror(error);
  }
}

// The failure of something that is not a regular file or folder.
std::string NotAFile(mode_t mode) {
  if (S_ISFIFO(mode)) return "is a named pipe, not a picture file";
  if (S_ISSOCK(mode)) return "is a socket, not a picture file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a picture file";
  return "is not a regular file";
}

void AddFile(const std::string& path, const struct stat& info, const std::string& outputFolder,
             std::vector<Input>& inputs) {
  Input input{path, outputFolder, {}, static_cast<uint64_t>(info.st_size)};
  if (!S_ISREG(info.st_mode))
    input.failure = NotAFile(info.st_mode);
  else
    input.failure = Unreadable(path);
  inputs.push_back(std::move(input));
}

// The run's output folder, never searched for sources: what is in it are
// results. Absent without one.
struct OutputFolder {
  bool given = false;
  dev_t device = 0;
  ino_t inode = 0;
  bool Is(const struct stat& info) const {
    return given && info.st_dev == device && info.st_ino == inode;
  }
};

void AddFolder(const std::string& folder, const std::string& outputFolder,
               std::vector<Input>& inputs, int depth, const OutputFolder& results) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    inputs.push_back({folder, outputFolder,
                      errno == EACCES ? "no permission to read the folder" : ReasonOf(errno)});
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    // Hidden names hold no pictures of the user's, and the temporary files
    // of saves under way are hidden.
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = Joined(folder, name);
    struct stat linked {};
    struct stat info {};
    if (::lstat(path.c_str(), &linked) != 0 || ::stat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      // Linked folders are not followed: they could lead round in a circle.
      if (!S_ISLNK(linked.st_mode) && depth < 64 && !results.Is(info))
        AddFolder(path, outputFolder.empty() ? outputFolder : Joined(outputFolder, name), inputs,
                  depth + 1, results);
    } else if (S_ISREG(info.st_mode) && FreeImage_GetFIFFromFilename(name.c_str()) != FIF_UNKNOWN) {
      AddFile(path, info, outputFolder, inputs);
    }
  }
}

// The base name of the source whose result would be named name (a base
// name) in this run: name without the --suffix text, or without
// "_<P>percents" for any P (with --width or --height the percent depends on
// the picture). Empty when name is no result's.
std::string SourceOfResult(const std::string& name, const Options& options) {
  if (options.suffix) {
    const std::string& tail = *options.suffix;
    const bool ends = !tail.empty() && name.size() > tail.size() &&
                      name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    return ends ? name.substr(0, name.size() - tail.size()) : std::string();
  }
  constexpr std::string_view kTail = "percents";
  if (name.size() <= kTail.size() || !name.ends_with(kTail)) return {};
  size_t digits = name.size() - kTail.size();
  const size_t end = digits;
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  if (digits == end || digits < 2 || name[digits - 1] != '_') return {};
  return name.substr(0, digits - 1);
}

// The folder's identity, however its path is written; nothing when it
// cannot be looked at.
std::optional<std::pair<dev_t, ino_t>> FolderId(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &info) != 0) return std::nullopt;
  return std::make_pair(info.st_dev, info.st_ino);
}

// Leaves out the files that this run would name as the results of its other
// sources, in the folder it would write them to: a run again after Ctrl+C
// finds the results of the first.
void LeaveOutResults(std::vector<Input>& inputs, const Options& options) {
  // Result folder and base name of every source.
  std::set<std::pair<std::pair<dev_t, ino_t>, std::string>> sources;
  for (const Input& input : inputs) {
    if (!input.failure.empty()) continue;
    const auto folder =
        FolderId(input.outputFolder.empty() ? files::FolderPart(input.source) : input.outputFolder);
    if (folder) sources.emplace(*folder, files::BaseName(input.source));
  }
  std::erase_if(inputs, [&](const Input& input) {
    const std::string source = SourceOfResult(files::BaseName(input.source), options);
    if (!input.failure.empty() || source.empty()) return false;
    const auto folder = FolderId(files::FolderPart(input.source));
    return folder && sources.count({*folder, source}) > 0;
  });
}

}  // namespace

std::string Unreadable(const std::string& path) {
  // Non-blocking, so that a file that changed into a pipe meanwhile does not hang here.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return ReasonOf(errno);
  ::close(fd);
  return {};
}

std::vector<Input> ListInputs(const Options& options) {
  std::vector<Input> inputs;
  OutputFolder results;
  struct stat output {};
  if (!options.outputFolder.empty() && ::stat(options.outputFolder.c_str(), &output) == 0)
    results = {true, output.st_dev, output.st_ino};
  for (const std::string& path : options.inputs) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      inputs.push_back({path, options.outputFolder, ReasonOf(errno)});
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      if (options.recursive)
        AddFolder(path, options.outputFolder, inputs, 0, results);
      else
        inputs.push_back({path, options.outputFolder,
                          "is a folder (use --recursive to resize the pictures in it)"});
      continue;
    }
    AddFile(path, info, options.outputFolder, inputs);
  }
  LeaveOutResults(inputs, options);
  return inputs;
}

}  // namespace cli
