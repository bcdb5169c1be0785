#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Options.h"

// The files a run works on, from the command line's files and folders.
// Main thread, before any job starts.
namespace cli {

struct Input {
  std::string source;        // the path, as given or as found in a folder
  std::string outputFolder;  // where the result goes; empty: beside the source
  std::string failure;       // non-empty: fails before any work, for this reason
  uint64_t bytes = 0;        // the file's size: its weight in the time left
};

// Files stay in the order given; a folder (with recursive) adds the picture
// files under it in name order, its subfolders' too, leaving out hidden
// names and files whose name no picture format claims. With an output
// folder, a folder's subfolders are made again under it. A missing path, an
// unreadable one, a folder without recursive and anything but a regular file
// come back with their failure. A subfolder that is the output folder is
// never searched, and
// files named as this run would name the results of its other sources, in
// the folder it writes those to, are left out.
std::vector<Input> ListInputs(const Options& options);

// Why a regular file cannot be read, in plain words; empty when it can.
std::string Unreadable(const std::string& path);

}  // namespace cli
