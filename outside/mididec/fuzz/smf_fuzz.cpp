// Arbitrary bytes through the MIDI file locator, parser and tempo map.
#include <cstdint>

#include "smf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t offset = 0, length = 0;
  if (!smf::LocateSmf(data, size, &offset, &length)) return 0;
  smf::Song song;
  if (smf::Parse(data + offset, length, &song)) (void)smf::DurationMs(song);
  return 0;
}
