// GIF89a encoder (LZW over child/sibling lists) and the frame-by-frame shrinking of
// animations, which copies palette indexes so that no colour is requantised.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/gif.h"
#include "imaging/image.h"

namespace imaging {

namespace {
constexpr int kOutSize = 10240;
constexpr int kCodes = 4096;
}  // namespace

struct GifEncoder::Lzw {
  struct Entry {
    std::uint16_t child;
    std::uint16_t sibling;
    std::uint8_t byte;
  };
  Entry table[kCodes];
  std::uint8_t block[256];
  int blockFill = 0;
  int minSize = 2, clear = 4, end = 5, next = 6, size = 3;
  std::uint32_t acc = 0;
  int accBits = 0;

  void Reset() {
    for (int i = 0; i < clear; ++i) table[i].child = 0;
    next = clear + 2;
    size = minSize + 1;
  }
};

GifEncoder::~GifEncoder() = default;

int GifEncoder::Flush() {
  if (outFill_ > 0 && stream_->Write(out_.get(), outFill_) != outFill_) return kGifWriteError;
  outFill_ = 0;
  return kGifOk;
}

int GifEncoder::Put(const void* data, int n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    if (kOutSize - outFill_ < 256 && Flush() != kGifOk) return kGifWriteError;
    const int take = std::min(n, kOutSize - outFill_);
    std::memcpy(out_.get() + outFill_, p, static_cast<std::size_t>(take));
    outFill_ += take;
    p += take;
    n -= take;
  }
  return kGifOk;
}

int GifEncoder::Create(mms::ByteStream* stream, int bits, std::unique_ptr<GifEncoder>* out) {
  if (!stream || !out) return kGifBadArgument;
  if (bits != 1 && bits != 4 && bits != 8) return kGifUnsupportedDepth;
  std::unique_ptr<GifEncoder> e(new (std::nothrow) GifEncoder());
  if (!e) return kGifNoMemory;
  e->out_.reset(new (std::nothrow) std::uint8_t[kOutSize]);
  e->lzw_.reset(new (std::nothrow) Lzw());
  if (!e->out_ || !e->lzw_) return kGifLzwInitFailed;
  e->stream_ = stream;
  e->bits_ = bits;
  e->Put("GIF89a", 6);
  *out = std::move(e);
  return kGifOk;
}

int GifEncoder::SetScreen(int width, int height, int tableBits, int colorResolution, bool sorted,
                          int background) {
  if (width < 1 || width > 0xFFFF || height < 1 || height > 0xFFFF || tableBits < 0 || tableBits > 8)
    return kGifBadArgument;
  std::uint8_t packed = 0;
  if (tableBits > 0) packed |= static_cast<std::uint8_t>(0x80 | (tableBits - 1));
  if (colorResolution >= 1 && colorResolution <= 8)
    packed |= static_cast<std::uint8_t>(((colorResolution - 1) & 7) << 4);
  if (sorted) packed |= 0x08;
  const std::uint8_t d[7] = {static_cast<std::uint8_t>(width),
                             static_cast<std::uint8_t>(width >> 8),
                             static_cast<std::uint8_t>(height),
                             static_cast<std::uint8_t>(height >> 8),
                             packed,
                             static_cast<std::uint8_t>(background),
                             0};
  return Put(d, 7);
}

int GifEncoder::WriteColorTable(const RGBQUAD* entries, int count, int bits) {
  if ((!entries && count > 0) || bits < 1 || bits > 8 || count < 0) return kGifBadArgument;
  const int total = 1 << bits;
  for (int i = 0; i < total; ++i) {
    std::uint8_t rgb[3] = {0, 0, 0};
    if (i < count) {
      rgb[0] = entries[i].rgbRed;
      rgb[1] = entries[i].rgbGreen;
      rgb[2] = entries[i].rgbBlue;
    }
    if (Put(rgb, 3) != kGifOk) return kGifWriteError;
  }
  return kGifOk;
}

int GifEncoder::LoopExtension(int loopCount) {
  std::uint8_t ext[19] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S', 'C', 'A', 'P',
                          'E',  '2',  '.',  '0', 0x03, 0x01, 0,   0,   0x00};
  if (loopCount < 0) loopCount = 0;
  ext[16] = static_cast<std::uint8_t>(loopCount);
  ext[17] = static_cast<std::uint8_t>(loopCount >> 8);
  return Put(ext, sizeof ext);
}

int GifEncoder::SetFrame(const GifFrame& f, int localBits) {
  if (f.width == 0 || f.height == 0 || localBits < 0 || localBits > 8) return kGifBadArgument;
  const std::uint8_t gce[8] = {0x21,
                               0xF9,
                               0x04,
                               static_cast<std::uint8_t>((f.disposal & 7) * 4 + (f.transparent ? 1 : 0)),
                               static_cast<std::uint8_t>(f.delay),
                               static_cast<std::uint8_t>(f.delay >> 8),
                               f.transparentIndex,
                               0};
  // Rows are always written in plain order, so the interlace flag stays clear.
  std::uint8_t packed = 0;
  if (localBits > 0) packed = static_cast<std::uint8_t>(0x80 | (localBits - 1));
  const std::uint8_t d[10] = {0x2C,
                              static_cast<std::uint8_t>(f.left),
                              static_cast<std::uint8_t>(f.left >> 8),
                              static_cast<std::uint8_t>(f.top),
                              static_cast<std::uint8_t>(f.top >> 8),
                              static_cast<std::uint8_t>(f.width),
                              static_cast<std::uint8_t>(f.width >> 8),
                              static_cast<std::uint8_t>(f.height),
                              static_cast<std::uint8_t>(f.height >> 8),
                              packed};
  if (Put(gce, 8) != kGifOk || Put(d, 10) != kGifOk) return kGifWriteError;
  return kGifOk;
}

