// "Amr.dec": AMR-NB files ("#!AMR\n" then storage-format frames) decoded with
// opencore-amrnb to 8 kHz 16-bit mono, 20 ms (320 bytes) per frame.
#include <opencore-amrnb/interf_dec.h>

#include <cstring>
#include <vector>

#include "amr_frames.h"
#include "audio/clip_decoder.h"

namespace {

class AmrDecoder final : public audio::ClipDecoder {
 public:
  ~AmrDecoder() override { Close(); }

  int Open(audio::ClipStream* stream, int) override {
    Close();
    if (!stream || stream->Seek(0, audio::ClipStream::kFromEnd) != 0) return -1;
    std::int64_t size = stream->Tell();
    if (size < 6 || size > amrfile::kMaxFileBytes || stream->Seek(0, audio::ClipStream::kFromStart) != 0)
      return -1;
    data_.resize(static_cast<std::size_t>(size));
    if (stream->Read(data_.data(), size) != size) return -1;
    if (!amrfile::IndexFrames(data_.data(), data_.size(), &frames_)) {
      data_.clear();
      return -1;
    }
    state_ = Decoder_Interface_init();
    if (!state_) return -1;
    next_ = 0;
    return 0;
  }

  int Read(std::uint8_t* buffer, int capacity, int* milliseconds) override {
    if (milliseconds) *milliseconds = 0;
    if (!state_ || !buffer) return -1;
    int room = capacity / amrfile::kFrameBytes;
    if (room <= 0) return -1;
    int done = 0;
    short pcm[amrfile::kFrameSamples];
    while (done < room && next_ < frames_.size()) {
      Decoder_Interface_Decode(state_, amrfile::DecodableFrame(data_.data() + frames_[next_]), pcm, 0);
      for (int i = 0; i < amrfile::kFrameSamples; ++i) {
        auto v = static_cast<std::uint16_t>(pcm[i]);
        buffer[done * amrfile::kFrameBytes + 2 * i] = static_cast<std::uint8_t>(v);
        buffer[done * amrfile::kFrameBytes + 2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
      }
      ++next_;
      ++done;
    }
    if (milliseconds) *milliseconds = done * 20;
    return done * amrfile::kFrameBytes;
  }

  int Seek(int milliseconds) override {
    if (!state_ || milliseconds < 0) return -1;
    // The decoder's history belongs to the frames before; start it afresh.
    Decoder_Interface_exit(state_);
    state_ = Decoder_Interface_init();
    if (!state_) return -1;
    next_ = std::min<std::size_t>(static_cast<std::size_t>(milliseconds / 20), frames_.size());
    return 0;
  }

  int Position() override { return state_ ? static_cast<int>(next_ * 20) : -1; }

  void Close() override {
    if (state_) Decoder_Interface_exit(state_);
    state_ = nullptr;
    data_.clear();
    frames_.clear();
    next_ = 0;
  }

  void Reset() override { Seek(0); }

  int Duration() override { return state_ ? static_cast<int>(frames_.size() * 20) : -1; }

  audio::ClipPcmFormat Format() override {
    audio::ClipPcmFormat f;
    f.formatTag = 1;
    f.channels = 1;
    f.sampleRate = 8000;
    f.bitsPerSample = 16;
    return f;
  }

 private:
  void* state_ = nullptr;
  std::vector<std::uint8_t> data_;
  std::vector<std::uint32_t> frames_;  // offset of each frame's header octet
  std::size_t next_ = 0;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) audio::ClipDecoder* VC_GetDecoder() {
  return new (std::nothrow) AmrDecoder;
}
