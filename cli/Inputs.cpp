#include "cli/Inputs.h"

#include <FreeImage.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

void AddFolder(const std::string& folder, const std::string& outputFolder,
               std::vector<Input>& inputs, int depth) {
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
      if (!S_ISLNK(linked.st_mode) && depth < 64)
        AddFolder(path, outputFolder.empty() ? outputFolder : Joined(outputFolder, name), inputs,
                  depth + 1);
    } else if (S_ISREG(info.st_mode) && FreeImage_GetFIFFromFilename(name.c_str()) != FIF_UNKNOWN) {
      AddFile(path, info, outputFolder, inputs);
    }
  }
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
  for (const std::string& path : options.inputs) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      inputs.push_back({path, options.outputFolder, ReasonOf(errno)});
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      if (options.recursive)
        AddFolder(path, options.outputFolder, inputs, 0);
      else
        inputs.push_back({path, options.outputFolder,
                          "is a folder (use --recursive to resize the pictures in it)"});
      continue;
    }
    AddFile(path, info, options.outputFolder, inputs);
  }
  return inputs;
}

}  // namespace cli
