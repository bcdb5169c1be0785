// libFuzzer's entry for the decoder's wire format.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::Wire(data, size);
}
