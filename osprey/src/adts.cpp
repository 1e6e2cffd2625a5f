#include "osprey/adts.h"

namespace osprey {

bool ParseAdtsHeader(const uint8_t* data, size_t size, AdtsFrame& frame) {
  if (size < 7) return false;
  if (data[0] != 0xFF || (data[1] & 0xF6) != 0xF0) return false;  // syncword, layer 0
  const bool protectionAbsent = data[1] & 1;
  frame.objectType = static_cast<uint8_t>((data[2] >> 6) + 1);
  frame.sfIndex = static_cast<uint8_t>((data[2] >> 2) & 0x0F);
  frame.channelConfig = static_cast<uint8_t>(((data[2] & 1) << 2) | (data[3] >> 6));
  frame.frameSize =
      (static_cast<size_t>(data[3] & 3) << 11) | (static_cast<size_t>(data[4]) << 3) | (data[5] >> 5);
  frame.rawBlocks = static_cast<uint8_t>((data[6] & 3) + 1);
  frame.headerSize = protectionAbsent ? 7 : 9;
  return frame.frameSize >= frame.headerSize && frame.frameSize <= size;
}

void AdtsToAudioSpecificConfig(const AdtsFrame& frame, uint8_t asc[2]) {
  // audioObjectType(5) samplingFrequencyIndex(4) channelConfiguration(4) and
  // three zero GASpecificConfig flags.
  asc[0] = static_cast<uint8_t>((frame.objectType << 3) | (frame.sfIndex >> 1));
  asc[1] = static_cast<uint8_t>(((frame.sfIndex & 1) << 7) | ((frame.channelConfig & 0x0F) << 3));
}

}  // namespace osprey
