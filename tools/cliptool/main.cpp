// cliptool: inspect, play and record sound clips with the message agent's own audio
// code. The audio backend follows $TESSERA_AUDIO; decoders load from the program
// directory.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "audio/capture.h"
#include "audio/clip_player.h"
#include "mms/byte_stream.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "toolargs/toolargs.h"

namespace {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: cliptool info FILE\n"
               "       cliptool play FILE [--loops N] [--from MS --to MS]\n"
               "       cliptool record OUT --seconds N [--amr]\n");
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

bool ParseInt(const char* text, long min, long max, int* out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < min || v > max) return false;
  *out = static_cast<int>(v);
  return true;
}

const char* TypeName(audio::ClipType t) {
  switch (t) {
    case audio::ClipType::Unknown:
      return "unknown";
    case audio::ClipType::Wav:
      return "wav";
    case audio::ClipType::Amr:
      return "amr";
    case audio::ClipType::Midi:
      return "midi";
  }
  return "unknown";
}

int Info(const char* path) {
  auto file = mms::ByteStream::OpenFileUtf8(path, mms::ByteStream::kRead);
  if (!file) {
    std::fprintf(stderr, "cliptool: cannot open %s\n", path);
    return 1;
  }
  audio::ByteStreamClip stream(std::move(file));
  audio::ClipType type = audio::RecogniseClip(&stream);
  if (type == audio::ClipType::Unknown) {
    std::fprintf(stderr, "cliptool: %s is not a WAV, AMR or MIDI clip\n", path);
    return 1;
  }
  HMODULE library = nullptr;
  int rc = 1;
  {
    auto decoder = audio::MakeDecoder(type, platform::ProgramDirectory(), &library);
    if (!decoder) {
      std::fprintf(stderr, "cliptool: no decoder for %s clips (decoder library missing)\n", TypeName(type));
    } else if (decoder->Open(&stream, 0) != 0) {
      std::fprintf(stderr, "cliptool: %s: the %s clip cannot be decoded\n", path, TypeName(type));
    } else {
      audio::ClipPcmFormat f = decoder->Format();
      std::printf("type %d (%s)\nduration %d ms\npcm %d Hz, %d channel%s, %d bits\n", static_cast<int>(type),
                  TypeName(type), decoder->Duration(), f.sampleRate, f.channels, f.channels == 1 ? "" : "s",
                  f.bitsPerSample);
      rc = 0;
    }
  }
  if (library) FreeLibrary(library);
  return rc;
}

struct PlayWatch {
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
};

void OnProgress(int length, int position, void* user) {
  auto* w = static_cast<PlayWatch*>(user);
  std::printf("%d / %d ms\n", position, length);
  std::fflush(stdout);
  if (position == -1) {
    std::lock_guard lock(w->mutex);
    w->ended = true;
    w->cv.notify_all();
  }
}

int Play(const char* path, int loops, int from, int to) {
  PlayWatch watch;
  audio::ClipPlayer player;
  player.SetDecoderFolder(platform::ProgramDirectory());
  player.SetCallback(&OnProgress, &watch);
  int r = player.Open(platform::Utf8ToUtf16(path), 0);
  if (r != 0) {
    std::fprintf(stderr, "cliptool: cannot play %s (error %d)\n", path, r);
    return 1;
  }
  if (player.Play(from, to, loops) != 0) {
    std::fprintf(stderr, "cliptool: cannot play %s from %d to %d ms (length %d ms)\n", path, from, to,
                 player.Duration());
    return 1;
  }
  std::unique_lock lock(watch.mutex);
  watch.cv.wait(lock, [&] { return watch.ended; });
  lock.unlock();
  player.Close();
  return 0;
}

struct RecordWatch {
  std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;
} gRecord;

BOOL OnRecordMessage(void*, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == audio::kMsgAudioProgress) {
    std::printf("%d / %d ms\n", static_cast<int>(wParam), static_cast<int>(lParam));
    std::fflush(stdout);
  } else if (message == audio::kMsgCommand && wParam == audio::kCmdRecordKey) {
    std::lock_guard lock(gRecord.mutex);
    gRecord.stop = true;
    gRecord.cv.notify_all();
  }
  return TRUE;
}

