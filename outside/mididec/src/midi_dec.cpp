// "Midi.dec": Standard MIDI and RIFF RMID files rendered by FluidSynth with the General
// MIDI sound font to 22050 Hz stereo 16-bit. The length comes from the file's tempo map,
// and rendering stops there. The synthesiser is made on the first read, so asking a
// decoder for the length alone stays cheap.
#include <dlfcn.h>
#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "audio/clip_decoder.h"
#include "smf.h"

namespace {

constexpr int kRate = 22050;

// FluidSynth's sound-font loader registers GLib types that outlive an unload; a second
// load of an unloaded FluidSynth then fails inside GLib. Keep it resident once loaded.
__attribute__((constructor)) void PinSynthesiser() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&new_fluid_synth), &info) && info.dli_fname)
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}
constexpr std::int64_t kMaxFileBytes = 16 << 20;

const char* SoundFontPath() {
  const char* env = std::getenv("TESSERA_SOUNDFONT");
  return env && *env ? env : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
}

class MidiDecoder final : public audio::ClipDecoder {
 public:
  ~MidiDecoder() override { Close(); }

  int Open(audio::ClipStream* stream, int) override {
    Close();
    if (!stream || stream->Seek(0, audio::ClipStream::kFromEnd) != 0) return -1;
    std::int64_t size = stream->Tell();
    if (size < 14 || size > kMaxFileBytes || stream->Seek(0, audio::ClipStream::kFromStart) != 0) return -1;
    std::vector<std::uint8_t> file(static_cast<std::size_t>(size));
    if (stream->Read(file.data(), size) != size) return -1;
    std::size_t offset = 0, length = 0;
    if (!smf::LocateSmf(file.data(), file.size(), &offset, &length)) return -1;
    smf_.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                file.begin() + static_cast<std::ptrdiff_t>(offset + length));
    smf::Song song;
    if (!smf::Parse(smf_.data(), smf_.size(), &song)) {
      smf_.clear();
      return -1;
    }
    durationMs_ = static_cast<int>(std::min(smf::DurationMs(song), 3600.0 * 1000));
    totalFrames_ = std::int64_t(durationMs_) * kRate / 1000;
    frame_ = 0;
    open_ = true;
    return 0;
  }

  int Read(std::uint8_t* buffer, int capacity, int* milliseconds) override {
    if (milliseconds) *milliseconds = 0;
    if (!open_ || !buffer) return -1;
    int frames = capacity / 4;
    if (frames <= 0) return -1;
    frames = static_cast<int>(std::min<std::int64_t>(frames, totalFrames_ - frame_));
    if (frames <= 0) return 0;
    if (!synth_ && !StartSynth()) return -1;
    if (!Render(buffer, frames)) return -1;
    std::int64_t before = frame_ * 1000 / kRate;
    frame_ += frames;
    if (milliseconds) *milliseconds = static_cast<int>(frame_ * 1000 / kRate - before);
    return frames * 4;
  }

  int Seek(int milliseconds) override {
    if (!open_ || milliseconds < 0) return -1;
    std::int64_t target = std::min<std::int64_t>(std::int64_t(milliseconds) * kRate / 1000, totalFrames_);
    if (target < frame_ || !synth_) {
      StopSynth();
      frame_ = 0;
    }
    if (target == frame_) return 0;
    if (!synth_ && !StartSynth()) return -1;
    // The synthesiser has no random access: render up to the target and drop it.
    std::vector<std::uint8_t> scratch(4096 * 4);
    while (frame_ < target) {
      int n = static_cast<int>(std::min<std::int64_t>(4096, target - frame_));
      if (!Render(scratch.data(), n)) return -1;
      frame_ += n;
    }
    return 0;
  }

  int Position() override { return open_ ? static_cast<int>(frame_ * 1000 / kRate) : -1; }

  void Close() override {
    StopSynth();
    smf_.clear();
    open_ = false;
    durationMs_ = 0;
    totalFrames_ = 0;
    frame_ = 0;
  }

  void Reset() override { Seek(0); }

  int Duration() override { return open_ ? durationMs_ : -1; }

  audio::ClipPcmFormat Format() override {
    audio::ClipPcmFormat f;
    f.formatTag = 1;
    f.channels = 2;
    f.sampleRate = kRate;
    f.bitsPerSample = 16;
    return f;
  }

 private:
  bool StartSynth() {
    settings_ = new_fluid_settings();
    if (!settings_) return false;
    fluid_settings_setnum(settings_, "synth.sample-rate", kRate);
    fluid_settings_setstr(settings_, "player.timing-source", "sample");
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings_, "synth.cpu-cores", 1);
    synth_ = new_fluid_synth(settings_);
    if (!synth_ || fluid_synth_sfload(synth_, SoundFontPath(), 1) == FLUID_FAILED) {
      StopSynth();
      return false;
    }
    player_ = new_fluid_player(synth_);
    if (!player_ || fluid_player_add_mem(player_, smf_.data(), smf_.size()) != FLUID_OK ||
        fluid_player_play(player_) != FLUID_OK) {
      StopSynth();
      return false;
    }
    return true;
  }

  void StopSynth() {
    if (player_) {
      fluid_player_stop(player_);
      delete_fluid_player(player_);
    }
    if (synth_) delete_fluid_synth(synth_);
    if (settings_) delete_fluid_settings(settings_);
    player_ = nullptr;
    synth_ = nullptr;
    settings_ = nullptr;
  }

  // Interleaved stereo little-endian samples.
  bool Render(std::uint8_t* out, int frames) {
    samples_.resize(std::size_t(frames) * 2);
    if (fluid_synth_write_s16(synth_, frames, samples_.data(), 0, 2, samples_.data(), 1, 2) != FLUID_OK)
      return false;
    for (std::size_t i = 0; i < samples_.size(); ++i) {
      auto v = static_cast<std::uint16_t>(samples_[i]);
      out[2 * i] = static_cast<std::uint8_t>(v);
      out[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    return true;
  }

  std::vector<std::uint8_t> smf_;
  std::vector<std::int16_t> samples_;
  bool open_ = false;
  int durationMs_ = 0;
  std::int64_t totalFrames_ = 0;
  std::int64_t frame_ = 0;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  fluid_player_t* player_ = nullptr;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) audio::ClipDecoder* VC_GetDecoder() {
  return new (std::nothrow) MidiDecoder;
}
