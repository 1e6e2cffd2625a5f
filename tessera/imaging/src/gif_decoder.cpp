// GIF decoder: block walk over a 4096-byte window of the stream, LZW decoding into rows of
// palette indexes, interlace order.
//
// LZW strings are written straight into the row, never through a stack: every table entry
// keeps the last 1..16 bytes of its string (its tail) and the code of the entry that holds
// the bytes before them (its anchor, whose tail is full), so a string of n bytes is ceil(n/16)
// 16-byte copies. The code bytes are gathered out of their sub-blocks a few kilobytes at a
// time and read through a 64-bit bit buffer.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "imaging/gif.h"

namespace imaging {

namespace {

constexpr int kWindow = 4096;
constexpr int kRefillBelow = 1024;
constexpr int kMaxCodes = 4096;
// The longest string: a root and one byte for each entry the table can add.
constexpr int kMaxString = kMaxCodes;
// Strings are written in 16-byte pieces that may run up to 15 bytes past their end.
constexpr int kPiece = 16;
constexpr int kStaged = 4096;  // code bytes gathered at a time

constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

// Shift that puts a byte at index i (0..7) of an 8-byte word as it lies in memory.
constexpr unsigned ByteShift(unsigned i) {
  return std::endian::native == std::endian::little ? 8 * i : 56 - 8 * i;
}

std::uint64_t LoadLittle64(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

}  // namespace

struct GifDecoder::Lzw {
  struct Entry {
    std::uint16_t length;     // bytes in the string
    std::uint16_t anchor;     // entry holding the first length - tailLength bytes
    std::uint8_t tailLength;  // 1..16
    std::uint8_t first;       // the string's first byte
    std::uint16_t unused;
  };
  // Tails as two words each, so that a tail written for one code is read back for the next
  // without a wider load straddling the two stores.
  std::uint64_t tail[kMaxCodes][2];
  Entry entry[kMaxCodes];
  int minSize = 0;
  int clear = 0;
  int next = 0;
  int size = 0;
  int oldCode = -1;
  // Bit reader over the code bytes gathered from the data sub-blocks.
  std::uint8_t stage[kStaged + 8];
  int stagePos = 0;
  int stageEnd = 0;
  std::uint64_t bitBuf = 0;  // bits above bitCount are the next staged bytes' (or zero)
  int bitCount = 0;
  bool dataEnded = false;  // no more sub-blocks: the zero-length block was read, or the file ended
  bool cut = false;        // the file ended inside the sub-blocks
  bool truncated = false;  // ... and the codes needed bytes beyond the cut
  bool failed = false;     // end code, broken code or missing data: no more pixels
  // Decoded indexes in the line buffer: [head, pos) not yet handed out.
  int head = 0;
  int pos = 0;

  void Reset() {
    size = minSize + 1;
    next = clear + 2;
    oldCode = -1;
  }

  // Writes the string of code c at out (and up to 15 bytes of junk after it).
  void Emit(int c, std::uint8_t* out) const {
    const Entry e = entry[c];
    std::uint8_t* p = out + e.length - e.tailLength;
    std::uint64_t lo = tail[c][0], hi = tail[c][1];
    std::memcpy(p, &lo, 8);
    std::memcpy(p + 8, &hi, 8);
    int a = e.anchor;
    for (int k = (e.length - e.tailLength) / kPiece; k > 0; --k) {
      p -= kPiece;
      lo = tail[a][0];
      hi = tail[a][1];
      std::memcpy(p, &lo, 8);
      std::memcpy(p + 8, &hi, 8);
      a = entry[a].anchor;
    }
  }