int GifEncoder::WriteFrame(const std::uint8_t* pixels, std::int64_t stride, int width, int height, int bits) {
  if (!pixels || width < 1 || height < 1 || bits < 1 || bits > 8) return kGifBadArgument;
  Lzw& z = *lzw_;
  z.minSize = bits < 2 ? 2 : bits;
  z.clear = 1 << z.minSize;
  z.end = z.clear + 1;
  z.blockFill = 0;
  z.acc = 0;
  z.accBits = 0;
  z.Reset();
  const std::uint8_t codeSize = static_cast<std::uint8_t>(z.minSize);
  if (Put(&codeSize, 1) != kGifOk) return kGifWriteError;

  bool failed = false;
  auto emit = [&](int code) {
    z.acc |= static_cast<std::uint32_t>(code) << z.accBits;
    z.accBits += z.size;
    while (z.accBits >= 8) {
      z.block[1 + z.blockFill++] = static_cast<std::uint8_t>(z.acc);
      z.acc >>= 8;
      z.accBits -= 8;
      if (z.blockFill == 255) {
        z.block[0] = 255;
        if (Put(z.block, 256) != kGifOk) failed = true;
        z.blockFill = 0;
      }
    }
  };
  const int mask = z.clear - 1;
  emit(z.clear);
  int prefix = pixels[0] & mask;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + stride * y;
    for (int x = (y == 0 ? 1 : 0); x < width; ++x) {
      const std::uint8_t p = static_cast<std::uint8_t>(row[x] & mask);
      int c = z.table[prefix].child;
      while (c && z.table[c].byte != p) c = z.table[c].sibling;
      if (c) {
        prefix = c;
        continue;
      }
      z.table[z.next] = Lzw::Entry{0, z.table[prefix].child, p};
      z.table[prefix].child = static_cast<std::uint16_t>(z.next);
      emit(prefix);
      ++z.next;
      if (z.next > (1 << z.size) && z.size < 12) ++z.size;
      if (z.next >= kCodes - 2) {
        emit(z.clear);
        z.Reset();
      }
      prefix = p;
    }
  }
  emit(prefix);
  emit(z.end);
  if (z.accBits > 0) {
    z.block[1 + z.blockFill++] = static_cast<std::uint8_t>(z.acc);
    z.acc = 0;
    z.accBits = 0;
  }
  if (z.blockFill > 0) {
    z.block[0] = static_cast<std::uint8_t>(z.blockFill);
    if (Put(z.block, z.blockFill + 1) != kGifOk) failed = true;
  }
  const std::uint8_t terminator = 0;
  if (Put(&terminator, 1) != kGifOk) failed = true;
  return failed ? kGifPackError : kGifOk;
}

int GifEncoder::Close() {
  const std::uint8_t trailer = 0x3B;
  if (Put(&trailer, 1) != kGifOk || Flush() != kGifOk || !stream_->Flush()) return kGifWriteError;
  return kGifOk;
}

int WriteGif(mms::ByteStream* stream, const PackedDib& dib) {
  std::unique_ptr<GifEncoder> e;
  int rc = GifEncoder::Create(stream, dib.bits(), &e);
  if (rc != kGifOk) return rc;
  const int bits = dib.bits();
  if ((rc = e->SetScreen(dib.width(), dib.height(), bits, bits, false, 0)) != kGifOk) return rc;
  if ((rc = e->WriteColorTable(dib.palette(), dib.colorCount(), bits)) != kGifOk) return rc;
  GifFrame f;
  f.width = static_cast<std::uint16_t>(dib.width());
  f.height = static_cast<std::uint16_t>(dib.height());
  if ((rc = e->SetFrame(f, 0)) != kGifOk) return rc;
  // Unpack to one index per byte, top row first.
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(dib.width()) * dib.height());
  for (int y = 0; y < dib.height(); ++y) {
    const std::uint8_t* s = dib.TopRow(y);
    std::uint8_t* d = pixels.data() + static_cast<std::size_t>(y) * dib.width();
    for (int x = 0; x < dib.width(); ++x) {
      if (bits == 8)
        d[x] = s[x];
      else if (bits == 4)
        d[x] = (x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4);
      else
        d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
    }
  }
  if ((rc = e->WriteFrame(pixels.data(), dib.width(), dib.width(), dib.height(), bits)) != kGifOk) return rc;
  return e->Close();
}

