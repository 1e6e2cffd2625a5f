/// ADTS framing of AAC streams (.aac files): finds frames and turns a frame
/// header into the AudioSpecificConfig that gCreateAACDecoder takes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace osprey {

struct AdtsFrame {
  uint8_t objectType = 0;  ///< profile + 1
  uint8_t sfIndex = 0;
  uint8_t channelConfig = 0;
  uint8_t rawBlocks = 1;  ///< raw data blocks in the frame
  size_t headerSize = 0;  ///< 7, or 9 with CRC
  size_t frameSize = 0;   ///< header and payload
};

/// Parses the ADTS header at data[0..size). Returns false when there is no
/// valid header or the frame runs past the end.
bool ParseAdtsHeader(const uint8_t* data, size_t size, AdtsFrame& frame);

/// Writes the 2-byte AudioSpecificConfig for a frame's header.
void AdtsToAudioSpecificConfig(const AdtsFrame& frame, uint8_t asc[2]);

}  // namespace osprey
