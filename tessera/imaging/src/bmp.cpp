// Own BMP codec. The reader works through a 10240-byte window of the stream; RLE files are
// scanned once to find where each row's codes begin, so rows can be delivered in any order.
#include "imaging/bmp.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace imaging {

namespace {

constexpr int kWindowSize = 10240;

inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// Stores pixel value v at index x of a packed row of the given depth.
inline void SetPacked(std::uint8_t* row, int bits, int x, int v) {
  if (bits == 8) {
    row[x] = static_cast<std::uint8_t>(v);
  } else {  // 4
    if (x & 1)
      row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0) | (v & 0x0F));
    else
      row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0F) | ((v & 0x0F) << 4));
  }
}

}  // namespace

BmpReader::~BmpReader() = default;

int BmpReader::Fill(std::int64_t offset) {
  if (stream_->Seek(offset, mms::ByteStream::kFromStart) != 0) return kBmpShortRead;
  const std::int64_t n = stream_->Read(window_.get(), kWindowSize);
  windowOffset_ = offset;
  windowFill_ = static_cast<int>(std::max<std::int64_t>(n, 0));
  return kBmpOk;
}

int BmpReader::ReadAt(std::int64_t offset, void* dst, int n) {
  auto* out = static_cast<std::uint8_t*>(dst);
  while (n > 0) {
    if (offset < windowOffset_ || offset >= windowOffset_ + windowFill_) {
      // Bottom-up files are read from their end backwards: when moving back, let the
      // window end at this read so that the rows before it come from the same fill.
      std::int64_t start = offset;
      if (offset < windowOffset_ && n < kWindowSize)
        start = std::max<std::int64_t>(0, offset + n - kWindowSize);
      if (Fill(start) != kBmpOk || offset - windowOffset_ >= windowFill_) return kBmpShortRead;
    }
    const int at = static_cast<int>(offset - windowOffset_);
    const int take = std::min(n, windowFill_ - at);
    std::memcpy(out, window_.get() + at, static_cast<std::size_t>(take));
    out += take;
    offset += take;
    n -= take;
  }
  return kBmpOk;
}

int BmpReader::ReadByte(std::int64_t* pos, std::uint8_t* b) {
  const int rc = ReadAt(*pos, b, 1);
  if (rc == kBmpOk) ++*pos;
  return rc;
}