  // Entry n: the string of code old followed by byte k.
  void Add(int n, int old, std::uint8_t k) {
    const Entry o = entry[old];
    std::uint64_t lo = tail[old][0], hi = tail[old][1];
    const unsigned t = o.tailLength;
    const bool full = t == kPiece;
    // Byte t of the tail, or byte 0 of a fresh tail when this one is full.
    const unsigned shift = ByteShift(t & 7);
    const std::uint64_t inLo = (t < 8 || full) ? ~std::uint64_t{0} : 0;
    const std::uint64_t mask = std::uint64_t{0xFF} << shift, value = std::uint64_t{k} << shift;
    lo = (lo & ~(mask & inLo)) | (value & inLo);
    hi = (hi & ~(mask & ~inLo)) | (value & ~inLo);
    tail[n][0] = lo;
    tail[n][1] = hi;
    entry[n] =
        Entry{static_cast<std::uint16_t>(o.length + 1), static_cast<std::uint16_t>(full ? old : o.anchor),
              static_cast<std::uint8_t>(full ? 1 : t + 1), o.first, 0};
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
      if (!SkipSubBlocks()) return kGifNotGif;
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
    const int lineSize = f.width + kMaxString + kPiece;
    if (lineSize > lineSize_) {
      line_.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(lineSize)]);
      lineSize_ = line_ ? lineSize : 0;
      if (!line_) return kGifNoMemory;
    }
    Lzw& z = *lzw_;
    z.minSize = codeSize;
    z.clear = 1 << codeSize;
    z.Reset();
    for (int i = 0; i < z.clear; ++i) {
      z.tail[i][0] = std::uint64_t{static_cast<std::uint8_t>(i)} << ByteShift(0);
      z.entry[i] = Lzw::Entry{1, 0, 1, static_cast<std::uint8_t>(i), 0};
    }
    z.stagePos = z.stageEnd = 0;
    z.bitBuf = 0;
    z.bitCount = 0;
    z.dataEnded = false;
    z.cut = false;
    z.truncated = false;
    z.failed = false;
    z.head = z.pos = 0;
    frame_ = f;
    frameSelected_ = true;
    rowsOut_ = 0;
    pass_ = 0;
    nextRow_ = 0;
    return kGifOk;
  }
}

// Moves the unread code bytes to the front of the stage and appends whole data sub-blocks
// behind them while one more fits.
void GifDecoder::GatherCodeBytes() {
  Lzw& z = *lzw_;
  const int rest = z.stageEnd - z.stagePos;
  std::memmove(z.stage, z.stage + z.stagePos, static_cast<std::size_t>(rest));
  z.stagePos = 0;
  z.stageEnd = rest;
  while (!z.dataEnded && kStaged - z.stageEnd >= 255) {
    if (bufFill_ - bufPos_ >= 256) {  // the common case: the whole sub-block is in the window
      const int size = buf_[bufPos_++];
      if (size == 0) {
        z.dataEnded = true;
        break;
      }
      std::memcpy(z.stage + z.stageEnd, buf_.get() + bufPos_, static_cast<std::size_t>(size));
      bufPos_ += size;
      z.stageEnd += size;
      continue;
    }
    std::uint8_t size;
    if (!ReadByte(&size)) {
      z.dataEnded = z.cut = true;
      break;
    }
    if (size == 0) {
      z.dataEnded = true;
      break;
    }
    const int got = ReadUpTo(z.stage + z.stageEnd, size);
    z.stageEnd += got;
    if (got < size) {
      z.dataEnded = z.cut = true;
      break;
    }
  }
}

int GifDecoder::ReadUpTo(std::uint8_t* dst, int n) {
  int got = 0;
  while (got < n) {
    if (bufPos_ >= bufFill_ && Refill() == 0) break;
    const int take = std::min(n - got, bufFill_ - bufPos_);
    std::memcpy(dst + got, buf_.get() + bufPos_, static_cast<std::size_t>(take));
    bufPos_ += take;
    got += take;
  }
  return got;
}

// The bit reader near the end of the staged bytes. False when fewer than size bits are left
// in the code stream: it ended, or the file did (the frame is truncated then).
bool GifDecoder::TopUpBits() {
  Lzw& z = *lzw_;
  if (z.stageEnd - z.stagePos < 8 && !z.dataEnded) GatherCodeBytes();
  while (z.bitCount <= 56 && z.stagePos < z.stageEnd) {
    z.bitBuf |= std::uint64_t{z.stage[z.stagePos++]} << z.bitCount;
    z.bitCount += 8;
  }
  if (z.bitCount >= z.size) return true;
  if (z.cut) z.truncated = true;
  return false;
}

