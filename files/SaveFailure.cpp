#include "files/SaveFailure.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/SaveNames.h"

namespace files {

std::string SaveFailureReason(int error, const std::string& path) {
  switch (error) {
    case 0:
      return "the picture could not be encoded";
    case EACCES:
    case EPERM: {
      const std::string folder = FolderPart(path);
      const char* at = folder.empty() ? "." : folder.c_str();
      // A folder that may be entered but not written to is read-only to us.
      if (::access(at, X_OK) == 0 && ::access(at, W_OK) != 0) return "the folder is read-only";
      return "no permission to write it";
    }
    case EROFS:
      return "the folder is on a read-only disk";
    case ENOSPC:
    case EDQUOT:
      return "the disk is full";
    case EFBIG:
      return "the file is too large for the disk";
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
    case EISDIR:
      return "the name is not valid";
    case ENOENT:
    case ENOTDIR:
      return "its folder does not exist";
    default:
      return std::strerror(error);
  }
}

}  // namespace files
