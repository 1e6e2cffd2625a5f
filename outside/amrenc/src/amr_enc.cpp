// "amr.enc": 8 kHz 16-bit mono PCM encoded with opencore-amrnb at 12.2 kbit/s into the
// AMR storage format ("#!AMR\n" and one frame per 20 ms).
#include <opencore-amrnb/interf_enc.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "audio/amr_encoder_api.h"

namespace {

constexpr int kFrameSamples = 160;

std::string ToUtf8(const WCHAR* text) {
  std::string out;
  if (!text) return out;
  for (std::size_t i = 0; text[i]; ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

struct Encoder {
  std::FILE* file = nullptr;
  void* state = nullptr;
  short pending[kFrameSamples] = {};
  int count = 0;     // samples in `pending`
  int oddByte = -1;  // low byte of a sample split between two calls
  bool failed = false;

  void EncodeFrame() {
    unsigned char out[64];
    int n = Encoder_Interface_Encode(state, MR122, pending, out, 0);
    if (n <= 0 || std::fwrite(out, 1, static_cast<std::size_t>(n), file) != static_cast<std::size_t>(n))
      failed = true;
    count = 0;
  }

  void Push(const BYTE* pcm, DWORD bytes) {
    for (DWORD i = 0; i < bytes; ++i) {
      if (oddByte < 0) {
        oddByte = pcm[i];
        continue;
      }
      pending[count++] = static_cast<short>(static_cast<std::uint16_t>(oddByte | pcm[i] << 8));
      oddByte = -1;
      if (count == kFrameSamples) EncodeFrame();
    }
  }

  // The last partial frame is completed with silence so that no sound is lost.
  bool Finish() {
    if (count > 0) {
      std::memset(pending + count, 0, sizeof(short) * (kFrameSamples - count));
      EncodeFrame();
    }
    bool ok = !failed;
    if (std::fclose(file) != 0) ok = false;
    file = nullptr;
    Encoder_Interface_exit(state);
    state = nullptr;
    return ok;
  }
};

Encoder* StartEncoder(const std::string& path) {
  auto* e = new (std::nothrow) Encoder;
  if (!e) return nullptr;
  e->file = std::fopen(path.c_str(), "wb");
  if (!e->file) {
    delete e;
    return nullptr;
  }
  e->state = Encoder_Interface_init(0);
  if (!e->state || std::fwrite("#!AMR\n", 1, 6, e->file) != 6) {
    if (e->state) Encoder_Interface_exit(e->state);
    std::fclose(e->file);
    std::remove(path.c_str());
    delete e;
    return nullptr;
  }
  return e;
}

std::uint32_t Le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
int Le16(const unsigned char* p) {
  return p[0] | p[1] << 8;
}

// Positions `f` at the sample data of an 8 kHz 16-bit mono PCM WAV file; the data size,
// or -1 when the file is not one.
long FindPcmData(std::FILE* f) {
  unsigned char head[12];
  if (std::fread(head, 1, 12, f) != 12 || std::memcmp(head, "RIFF", 4) || std::memcmp(head + 8, "WAVE", 4))
    return -1;
  bool formatOk = false;
  for (;;) {
    unsigned char ch[8];
    if (std::fread(ch, 1, 8, f) != 8) return -1;
    std::uint32_t size = Le32(ch + 4);
    if (!std::memcmp(ch, "fmt ", 4)) {
      unsigned char fm[16];
      if (size < 16 || std::fread(fm, 1, 16, f) != 16) return -1;
      formatOk = Le16(fm) == 1 && Le16(fm + 2) == 1 && Le32(fm + 4) == 8000 && Le16(fm + 14) == 16;
      if (std::fseek(f, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR) != 0) return -1;
    } else if (!std::memcmp(ch, "data", 4)) {
      if (!formatOk) return -1;
      // A recording whose header still holds the placeholder size runs to the end.
      return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(size);
    } else if (std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
      return -1;
    }
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HANDLE VCT_Pcm2Amr_RT_Start(const WCHAR* amrPath) {
  if (!amrPath || !*amrPath) return nullptr;
  return StartEncoder(ToUtf8(amrPath));
}

__attribute__((visibility("default"))) int VCT_Pcm2Amr_RT_Encode(HANDLE encoder, const BYTE* pcm, DWORD bytes,
                                                                 int, int) {
  if (!encoder || (!pcm && bytes)) return -1;
  auto* e = static_cast<Encoder*>(encoder);
  e->Push(pcm, bytes);
  return e->failed ? -1 : 0;
}

__attribute__((visibility("default"))) int VCT_Pcm2Amr_RT_End(HANDLE encoder) {
  if (!encoder) return -1;
  auto* e = static_cast<Encoder*>(encoder);
  bool ok = e->Finish();
  delete e;
  return ok ? 0 : -1;
}

__attribute__((visibility("default"))) int VCT_Wav2Amr(const WCHAR* wavPath, const WCHAR* amrPath, int, int) {
  if (!wavPath || !amrPath || !*wavPath || !*amrPath) return -1;
  std::string in = ToUtf8(wavPath), out = ToUtf8(amrPath);
  std::FILE* f = std::fopen(in.c_str(), "rb");
  if (!f) return -1;
  long left = FindPcmData(f);
  if (left < 0) {
    std::fclose(f);
    return -1;
  }
  Encoder* e = StartEncoder(out);
  if (!e) {
    std::fclose(f);
    return -1;
  }
  BYTE buf[3200];
  while (left > 0) {
    std::size_t n = std::fread(buf, 1, std::min<long>(left, sizeof buf), f);
    if (n == 0) break;
    e->Push(buf, static_cast<DWORD>(n));
    left -= static_cast<long>(n);
  }
  bool readError = std::ferror(f) != 0;
  std::fclose(f);
  bool ok = e->Finish() && !readError;
  delete e;
  if (!ok) {
    std::remove(out.c_str());  // no half-written AMR file behind a failure
    return -1;
  }
  return 0;
}

}  // extern "C"