// Decodes codes into the line until it holds want indexes (from 0, head is 0) or the code
// stream stops. The line has room for want - 1 indexes, the longest string and one piece.
void GifDecoder::DecodeInto(int want) {
  Lzw& z = *lzw_;
  if (z.failed) return;
  std::uint8_t* const out = line_.get();
  const int clear = z.clear;
  int pos = z.pos, size = z.size, next = z.next, old = z.oldCode;
  std::uint64_t bits = z.bitBuf;
  int count = z.bitCount;
  bool failed = false;
  while (pos < want) {
    if (count < size) {
      if (z.stageEnd - z.stagePos >= 8) {
        bits |= LoadLittle64(z.stage + z.stagePos) << count;
        z.stagePos += (63 - count) >> 3;
        count |= 56;
      } else {
        z.bitBuf = bits;
        z.bitCount = count;
        z.size = size;
        const bool more = TopUpBits();
        bits = z.bitBuf;
        count = z.bitCount;
        if (!more) {
          failed = true;
          break;
        }
      }
    }
    const int code = static_cast<int>(bits & ((1u << size) - 1));
    bits >>= size;
    count -= size;
    if (code<next&& static_cast<unsigned>(code - clear)> 1u && old >= 0 && next < kMaxCodes) {
      const std::uint8_t first = z.entry[code].first;
      z.Emit(code, out + pos);
      pos += z.entry[code].length;
      z.Add(next, old, first);
      ++next;
      if (next == (1 << size) && size < 12) ++size;
      old = code;
      continue;
    }
    if (code == clear + 1) {  // end code
      failed = true;
      break;
    }
    if (code == clear) {
      size = z.minSize + 1;
      next = clear + 2;
      old = -1;
      continue;
    }
    if (old < 0) {
      if (code >= clear) {  // only a root may follow a clear code
        failed = true;
        break;
      }
      z.Emit(code, out + pos);
      ++pos;
      old = code;
      continue;
    }
    // A full table must be followed by a clear code.
    if (next >= kMaxCodes || code > next) {
      failed = true;
      break;
    }
    // KwKwK: the code being defined, the previous string and its own first byte.
    z.Add(next, old, z.entry[old].first);
    z.Emit(next, out + pos);
    pos += z.entry[next].length;
    ++next;
    if (next == (1 << size) && size < 12) ++size;
    old = code;
  }
  z.pos = pos;
  z.size = size;
  z.next = next;
  z.oldCode = old;
  z.bitBuf = bits;
  z.bitCount = count;
  if (failed) z.failed = true;
}

bool GifDecoder::frameTruncated() const {
  return frameSelected_ && lzw_->truncated;
}

int GifDecoder::NextRow(const std::uint8_t** pixels, int* rowNumber) {
  if (!pixels || !frameSelected_) return kGifBadArgument;
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
  if (z.pos - z.head < width) {
    // Strings run on across rows: what is left of the last one starts this row.
    const int have = z.pos - z.head;
    if (z.head > 0) std::memmove(line_.get(), line_.get() + z.head, static_cast<std::size_t>(have));
    z.head = 0;
    z.pos = have;
    DecodeInto(width);
  }
  *pixels = line_.get() + z.head;
  const int got = std::min(z.pos - z.head, width);
  z.head += got;
  lastRowPixels_ = got;
  return got == width ? kGifOk : kGifRowDecodeFailed;
}

int GifDecoder::ReadRow(std::uint8_t* row, int* rowNumber) {
  if (!row || !frameSelected_) return kGifBadArgument;
  const std::uint8_t* pixels = nullptr;
  const int rc = NextRow(&pixels, rowNumber);
  if (rc == kGifOk || rc == kGifRowDecodeFailed) {
    if (lastRowPixels_ > 0) std::memcpy(row, pixels, static_cast<std::size_t>(lastRowPixels_));
    // The rows past the frame's last one are left alone.
    if (rc == kGifRowDecodeFailed && pixels)
      std::memset(row + lastRowPixels_, 0, static_cast<std::size_t>(frame_.width - lastRowPixels_));
  }
  return rc;
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
