/* The public header compiled as C: its records must have the layouts the C++ side sees. */
#include <stddef.h>

#include "gannet/gannet.h"

void GannetCLayout(size_t out[10]) {
  out[0] = sizeof(MediaTrackInfo);
  out[1] = sizeof(DecoderConfig);
  out[2] = offsetof(DecoderConfig, decoderSpecificInfoSize);
  out[3] = sizeof(MovieInfo);
  out[4] = sizeof(ReferenceTrackIds);
  out[5] = sizeof(HintPacket);
  out[6] = sizeof(TrackCounts);
  out[7] = sizeof(HintRequest);
  out[8] = sizeof(EditEntry);
  out[9] = (uint32_t)kGannetTrackOther;
}

const char* GannetCResultName(int result) {
  return GannetResultName(result);
}