int BmpReader::Open(mms::ByteStream* stream, std::unique_ptr<BmpReader>* out) {
  if (!stream || !out) return kBmpBadArgument;
  std::unique_ptr<BmpReader> r(new (std::nothrow) BmpReader());
  if (!r) return kBmpNoMemory;
  r->window_.reset(new (std::nothrow) std::uint8_t[kWindowSize]);
  if (!r->window_) return kBmpNoMemory;
  r->stream_ = stream;
  r->windowOffset_ = -1;
  const std::int64_t base = stream->Tell();
  r->windowOffset_ = 0;
  if (r->Fill(base) != kBmpOk) return kBmpShortRead;

  std::uint8_t fh[14 + 4];
  if (r->ReadAt(base, fh, 2) != kBmpOk) return kBmpShortRead;
  if (Le16(fh) != 0x4D42) return kBmpNotBmp;
  if (r->ReadAt(base, fh, 18) != kBmpOk) return kBmpShortRead;
  r->dataOffset_ = Le32(fh + 10);
  const std::uint32_t headerSize = Le32(fh + 14);
  BITMAPINFOHEADER& h = r->info_;
  std::int64_t pos = base + 14;
  std::int64_t height = 0;
  int entryBytes = 4;
  if (headerSize == 40) {
    std::uint8_t ih[40];
    if (r->ReadAt(pos, ih, 40) != kBmpOk) return kBmpShortRead;
    h.biWidth = static_cast<LONG>(Le32(ih + 4));
    height = static_cast<LONG>(Le32(ih + 8));
    h.biPlanes = Le16(ih + 12);
    h.biBitCount = Le16(ih + 14);
    h.biCompression = Le32(ih + 16);
    h.biSizeImage = Le32(ih + 20);
    h.biXPelsPerMeter = static_cast<LONG>(Le32(ih + 24));
    h.biYPelsPerMeter = static_cast<LONG>(Le32(ih + 28));
    h.biClrUsed = Le32(ih + 32);
    h.biClrImportant = Le32(ih + 36);
    pos += 40;
  } else if (headerSize == 12) {
    std::uint8_t ih[12];
    if (r->ReadAt(pos, ih, 12) != kBmpOk) return kBmpShortRead;
    h.biWidth = Le16(ih + 4);
    height = static_cast<std::int16_t>(Le16(ih + 6));
    h.biPlanes = Le16(ih + 8);
    h.biBitCount = Le16(ih + 10);
    h.biCompression = 0;
    pos += 12;
    entryBytes = 3;
  } else {
    return kBmpNotBmp;
  }
  if (height < 0) {
    height = -height;
    r->topDown_ = true;
  }
  if (h.biWidth == 0 || height == 0) return kBmpZeroSize;
  if (h.biWidth < 0 || height > 0x7FFFFFFF) return kBmpNotBmp;
  h.biHeight = static_cast<LONG>(height);
  // Everything below allocates per row or per pixel; refuse giant pictures first.
  if (!WithinPixelBudget(h.biWidth, h.biHeight)) return kBmpNoMemory;
  const int bits = h.biBitCount;
  if (h.biClrUsed == 0 && bits <= 8) h.biClrUsed = 1u << bits;

  if (h.biCompression == 3) {
    std::uint8_t m[12];
    if (r->ReadAt(pos, m, 12) != kBmpOk) return kBmpShortRead;
    for (int i = 0; i < 3; ++i) r->masks_[i] = Le32(m + 4 * i);
    r->hasMasks_ = true;
    pos += 12;
  }
  if (bits <= 8) {
    // More entries than the depth can index are never used; keep the table to 256.
    const std::uint32_t count = std::min<std::uint32_t>(h.biClrUsed, 256);
    r->palette_.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint8_t e[4] = {0, 0, 0, 0};
      if (r->ReadAt(pos, e, entryBytes) != kBmpOk) return kBmpShortRead;
      pos += entryBytes;
      r->palette_[i] = RGBQUAD{e[0], e[1], e[2], 0};
    }
  }
  r->dataOffset_ += static_cast<std::uint32_t>(base);
  r->outWidth_ = h.biWidth;
  *out = std::move(r);
  return kBmpOk;
}

int BmpReader::Palette(RGBQUAD* entries, int* count) const {
  if (!count) return kBmpBadArgument;
  const int have = static_cast<int>(palette_.size());
  if (!entries) {
    *count = have;
    return kBmpOk;
  }
  const int n = std::clamp(*count, 0, have);
  std::copy_n(palette_.begin(), n, entries);
  *count = n;
  return kBmpOk;
}

int BmpReader::Masks(std::uint32_t masks[3]) const {
  if (!masks) return kBmpBadArgument;
  if (!hasMasks_) return kBmpNoMasks;
  std::copy_n(masks_, 3, masks);
  return kBmpOk;
}

int BmpReader::SetOutputWidth(int width) {
  if (width < 1 || width > info_.biWidth) return kBmpBadArgument;
  outWidth_ = width;
  columnMap_.clear();
  if (width == info_.biWidth) return kBmpOk;
  columnMap_.resize(static_cast<std::size_t>(width));
  const double step = static_cast<double>(info_.biWidth) / width;
  double p = 0;
  for (int i = 0; i < width; ++i, p += step) columnMap_[i] = std::min(static_cast<int>(p), info_.biWidth - 1);
  return kBmpOk;
}

