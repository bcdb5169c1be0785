// libFuzzer's entry for the metadata parsers and writers.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::Metadata(data, size);
}
