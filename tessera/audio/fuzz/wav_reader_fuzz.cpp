// Feeds arbitrary bytes to the clip recogniser and the WAV reader, reading the whole
// clip in buffers of a few sizes and seeking around.
#include <cstdint>
#include <vector>

#include "audio/clip_player.h"
#include "audio/wav_reader.h"
#include "mms/byte_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  audio::ByteStreamClip stream(mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size)));
  audio::RecogniseClip(&stream);
  audio::WavReader reader;
  if (reader.Open(&stream, 0) != 0) return 0;
  std::vector<std::uint8_t> buffer(6400);
  int ms = 0;
  for (int i = 0; i < 64 && reader.Read(buffer.data(), static_cast<int>(buffer.size()), &ms) > 0; ++i) {
  }
  reader.Seek(reader.Duration() / 2);
  reader.Read(buffer.data(), 100, &ms);
  reader.Read(buffer.data(), static_cast<int>(buffer.size()), &ms);
  return 0;
}
