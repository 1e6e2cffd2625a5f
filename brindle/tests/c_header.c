/* The public header compiled as C: its records must have the layouts the C++ side sees. */
#include <stddef.h>

#include "brindle/brindle.h"

void BrindleCLayout(size_t out[8]) {
  out[0] = sizeof(StreamInfo);
  out[1] = sizeof(CreationRecord);
  out[2] = sizeof(PictureSummary);
  out[3] = offsetof(PictureSummary, width);
  out[4] = sizeof(PlanarFrame);
  out[5] = sizeof(VideoDecoder);
  out[6] = offsetof(VideoDecoder, destroy);
  out[7] = sizeof(BrindleResult);
}

const char* BrindleCResultName(int32_t result) {
  return BrindleResultName(result);
}
