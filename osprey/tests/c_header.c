/* The public header compiled as C: its records must have the layouts the C++ side sees. */
#include <stddef.h>

#include "osprey/osprey.h"

void OspreyCLayout(size_t out[5]) {
  out[0] = sizeof(AacConfig);
  out[1] = offsetof(AacConfig, sampleRate);
  out[2] = sizeof(AudioDecoder);
  out[3] = offsetof(AudioDecoder, reset);
  out[4] = sizeof(OspreyResult);
}

const char* OspreyCResultName(int result) {
  return OspreyResultName(result);
}
