#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <string>

// Decoding an image file in a process of its own (the decoder built beside
// the program), so that a decoder that crashes, runs without end or allocates
// without bound costs only that process. Called on a worker thread; each call
// owns its own process and descriptors.
namespace files {

// Outcome codes of a load, as the load's done message carries them.
enum LoadCode : int { kNotRecognised = 0, kLoaded = 1, kReadFailed = 2 };

struct DecodeRequest {
  std::string path;              // UTF-8
  uint64_t memoryAvailable = 0;  // bytes the program can still use
  int stopFd = -1;               // readable once the outcome is no longer wanted
  std::string testFault;         // handed to the decoder for tests; empty otherwise
};

// Why a load gave no picture.
enum class LoadFailure {
  None,
  Missing,       // no file by that name
  NoPermission,  // the file may not be read
  NotAPicture,   // not a regular file, or contents of no type that can be read
  TooLarge,      // the picture cannot fit in the memory available
  Damaged,       // the decoder failed, or the file cannot hold what it declares
  TooSlow,       // the decoder ran past its time bound, or stopped working
  Aborted,       // the caller stopped wanting it
  NoDecoder,     // the decoder process could not be started
};

struct DecodeOutcome {
  FIBITMAP* bitmap = nullptr;  // owned by the caller; null unless code is kLoaded
  LoadCode code = kNotRecognised;
  bool incomplete = false;  // the decoder ran out of data; the rest of the bitmap is blank
  LoadFailure failure = LoadFailure::None;
  uint32_t width = 0, height = 0;          // the declared size when failure is TooLarge
  FREE_IMAGE_FORMAT format = FIF_UNKNOWN;  // of the file's contents, when a picture came
  uint32_t frames = 1;                     // the pictures the file holds, the first of them opened
};

// Reads the image at path, its type found from the file's contents. Only a
// regular file is opened, and opening never blocks. A path that cannot be
// opened, contents of no known type, and a decoder that crashes, is stopped,
// stops working or runs past its time bound are not recognised; a known type that cannot be
// decoded, or whose declared size cannot fit in memory, is a failed read.
// failure tells which of these it was. The bitmap is the one FreeImage_Load
// gives, metadata and ICC profile included.
DecodeOutcome DecodeImageFile(const DecodeRequest& request);

// The decoder executable: beside the running program.
std::string DecoderPath();

}  // namespace files
