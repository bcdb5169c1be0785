#pragma once

#include <string>

// Why a file could not be written, in the user's words. Any thread.
namespace files {

// The reason for a failed write to path from its errno ("the disk is
// full", "the folder is read-only", "the name is not valid"...); a generic
// reason when error is 0.
std::string SaveFailureReason(int error, const std::string& path);

}  // namespace files