int ShrinkGif(mms::ByteStream* in, mms::ByteStream* out, const Box& box, bool* written) {
  if (!in || !out || !written || box.width < 1 || box.height < 1) return kGifBadArgument;
  *written = false;
  std::unique_ptr<GifDecoder> dec;
  int rc = GifDecoder::Open(in, &dec);
  if (rc != kGifOk) return rc;
  const GifScreen s = dec->screen();
  Box fitted;
  const double scale = FitSize(s.width, s.height, box, &fitted);
  if (scale >= 1.0 || fitted.width == s.width) return kGifOk;
  fitted.width = std::max(fitted.width, 1);
  fitted.height = std::max(fitted.height, 1);
  GifPrescan pre;
  if ((rc = dec->Prescan(&pre)) != kGifOk) return rc;

  std::vector<int> colMap(static_cast<std::size_t>(fitted.width)),
      rowMap(static_cast<std::size_t>(fitted.height));
  for (int i = 0; i < fitted.width; ++i)
    colMap[i] = static_cast<int>(static_cast<std::int64_t>(i) * s.width / fitted.width);
  for (int i = 0; i < fitted.height; ++i)
    rowMap[i] = static_cast<int>(static_cast<std::int64_t>(i) * s.height / fitted.height);

  std::unique_ptr<GifEncoder> enc;
  if ((rc = GifEncoder::Create(out, 8, &enc)) != kGifOk) return rc;
  const int globalBits = s.globalTable ? s.colorResolutionBits : 0;
  if ((rc = enc->SetScreen(fitted.width, fitted.height, globalBits, s.colorResolutionField + 1, s.sorted,
                           s.background)) != kGifOk)
    return rc;
  if (s.globalTable) {
    RGBQUAD table[256];
    int count = 256;
    dec->GlobalTable(table, &count);
    if ((rc = enc->WriteColorTable(table, count, globalBits)) != kGifOk) return rc;
  }
  if (pre.applicationExtension && (rc = enc->LoopExtension(pre.loopCount)) != kGifOk) return rc;

  std::vector<std::uint8_t> frame, sampled;
  for (int n = 0;; ++n) {
    rc = dec->SelectFrame(n);
    if (rc == kGifFrameNotFound) break;
    if (rc != kGifOk) return rc;
    const GifFrame f = dec->frame();
    // Canvas columns and rows whose samples fall inside the frame.
    auto range = [](const std::vector<int>& map, int start, int length, int canvas, int source,
                    std::vector<int>* picks) {
      picks->clear();
      for (int i = 0; i < canvas; ++i)
        if (map[i] >= start && map[i] < start + length) picks->push_back(i);
      if (picks->empty()) {
        // A frame thinner than one sample still needs one pixel.
        const int at =
            std::min(canvas - 1, static_cast<int>(static_cast<std::int64_t>(start) * canvas / source));
        picks->push_back(at);
        return start;
      }
      return -1;
    };
    std::vector<int> cols, rows;
    const int lonelyCol = range(colMap, f.left, f.width, fitted.width, s.width, &cols);
    const int lonelyRow = range(rowMap, f.top, f.height, fitted.height, s.height, &rows);
    frame.assign(static_cast<std::size_t>(f.width) * f.height, f.transparent ? f.transparentIndex : 0);
    for (int r = 0; r < f.height; ++r) {
      int number = 0;
      std::vector<std::uint8_t> row(f.width);
      if (dec->ReadRow(row.data(), &number) != kGifOk) break;
      std::memcpy(frame.data() + static_cast<std::size_t>(number) * f.width, row.data(), f.width);
    }
    GifFrame g = f;
    g.left = static_cast<std::uint16_t>(cols.front());
    g.top = static_cast<std::uint16_t>(rows.front());
    g.width = static_cast<std::uint16_t>(cols.size());
    g.height = static_cast<std::uint16_t>(rows.size());
    g.interlaced = false;
    sampled.resize(static_cast<std::size_t>(g.width) * g.height);
    for (std::size_t j = 0; j < rows.size(); ++j) {
      const int sy = lonelyRow >= 0 ? 0 : rowMap[rows[j]] - f.top;
      for (std::size_t i = 0; i < cols.size(); ++i) {
        const int sx = lonelyCol >= 0 ? 0 : colMap[cols[i]] - f.left;
        sampled[j * g.width + i] = frame[static_cast<std::size_t>(sy) * f.width + sx];
      }
    }
    int bits = 8;
    if (f.localTable) {
      bits = f.localTableBits;
      if ((rc = enc->SetFrame(g, bits)) != kGifOk) return rc;
      RGBQUAD table[256];
      int count = 256;
      dec->FrameTable(table, &count);
      if ((rc = enc->WriteColorTable(table, count, bits)) != kGifOk) return rc;
    } else {
      if ((rc = enc->SetFrame(g, 0)) != kGifOk) return rc;
      bits = s.globalTable ? s.colorResolutionBits : 8;
    }
    if ((rc = enc->WriteFrame(sampled.data(), g.width, g.width, g.height, bits)) != kGifOk) return rc;
  }
  if ((rc = enc->Close()) != kGifOk) return rc;
  *written = true;
  return kGifOk;
}

}  // namespace imaging