int BmpReader::BuildRleOffsets() {
  const bool rle8 = info_.biCompression == 1;
  const int err = rle8 ? kBmpRle8Error : kBmpRle4Error;
  const int height = info_.biHeight;
  rowStarts_.clear();
  std::int64_t pos = dataOffset_;
  int y = 0, x = 0;
  rowStarts_.push_back(RowStart{0, 0, pos});
  for (;;) {
    std::uint8_t a, b;
    if (ReadByte(&pos, &a) != kBmpOk || ReadByte(&pos, &b) != kBmpOk) return err;
    if (a > 0) {  // encoded run of a pixels
      x = std::min(x + a, info_.biWidth);
      continue;
    }
    if (b == 0 || b == 2) {  // end of line, or delta
      int dx = 0, dy = 1;
      if (b == 2) {
        std::uint8_t d[2];
        if (ReadByte(&pos, &d[0]) != kBmpOk || ReadByte(&pos, &d[1]) != kBmpOk) return err;
        dx = d[0];
        dy = d[1];
        x = std::min(x + dx, info_.biWidth);
        if (dy == 0) continue;
      } else {
        x = 0;
      }
      y += dy;
      if (y >= height) break;  // a delta past the picture ends it
      rowStarts_.push_back(RowStart{y, x, pos});
      continue;
    }
    if (b == 1) break;  // end of bitmap
    // Absolute run of b pixels, padded to 16 bits.
    const int bytes = rle8 ? b : (b + 1) / 2;
    pos += bytes + (bytes & 1);
    x = std::min(x + b, info_.biWidth);
  }
  offsetsBuilt_ = true;
  return kBmpOk;
}

// Expands one file row of RLE codes into row (packed 8 or 4 bits). Pixels past the row's
// end are dropped; the codes were already checked for length by the scan.
int BmpReader::ExpandRleRow(int fileRow, std::uint8_t* row) {
  const bool rle8 = info_.biCompression == 1;
  const int err = rle8 ? kBmpRle8Error : kBmpRle4Error;
  const int bits = rle8 ? 8 : 4;
  const int width = info_.biWidth;
  std::memset(row, 0, static_cast<std::size_t>(DibStride(width, bits)));
  const auto it = std::lower_bound(rowStarts_.begin(), rowStarts_.end(), fileRow,
                                   [](const RowStart& s, int row) { return s.row < row; });
  if (it == rowStarts_.end() || it->row != fileRow) return kBmpOk;  // skipped by a delta
  std::int64_t pos = it->offset;
  int x = it->x;
  for (;;) {
    std::uint8_t a, b;
    if (ReadByte(&pos, &a) != kBmpOk || ReadByte(&pos, &b) != kBmpOk) return err;
    if (a > 0) {
      for (int i = 0; i < a && x < width; ++i, ++x) {
        const int v = rle8 ? b : ((i & 1) ? (b & 0x0F) : (b >> 4));
        SetPacked(row, bits, x, v);
      }
      continue;
    }
    if (b == 0 || b == 1) return kBmpOk;
    if (b == 2) {
      std::uint8_t d[2];
      if (ReadByte(&pos, &d[0]) != kBmpOk || ReadByte(&pos, &d[1]) != kBmpOk) return err;
      if (d[1] != 0) return kBmpOk;
      x = std::min(x + d[0], width);
      continue;
    }
    const int bytes = rle8 ? b : (b + 1) / 2;
    std::uint8_t data[256];
    if (ReadAt(pos, data, bytes) != kBmpOk) return err;
    pos += bytes + (bytes & 1);
    for (int i = 0; i < b && x < width; ++i, ++x) {
      const int v = rle8 ? data[i] : ((i & 1) ? (data[i >> 1] & 0x0F) : (data[i >> 1] >> 4));
      SetPacked(row, bits, x, v);
    }
  }
}

