// GIF decoder: block walk over a 4096-byte window of the stream, LZW decoding into rows of
// palette indexes, interlace order.
#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/gif.h"

namespace imaging {

namespace {

constexpr int kWindow = 4096;
constexpr int kRefillBelow = 1024;
constexpr int kMaxCodes = 4096;

constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

}  // namespace

struct GifDecoder::Lzw {
  std::uint16_t prefix[kMaxCodes];
  std::uint8_t suffix[kMaxCodes];
  std::uint8_t stack[kMaxCodes + 1];
  int sp = 0;
  int minSize = 0;
  int clear = 0;
  int end = 0;
  int next = 0;
  int size = 0;
  int oldCode = -1;
  int firstChar = 0;
  // Bit reader over the data sub-blocks.
  int blockLeft = 0;
  std::uint32_t bitBuf = 0;
  int bitCount = 0;
  bool dataEnded = false;  // the zero-length block was read
  bool truncated = false;  // the file ended inside the code stream
  bool failed = false;     // end code, broken code or missing data: no more pixels

  void Reset() {
    size = minSize + 1;
    next = clear + 2;
    oldCode = -1;
  }
};

GifDecoder::~GifDecoder() = default;

int GifDecoder::Refill() {
  if (eof_) return 0;
  const int rest = bufFill_ - bufPos_;
  if (rest > 0 && bufPos_ > 0) std::memmove(buf_.get(), buf_.get() + bufPos_, static_cast<std::size_t>(rest));
  bufOffset_ += bufPos_;
  bufPos_ = 0;
  bufFill_ = rest;
  const std::int64_t n = stream_->Read(buf_.get() + bufFill_, kWindow - bufFill_);
  if (n <= 0) {
    eof_ = true;
    return 0;
  }
  bufFill_ += static_cast<int>(n);
  if (bufFill_ < kWindow) eof_ = stream_->AtEnd();
  return static_cast<int>(n);
}

bool GifDecoder::Need(int n) {
  // Keep at least kRefillBelow bytes ahead in a full window.
  if (bufFill_ - bufPos_ < std::max(n, kRefillBelow) && !eof_) Refill();
  return bufFill_ - bufPos_ >= n;
}

bool GifDecoder::ReadBytes(void* dst, int n) {
  auto* out = static_cast<std::uint8_t*>(dst);
  while (n > 0) {
    if (bufPos_ >= bufFill_ && Refill() == 0) return false;
    const int take = std::min(n, bufFill_ - bufPos_);
    if (out) {
      std::memcpy(out, buf_.get() + bufPos_, static_cast<std::size_t>(take));
      out += take;
    }
    bufPos_ += take;
    n -= take;
  }
  return true;
}

bool GifDecoder::SkipSubBlocks() {
  for (;;) {
    std::uint8_t size;
    if (!ReadByte(&size)) return false;
    if (size == 0) return true;
    if (!ReadBytes(nullptr, size)) return false;
  }
}

int GifDecoder::Open(mms::ByteStream* stream, std::unique_ptr<GifDecoder>* out) {
  if (!stream || !out) return kGifBadArgument;
  std::unique_ptr<GifDecoder> d(new (std::nothrow) GifDecoder());
  if (!d) return kGifNoMemory;
  d->buf_.reset(new (std::nothrow) std::uint8_t[kWindow]);
  d->lzw_.reset(new (std::nothrow) Lzw());
  if (!d->buf_ || !d->lzw_) return kGifNoMemory;
  d->stream_ = stream;
  d->bufOffset_ = stream->Tell();
  if (d->bufOffset_ < 0) return kGifCannotBuffer;
  std::uint8_t head[13];
  if (!d->ReadBytes(head, 6)) return kGifNotGif;
  char sig[7];
  for (int i = 0; i < 6; ++i) sig[i] = static_cast<char>(std::toupper(head[i]));
  sig[6] = 0;
  if (std::strcmp(sig, "GIF87A") != 0 && std::strcmp(sig, "GIF89A") != 0) return kGifNotGif;
  if (!d->ReadBytes(head, 7)) return kGifBadScreen;
  GifScreen& s = d->screen_;
  s.width = static_cast<std::uint16_t>(head[0] | (head[1] << 8));
  s.height = static_cast<std::uint16_t>(head[2] | (head[3] << 8));
  const std::uint8_t packed = head[4];
  s.globalTable = packed & 0x80;
  s.colorResolutionField = (packed & 0x60) >> 5;
  s.sorted = packed & 0x08;
  s.colorResolutionBits = (packed & 7) + 1;
  s.background = head[5];
  if (s.width == 0 || s.height == 0) return kGifBadScreen;
  if (s.globalTable) {
    d->globalCount_ = 1 << s.colorResolutionBits;
    if (!d->ReadBytes(d->global_, d->globalCount_ * 3)) return kGifColorTableError;
  }
  d->firstFrameOffset_ = d->bufOffset_ + d->bufPos_;
  *out = std::move(d);
  return kGifOk;
}

static void TableToQuads(const std::uint8_t* rgb, int count, RGBQUAD* entries, int* io) {
  const int n = std::min(count, *io);
  for (int i = 0; i < n; ++i) entries[i] = RGBQUAD{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
  *io = n;
}

int GifDecoder::GlobalTable(RGBQUAD* entries, int* count) const {
  if (!count) return kGifBadArgument;
  if (!entries) {
    *count = globalCount_;
    return kGifOk;
  }
  TableToQuads(global_, globalCount_, entries, count);
  return kGifOk;
}

int GifDecoder::FrameTable(RGBQUAD* entries, int* count) const {
  if (!count || !frameSelected_) return kGifBadArgument;
  const bool local = frame_.localTable;
  const int have = local ? localCount_ : globalCount_;
  if (!entries) {
    *count = have;
    return kGifOk;
  }
  TableToQuads(local ? local_ : global_, have, entries, count);
  return kGifOk;
}

int GifDecoder::RestartAtFirstFrame() {
  if (stream_->Seek(firstFrameOffset_, mms::ByteStream::kFromStart) != 0) return kGifCannotBuffer;
  bufOffset_ = firstFrameOffset_;
  bufFill_ = bufPos_ = 0;
  eof_ = false;
  frameReached_ = 0;
  frameSelected_ = false;
  return kGifOk;
}

int GifDecoder::SelectFrame(int n) {
  if (n < 0) return kGifBadArgument;
  if (n < frameReached_) {
    const int rc = RestartAtFirstFrame();
    if (rc != kGifOk) return rc;
  } else if (frameSelected_) {
    // Skip what is left of the current frame's code stream.
    Lzw& z = *lzw_;
    if (!z.dataEnded) {
      if (!ReadBytes(nullptr, z.blockLeft) || !SkipSubBlocks()) return kGifNotGif;
      z.dataEnded = true;
    }
  }
  frameSelected_ = false;
  GifFrame pending;
  for (;;) {
    Need(16);
    std::uint8_t kind;
    if (!ReadByte(&kind)) return kGifNotGif;
    if (kind == 0x3B) return kGifFrameNotFound;
    if (kind == 0x21) {
      std::uint8_t label;
      if (!ReadByte(&label)) return kGifNotGif;
      if (label == 0xF9) {
        std::uint8_t size;
        if (!ReadByte(&size)) return kGifNotGif;
        std::uint8_t g[255];
        if (!ReadBytes(g, size)) return kGifNotGif;
        if (size >= 4) {
          pending.disposal = (g[0] >> 2) & 7;
          pending.transparent = g[0] & 1;
          pending.delay = static_cast<std::uint16_t>(g[1] | (g[2] << 8));
          pending.transparentIndex = g[3];
        }
      }
      if (!SkipSubBlocks()) return kGifNotGif;
      continue;
    }
    if (kind != 0x2C) return kGifNotGif;
    std::uint8_t dsc[9];
    if (!ReadBytes(dsc, 9)) return kGifNotGif;
    GifFrame f = pending;
    f.left = static_cast<std::uint16_t>(dsc[0] | (dsc[1] << 8));
    f.top = static_cast<std::uint16_t>(dsc[2] | (dsc[3] << 8));
    f.width = static_cast<std::uint16_t>(dsc[4] | (dsc[5] << 8));
    f.height = static_cast<std::uint16_t>(dsc[6] | (dsc[7] << 8));
    f.localTable = dsc[8] & 0x80;
    f.interlaced = dsc[8] & 0x40;
    f.localTableBits = (dsc[8] & 7) + 1;
    pending = GifFrame();
    const int index = frameReached_++;
    if (index != n) {
      if (f.localTable && !ReadBytes(nullptr, 3 << f.localTableBits)) return kGifNotGif;
      std::uint8_t codeSize;
      if (!ReadByte(&codeSize) || !SkipSubBlocks()) return kGifNotGif;
      continue;
    }
    if (f.left > screen_.width || f.top > screen_.height || f.width == 0 || f.height == 0)
      return kGifBadScreen;
    if (!WithinPixelBudget(f.width, f.height)) return kGifNoMemory;
    if (f.localTable) {
      localCount_ = 1 << f.localTableBits;
      if (!ReadBytes(local_, localCount_ * 3)) return kGifColorTableError;
    } else {
      localCount_ = 0;
    }
    std::uint8_t codeSize;
    if (!ReadByte(&codeSize)) return kGifNotGif;
    if (codeSize < 1 || codeSize > 8) return kGifLzwInitFailed;
    Lzw& z = *lzw_;
    z.minSize = codeSize;
    z.clear = 1 << codeSize;
    z.end = z.clear + 1;
    z.Reset();
    for (int i = 0; i < z.clear; ++i) {
      z.prefix[i] = 0;
      z.suffix[i] = static_cast<std::uint8_t>(i);
    }
    z.sp = 0;
    z.blockLeft = 0;
    z.bitBuf = 0;
    z.bitCount = 0;
    z.dataEnded = false;
    z.truncated = false;
    z.failed = false;
    frame_ = f;
    frameSelected_ = true;
    rowsOut_ = 0;
    pass_ = 0;
    nextRow_ = 0;
    return kGifOk;
  }
}

int GifDecoder::NextCode() {
  Lzw& z = *lzw_;
  while (z.bitCount < z.size) {
    if (z.blockLeft == 0) {
      if (z.dataEnded) return -1;
      std::uint8_t size;
      if (!ReadByte(&size)) {
        z.dataEnded = true;
        z.truncated = true;
        return -1;
      }
      if (size == 0) {
        z.dataEnded = true;
        return -1;
      }
      z.blockLeft = size;
    }
    std::uint8_t b;
    if (bufPos_ < bufFill_) {
      b = buf_[bufPos_++];  // the common case: the byte is in the window
    } else if (!ReadByte(&b)) {
      z.dataEnded = true;
      z.truncated = true;
      z.blockLeft = 0;
      return -1;
    }
    --z.blockLeft;
    z.bitBuf |= static_cast<std::uint32_t>(b) << z.bitCount;
    z.bitCount += 8;
  }
  const int code = static_cast<int>(z.bitBuf & ((1u << z.size) - 1));
  z.bitBuf >>= z.size;
  z.bitCount -= z.size;
  return code;
}

// Decodes the next code and leaves its string on the stack (last pixel on top). False when
// the frame's code stream has ended or broken; no pixel follows then.
bool GifDecoder::FillStack() {
  Lzw& z = *lzw_;
  if (z.failed) return false;
  for (;;) {
    const int code = NextCode();
    if (code < 0 || code == z.end) break;
    if (code == z.clear) {
      z.Reset();
      continue;
    }
    if (z.oldCode < 0) {
      if (code >= z.clear) break;  // only a root may follow a clear code
      z.oldCode = code;
      z.firstChar = code;
      z.stack[z.sp++] = static_cast<std::uint8_t>(code);
      return true;
    }
    // A full table must be followed by a clear code.
    if (z.next >= kMaxCodes || code > z.next) break;
    int c = code;
    if (code == z.next) {
      z.stack[z.sp++] = static_cast<std::uint8_t>(z.firstChar);
      c = z.oldCode;
    }
    while (c >= z.clear) {
      z.stack[z.sp++] = z.suffix[c];
      c = z.prefix[c];
    }
    z.firstChar = c;
    z.stack[z.sp++] = static_cast<std::uint8_t>(c);
    z.prefix[z.next] = static_cast<std::uint16_t>(z.oldCode);
    z.suffix[z.next] = static_cast<std::uint8_t>(c);
    ++z.next;
    if (z.next == (1 << z.size) && z.size < 12) ++z.size;
    z.oldCode = code;
    return true;
  }
  z.failed = true;
  return false;
}

bool GifDecoder::frameTruncated() const {
  return frameSelected_ && lzw_->truncated;
}

int GifDecoder::ReadRow(std::uint8_t* row, int* rowNumber) {
  if (!row || !frameSelected_) return kGifBadArgument;
  const int height = frame_.height;
  lastRowPixels_ = 0;
  if (rowsOut_ >= height) return kGifRowDecodeFailed;
  int number;
  if (frame_.interlaced) {
    number = nextRow_;
    nextRow_ += kPassStep[pass_];
    while (nextRow_ >= height && pass_ < 3) {
      ++pass_;
      nextRow_ = kPassStart[pass_];
    }
  } else {
    number = rowsOut_;
  }
  ++rowsOut_;
  if (rowNumber) *rowNumber = number;
  const int width = frame_.width;
  Lzw& z = *lzw_;
  int x = 0;
  while (x < width) {
    if (z.sp == 0 && !FillStack()) {
      std::memset(row + x, 0, static_cast<std::size_t>(width - x));
      lastRowPixels_ = x;
      return kGifRowDecodeFailed;
    }
    // Strings run on across rows; take what fits.
    int n = std::min(z.sp, width - x);
    while (n-- > 0) row[x++] = z.stack[--z.sp];
  }
  lastRowPixels_ = width;
  return kGifOk;
}

int GifDecoder::Prescan(GifPrescan* out) {
  if (!out) return kGifBadArgument;
  *out = GifPrescan();
  if (RestartAtFirstFrame() != kGifOk) return kGifNotGif;
  for (;;) {
    Need(16);
    std::uint8_t kind;
    if (!ReadByte(&kind)) return kGifNotGif;
    if (kind == 0x3B) break;
    if (kind == 0x21) {
      std::uint8_t label;
      if (!ReadByte(&label)) return kGifNotGif;
      if (label == 0xF9) {
        std::uint8_t size, g[255];
        if (!ReadByte(&size) || !ReadBytes(g, size)) return kGifNotGif;
        if (size >= 4) out->totalDelay += static_cast<std::uint32_t>(g[1] | (g[2] << 8));
      } else if (label == 0xFF) {
        std::uint8_t size, id[255];
        if (!ReadByte(&size) || !ReadBytes(id, size)) return kGifNotGif;
        std::uint8_t sub;
        if (!ReadByte(&sub)) return kGifNotGif;
        if (sub == 0) {
          out->applicationExtension = true;
          out->loopCount = 0;
          continue;
        }
        std::uint8_t data[255];
        if (!ReadBytes(data, sub)) return kGifNotGif;
        out->applicationExtension = true;
        out->loopCount = sub >= 3 ? static_cast<std::uint16_t>(data[1] | (data[2] << 8)) : 0;
      }
      if (!SkipSubBlocks()) return kGifNotGif;
      continue;
    }
    if (kind != 0x2C) return kGifNotGif;
    std::uint8_t dsc[9];
    if (!ReadBytes(dsc, 9)) return kGifNotGif;
    if ((dsc[8] & 0x80) && !ReadBytes(nullptr, 3 << ((dsc[8] & 7) + 1))) return kGifNotGif;
    std::uint8_t codeSize;
    if (!ReadByte(&codeSize) || !SkipSubBlocks()) return kGifNotGif;
    ++out->frames;
  }
  // The scan moved the window; the next selection starts over.
  return RestartAtFirstFrame() == kGifOk ? kGifOk : kGifNotGif;
}

}  // namespace imaging
