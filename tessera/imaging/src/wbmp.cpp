#include "imaging/wbmp.h"

#include <cstring>
#include <new>
#include <vector>

#include "imaging/image.h"

namespace imaging {

namespace {

// Multi-byte integer: 7 bits per byte, most significant first, high bit = more follows.
// At most three bytes are taken; the value is truncated to 16 bits.
bool ReadMultiByte(mms::ByteStream* s, std::uint32_t* value) {
  std::uint32_t v = 0;
  for (int i = 0; i < 3; ++i) {
    std::uint8_t b;
    if (s->Read(&b, 1) != 1) return false;
    v = (v << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  *value = v & 0xFFFF;
  return true;
}

int WriteMultiByte(std::uint8_t* out, std::uint32_t v) {
  std::uint8_t tmp[5];
  int n = 0;
  do {
    tmp[n++] = static_cast<std::uint8_t>(v & 0x7F);
    v >>= 7;
  } while (v);
  for (int i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(tmp[n - 1 - i] | (i + 1 < n ? 0x80 : 0));
  return n;
}

}  // namespace

int WbmpReader::Open(mms::ByteStream* stream, std::unique_ptr<WbmpReader>* out) {
  if (!stream || !out) return kWbmpBadArgument;
  std::uint8_t fixed[2];
  if (stream->Read(fixed, 2) != 2) return kWbmpShortRead;
  if (fixed[0] != 0 || fixed[1] != 0) return kWbmpBadHeader;
  std::uint32_t w, h;
  if (!ReadMultiByte(stream, &w) || !ReadMultiByte(stream, &h)) return kWbmpShortRead;
  if (w == 0 || h == 0) return kWbmpZeroSize;
  std::unique_ptr<WbmpReader> r(new (std::nothrow) WbmpReader());
  if (!r) return kWbmpNoMemory;
  r->stream_ = stream;
  r->header_.biWidth = static_cast<LONG>(w);
  r->header_.biHeight = static_cast<LONG>(h);
  r->header_.biBitCount = 1;
  r->header_.biSizeImage = static_cast<DWORD>(DibStride(w, 1) * h);
  r->header_.biXPelsPerMeter = 300;
  r->header_.biYPelsPerMeter = 300;
  r->header_.biClrUsed = 2;
  *out = std::move(r);
  return kWbmpOk;
}

void WbmpReader::Palette(RGBQUAD out[2]) const {
  out[0] = RGBQUAD{0, 0, 0, 0};
  out[1] = RGBQUAD{0xFF, 0xFF, 0xFF, 0};
}

int WbmpReader::ReadRows(std::uint8_t* buffer, int count, int* firstRow, int* rowsRead) {
  if (!buffer || count < 0) return kWbmpBadArgument;
  const int left = header_.biHeight - rowsDone_;
  if (count > left) count = left;
  const std::int64_t rowBytes = (header_.biWidth + 7) / 8;
  const std::int64_t stride = DibStride(header_.biWidth, 1);
  if (firstRow) *firstRow = rowsDone_;
  int done = 0;
  int rc = kWbmpOk;
  for (; done < count; ++done) {
    std::uint8_t* row = buffer + stride * done;
    if (stream_->Read(row, rowBytes) != rowBytes) {
      rc = kWbmpShortRead;
      break;
    }
    std::memset(row + rowBytes, 0, static_cast<std::size_t>(stride - rowBytes));
  }
  rowsDone_ += done;
  if (rowsRead) *rowsRead = done;
  return rc;
}

int WbmpWriter::Open(mms::ByteStream* stream, const BITMAPINFOHEADER& header,
                     std::unique_ptr<WbmpWriter>* out) {
  if (!stream || !out || header.biBitCount != 1 || header.biWidth <= 0 || header.biHeight == 0)
    return kWbmpBadArgument;
  std::unique_ptr<WbmpWriter> w(new (std::nothrow) WbmpWriter());
  if (!w) return kWbmpNoMemory;
  w->stream_ = stream;
  w->width_ = header.biWidth;
  w->height_ = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  std::uint8_t head[12] = {0, 0};
  int n = 2;
  n += WriteMultiByte(head + n, static_cast<std::uint32_t>(w->width_));
  n += WriteMultiByte(head + n, static_cast<std::uint32_t>(w->height_));
  if (stream->Write(head, n) != n) return kWbmpShortRead;
  *out = std::move(w);
  return kWbmpOk;
}

int WbmpWriter::WriteRows(const std::uint8_t* const* rows, int count) {
  if (!rows || count < 0 || rowsDone_ + count > height_) return kWbmpBadArgument;
  const std::int64_t rowBytes = (width_ + 7) / 8;
  for (int i = 0; i < count; ++i) {
    if (stream_->Write(rows[i], rowBytes) != rowBytes) return kWbmpShortRead;
  }
  rowsDone_ += count;
  return kWbmpOk;
}

int WbmpWriter::Close() {
  return stream_->Flush() ? kWbmpOk : kWbmpShortRead;
}

int WriteWbmp(mms::ByteStream* stream, const PackedDib& dib24) {
  if (!stream || dib24.bits() != 24) return kWbmpBadArgument;
  auto mono = ReduceBitmap(dib24, 1, nullptr, 0);
  if (!mono) return kWbmpNoMemory;
  std::unique_ptr<WbmpWriter> writer;
  int rc = WbmpWriter::Open(stream, mono->header(), &writer);
  if (rc != kWbmpOk) return rc;
  for (int y = 0; y < mono->height(); ++y) {
    const std::uint8_t* row = mono->TopRow(y);
    rc = writer->WriteRows(&row, 1);
    if (rc != kWbmpOk) return rc;
  }
  return writer->Close();
}

}  // namespace imaging