int BmpReader::ReadRows(std::uint8_t* buffer, int count, int* firstRow, int* rowsRead) {
  if (!buffer || count < 0) return kBmpBadArgument;
  if (rowsRead) *rowsRead = 0;
  if (firstRow) *firstRow = rowsDone_;
  const int bits = info_.biBitCount;
  const std::uint32_t comp = info_.biCompression;
  const bool direct = (comp == 0 || comp == 3) &&
                      (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool rle = (comp == 1 && bits == 8) || (comp == 2 && bits == 4);
  if (!direct && !rle) return comp == 1 ? kBmpRle8Error : comp == 2 ? kBmpRle4Error : kBmpNotBmp;
  if (rle && !offsetsBuilt_) {
    const int rc = BuildRleOffsets();
    if (rc != kBmpOk) return rc;
  }
  const int height = info_.biHeight;
  count = std::min(count, height - rowsDone_);
  // One file row, allocated when the first row is asked for.
  if (rowBuffer_.empty()) rowBuffer_.resize(static_cast<std::size_t>(DibStride(info_.biWidth, bits)) + 8);
  const std::int64_t fileStride = DibStride(info_.biWidth, bits);
  const std::int64_t outStride = DibStride(outWidth_, bits);
  std::memset(buffer, 0, static_cast<std::size_t>(outStride * count));
  int done = 0;
  for (; done < count; ++done) {
    const int pictureRow = rowsDone_ + done;
    const int fileRow = topDown_ ? pictureRow : height - 1 - pictureRow;
    std::uint8_t* src = rowBuffer_.data();
    int rc;
    if (direct) {
      rc = ReadAt(dataOffset_ + fileStride * fileRow, src, static_cast<int>(fileStride));
    } else {
      rc = ExpandRleRow(fileRow, src);
    }
    if (rc != kBmpOk) {
      rowsDone_ += done;
      if (rowsRead) *rowsRead = done;
      return rc;
    }
    std::uint8_t* dst = buffer + outStride * done;
    if (columnMap_.empty()) {
      std::memcpy(dst, src, static_cast<std::size_t>(fileStride));
      continue;
    }
    for (int i = 0; i < outWidth_; ++i) {
      const int s = columnMap_[i];
      switch (bits) {
        case 1:
          if ((src[s >> 3] >> (7 - (s & 7))) & 1) dst[i >> 3] |= 0x80 >> (i & 7);
          break;
        case 4: {
          const int v = (s & 1) ? (src[s >> 1] & 0x0F) : (src[s >> 1] >> 4);
          dst[i >> 1] |= (i & 1) ? v : (v << 4);
          break;
        }
        case 8:
          dst[i] = src[s];
          break;
        case 16:
          std::memcpy(dst + 2 * i, src + 2 * s, 2);
          break;
        case 24:
          std::memcpy(dst + 3 * i, src + 3 * s, 3);
          break;
        case 32:
          std::memcpy(dst + 4 * i, src + 4 * s, 4);
          break;
      }
    }
  }
  rowsDone_ += done;
  if (rowsRead) *rowsRead = done;
  return kBmpOk;
}

int BmpReader::SkipRows(int count) {
  if (count < 0) return kBmpBadArgument;
  rowsDone_ += std::min(count, info_.biHeight - rowsDone_);
  return kBmpOk;
}

// ---- Writer ----

BmpWriter::~BmpWriter() = default;

int BmpWriter::Open(mms::ByteStream* stream, const BITMAPINFOHEADER& header,
                    std::unique_ptr<BmpWriter>* out) {
  if (!stream || !out || header.biWidth <= 0 || header.biHeight == 0) return kBmpBadArgument;
  const int bits = header.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return kBmpUnsupportedDepth;
  std::unique_ptr<BmpWriter> w(new (std::nothrow) BmpWriter());
  if (!w) return kBmpNoMemory;
  w->buffer_.reset(new (std::nothrow) std::uint8_t[kWindowSize]);
  if (!w->buffer_) return kBmpNoMemory;
  w->stream_ = stream;
  w->info_ = header;
  w->info_.biSize = 40;
  w->info_.biCompression = 0;
  if (bits <= 8) {
    const std::uint32_t full = 1u << bits;
    w->colorCount_ = (header.biClrUsed > 0 && header.biClrUsed <= full) ? header.biClrUsed : full;
  }
  w->start_ = stream->Tell();
  *out = std::move(w);
  return kBmpOk;
}

int BmpWriter::FlushBuffer() {
  if (bufferFill_ > 0 && stream_->Write(buffer_.get(), bufferFill_) != bufferFill_) return kBmpWriteError;
  bufferFill_ = 0;
  return kBmpOk;
}

int BmpWriter::Put(const void* data, std::int64_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    if (bufferFill_ == kWindowSize && FlushBuffer() != kBmpOk) return kBmpWriteError;
    const int take = static_cast<int>(std::min<std::int64_t>(n, kWindowSize - bufferFill_));
    std::memcpy(buffer_.get() + bufferFill_, p, static_cast<std::size_t>(take));
    bufferFill_ += take;
    p += take;
    n -= take;
  }
  return kBmpOk;
}