int Record(const std::string& out, int seconds, bool amr) {
  audio::AmrEncoderLibrary encoder;
  bool haveEncoder = amr && encoder.Load(platform::ProgramDirectory());
  if (amr && !haveEncoder) {
    std::fprintf(stderr, "cliptool: the encoder library amr.enc is missing\n");
    return 1;
  }
  bool realTime = haveEncoder && encoder.RealTime();
  std::string error;
  if (!toolargs::MakeOutputFolder(out, &error)) {
    std::fprintf(stderr, "cliptool: %s\n", error.c_str());
    return 1;
  }
  std::u16string target = platform::Utf8ToUtf16(out);
  // Without the real-time encoder the sound is recorded as WAV and converted at the end.
  std::u16string working = realTime || !amr ? target : target + u".wav";
  if (!realTime && !audio::BeginWavRecording(working)) {
    std::fprintf(stderr, "cliptool: cannot create %s\n", platform::NativePath(working).c_str());
    return 1;
  }
  int self = 0;
  audio::CaptureEngine engine(&self, &OnRecordMessage, realTime ? &encoder : nullptr);
  if (engine.Start(working, seconds * 1000) != 1) {
    std::fprintf(stderr, "cliptool: recording did not start (no input device or output file)\n");
    if (!realTime) std::remove(platform::NativePath(working).c_str());
    return 1;
  }
  {
    std::unique_lock lock(gRecord.mutex);
    gRecord.cv.wait(lock, [] { return gRecord.stop; });
  }
  int hadData = engine.Stop();
  if (!realTime && !audio::FinishWavRecording(working)) {
    std::fprintf(stderr, "cliptool: cannot finish %s\n", platform::NativePath(working).c_str());
    return 1;
  }
  if (!hadData) {
    std::fprintf(stderr, "cliptool: nothing was recorded\n");
    return 1;
  }
  if (amr && !realTime) {
    if (!encoder.wav2amr || encoder.wav2amr(working.c_str(), target.c_str(), 0, 0) != 0) {
      std::fprintf(stderr, "cliptool: AMR conversion failed; the recording stays in %s\n",
                   platform::NativePath(working).c_str());
      return 1;
    }
    std::remove(platform::NativePath(working).c_str());
  }
  std::printf("recorded %d ms to %s\n", engine.elapsedMs(), out.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "cliptool", &PrintUsage); rc >= 0) return rc;
  if (argc < 3) return Usage();
  std::string command = argv[1];
  if (command == "info") {
    if (argc != 3) return Usage();
    return Info(argv[2]);
  }
  if (command == "play") {
    int loops = 1, from = 0, to = -1;
    for (int i = 3; i < argc; ++i) {
      bool more = i + 1 < argc;
      if (!std::strcmp(argv[i], "--loops") && more && ParseInt(argv[i + 1], -1, 1000000, &loops)) {
        ++i;
      } else if (!std::strcmp(argv[i], "--from") && more && ParseInt(argv[i + 1], 0, 0x7FFFFFFF, &from)) {
        ++i;
      } else if (!std::strcmp(argv[i], "--to") && more && ParseInt(argv[i + 1], 1, 0x7FFFFFFF, &to)) {
        ++i;
      } else {
        std::fprintf(stderr, "cliptool: bad option %s%s%s\n", argv[i], i + 1 < argc ? " " : "",
                     i + 1 < argc ? argv[i + 1] : "");
        return Usage();
      }
    }
    return Play(argv[2], loops, from, to);
  }
  if (command == "record") {
    int seconds = -1;
    bool amr = false;
    for (int i = 3; i < argc; ++i) {
      if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc && ParseInt(argv[i + 1], 1, 3600, &seconds)) {
        ++i;
      } else if (!std::strcmp(argv[i], "--amr")) {
        amr = true;
      } else {
        std::fprintf(stderr, "cliptool: bad option %s%s%s\n", argv[i], i + 1 < argc ? " " : "",
                     i + 1 < argc ? argv[i + 1] : "");
        return Usage();
      }
    }
    if (seconds < 0) {
      std::fprintf(stderr, "cliptool: --seconds N is required\n");
      return Usage();
    }
    return Record(argv[2], seconds, amr);
  }
  return Usage();
}
