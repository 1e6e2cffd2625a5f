#pragma once
/// Sound clip playback: file-type recognition, the clip player that streams decoded PCM
/// to the wave-output device through three rotating buffers, and the process-wide
/// audio clip loader.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/clip_decoder.h"
#include "platform/module.h"
#include "platform/wave.h"

namespace mms {
class ByteStream;
}

namespace audio {

/// Type codes of recognised clips.
enum class ClipType { Unknown = 0, Wav = 2, Amr = 4, Midi = 7 };

/// Recognises a clip from its first 12 bytes (fewer means Unknown).
ClipType RecogniseClip(const std::uint8_t* head, std::size_t size);
/// Reads the first 12 bytes of the stream and puts it back at the start.
ClipType RecogniseClip(ClipStream* stream);

/// 400 ms of sound: rate × channels × bits / 20, rounded up to a multiple of 32.
std::uint32_t ClipBufferSize(int sampleRate, int channels, int bits);

/// The device format record built from a decoder's format (missing values taken from
/// the device's capabilities).
WAVEFORMATEX DeviceFormatFor(const ClipPcmFormat& pcm, const WAVEOUTCAPS& caps);

/// Device results mapped to the player's codes: -1 not enabled / invalid handle,
/// -4 no driver, -3 no memory, -5 anything else.
int MapDeviceError(MMRESULT result);

/// Progress: clip length, position in ms or -1 at the end or on stop, user value.
using ClipCallback = void (*)(int lengthMs, int positionMs, void* user);

/// A ClipStream over a ByteStream the wrapper owns.
class ByteStreamClip final : public ClipStream {
 public:
  explicit ByteStreamClip(std::unique_ptr<mms::ByteStream> stream);
  ~ByteStreamClip() override;
  std::int64_t Read(void* dst, std::int64_t n) override;
  int Seek(std::int64_t offset, int origin) override;
  std::int64_t Tell() override;
  std::int64_t Size() override;

 private:
  std::unique_ptr<mms::ByteStream> stream_;
};

/// Makes the decoder for a clip type: the built-in WAV reader, or a new object from the
/// library in `folder`, loaded into `*library` (a previous library there is freed
/// first). Null for unknown types or a missing library or export.
std::unique_ptr<ClipDecoder> MakeDecoder(ClipType type, const std::u16string& folder, HMODULE* library);

class ClipPlayer {
 public:
  enum PlayState { kStopped = 0, kPlaying = 1, kPaused = 2 };

  ClipPlayer();
  virtual ~ClipPlayer();
  ClipPlayer(const ClipPlayer&) = delete;
  ClipPlayer& operator=(const ClipPlayer&) = delete;

  /// 0 on success, negative on failure.
  virtual int Open(const std::u16string& path, int flags);
  virtual int Close();
  virtual int Stop();
  /// 0..100.
  virtual int SetVolume(int percent);
  /// `endMs` -1 = the end; `loops` -1 = until stopped. 0, or -1 when it cannot play.
  virtual int Play(int startMs, int endMs, int loops);
  virtual int Pause();
  virtual int Resume();
  virtual int Duration();
  virtual int GetVolume();
  virtual int Position();
  virtual int State();
  virtual void SetDecoderFolder(const std::u16string& folder);
  virtual void SetCallback(ClipCallback callback, void* user);
  /// The decoder's own length query (-1 without a decoder).
  virtual int DecoderDuration();
  /// Opens over a stream and decoder made by the caller; the player takes both.
  virtual int OpenFromStream(std::unique_ptr<ClipStream> stream, std::unique_ptr<ClipDecoder> decoder,
                             int flags);

  std::uint32_t bufferSize() const { return bufferSize_; }
  ClipPcmFormat format() const { return format_; }

 private:
  static void DeviceProc(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                         DWORD_PTR param2);
  void OnBufferDone(WAVEHDR* header);
  bool StartPass();  // decode three buffers and queue two; lock held
  bool QueueBuffer(int index);
  void Report(int position);
  int CloseLocked();

  std::recursive_mutex mutex_;
  std::vector<std::uint8_t> block_;  // the three buffers, one after another
  WAVEHDR headers_[3]{};
  std::uint32_t filled_[3]{};
  bool queued_[3]{};
  int playIndex_ = 0;  // buffer the device plays
  int playState_ = kStopped;
  HWAVEOUT device_ = nullptr;
  std::atomic<bool> deviceOpen_{false};
  std::atomic<bool> resetting_{false};
  bool opened_ = false;
  std::unique_ptr<ClipStream> stream_;
  std::unique_ptr<ClipDecoder> decoder_;
  HMODULE library_ = nullptr;
  ClipPcmFormat format_{};
  std::uint32_t bufferSize_ = 0;
  std::int64_t totalBytes_ = 0;
  std::int64_t bytesLeft_ = 0;      // not yet played
  std::int64_t bytesUnqueued_ = 0;  // not yet handed to the device
  int loops_ = 1;
  int startMs_ = 0;
  int endMs_ = 0;
  int volume_ = 100;
  std::u16string folder_;
  ClipCallback callback_ = nullptr;
  void* user_ = nullptr;
};

/// Posts a message to a window; the loader and the recorder reach windows only so.
using PostFn = BOOL (*)(void* window, UINT message, WPARAM wParam, LPARAM lParam);

inline constexpr UINT kMsgAudioProgress = 1227;

class AudioClipLoader {
 public:
  enum LoaderState { kClosed = 1, kOpen = 2, kPlaying = 3, kPaused = 4 };

  /// `post` delivers the 1227 progress messages (null: no messages).
  AudioClipLoader(const std::u16string& decoderFolder, PostFn post);
  ~AudioClipLoader();

  /// Duration in milliseconds, or -1.
  int OpenClip(const std::u16string& path, void* notifyWindow);
  int PlayClip(int startMs = 0, int endMs = -1, int loops = 1);
  int PauseClip();
  int StopClip();
  int CloseClip();
  int ClipDuration(const std::u16string& path);
  int state() const { return state_; }
  ClipPlayer* player() { return player_.get(); }

 private:
  static void Progress(int lengthMs, int positionMs, void* user);

  std::unique_ptr<ClipPlayer> player_;
  int state_ = kClosed;
  std::u16string folder_;
  std::u16string path_;
  PostFn post_;
  void* window_ = nullptr;
};

}  // namespace audio