int BmpWriter::WriteHeaders() {
  std::uint8_t h[54] = {};
  h[0] = 'B';
  h[1] = 'M';
  const std::uint32_t tableBytes = colorCount_ * 4;
  dataOffset_ = 54 + tableBytes;
  Put32(h + 2, static_cast<std::uint32_t>(dataOffset_ + pixelBytes_));
  Put32(h + 10, dataOffset_);
  Put32(h + 14, 40);
  Put32(h + 18, static_cast<std::uint32_t>(info_.biWidth));
  Put32(h + 22, static_cast<std::uint32_t>(info_.biHeight < 0 ? -info_.biHeight : info_.biHeight));
  Put16(h + 26, 1);
  Put16(h + 28, info_.biBitCount);
  Put32(h + 30, 0);
  Put32(h + 34, static_cast<std::uint32_t>(pixelBytes_));
  Put32(h + 38, static_cast<std::uint32_t>(info_.biXPelsPerMeter));
  Put32(h + 42, static_cast<std::uint32_t>(info_.biYPelsPerMeter));
  Put32(h + 46, colorCount_);
  Put32(h + 50, 0);
  return Put(h, 54);
}

int BmpWriter::Palette(const RGBQUAD* entries) {
  if (!entries || info_.biBitCount > 8 || headerWritten_) return kBmpBadArgument;
  int rc = WriteHeaders();
  headerWritten_ = true;
  if (rc != kBmpOk) return rc;
  for (std::uint32_t i = 0; i < colorCount_; ++i) {
    const std::uint8_t e[4] = {entries[i].rgbBlue, entries[i].rgbGreen, entries[i].rgbRed, 0};
    rc = Put(e, 4);
    if (rc != kBmpOk) return rc;
  }
  return kBmpOk;
}

int BmpWriter::WriteRows(int firstRow, int count, const std::uint8_t* rows, std::int64_t stride) {
  if (!rows || count < 0 || firstRow < 0) return kBmpBadArgument;
  if (!headerWritten_) {
    // No palette given: a zeroed table keeps the layout valid.
    const int rc = WriteHeaders();
    headerWritten_ = true;
    if (rc != kBmpOk) return rc;
    static const std::uint8_t zero[4] = {0, 0, 0, 0};
    for (std::uint32_t i = 0; i < colorCount_; ++i)
      if (Put(zero, 4) != kBmpOk) return kBmpWriteError;
  }
  const std::int64_t rowBytes = DibStride(info_.biWidth, info_.biBitCount);
  for (int i = 0; i < count; ++i) {
    if (Put(rows + stride * i, rowBytes) != kBmpOk) return kBmpWriteError;
    pixelBytes_ += rowBytes;
  }
  return kBmpOk;
}

int BmpWriter::Close() {
  if (!headerWritten_) return kBmpBadArgument;
  if (FlushBuffer() != kBmpOk) return kBmpWriteError;
  const std::int64_t end = stream_->Tell();
  if (stream_->Seek(start_, mms::ByteStream::kFromStart) != 0) return kBmpWriteError;
  headerWritten_ = false;
  if (WriteHeaders() != kBmpOk || FlushBuffer() != kBmpOk) return kBmpWriteError;
  if (stream_->Seek(end, mms::ByteStream::kFromStart) != 0) return kBmpWriteError;
  return stream_->Flush() ? kBmpOk : kBmpWriteError;
}

int WriteBmp(mms::ByteStream* stream, const PackedDib& dib) {
  std::unique_ptr<BmpWriter> w;
  int rc = BmpWriter::Open(stream, dib.header(), &w);
  if (rc != kBmpOk) return rc;
  if (dib.bits() <= 8) {
    rc = w->Palette(dib.palette());
    if (rc != kBmpOk) return rc;
  }
  rc = w->WriteRows(0, dib.height(), dib.bits_data(), dib.stride());
  if (rc != kBmpOk) return rc;
  return w->Close();
}

}  // namespace imaging
