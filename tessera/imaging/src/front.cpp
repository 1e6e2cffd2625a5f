// The front: type dispatch, fitted loading with row decimation, image info, save and
// convert.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/bmp.h"
#include "imaging/gif.h"
#include "imaging/image.h"
#include "imaging/jpeg.h"
#include "imaging/png.h"
#include "imaging/wbmp.h"
#include "platform/text.h"

namespace imaging {

namespace {

VideoFrameSource gVideoSource = nullptr;

bool EndsWithNoCase(std::u16string_view path, std::u16string_view ext) {
  if (path.size() < ext.size()) return false;
  const std::u16string_view tail = path.substr(path.size() - ext.size());
  for (std::size_t i = 0; i < ext.size(); ++i) {
    char16_t c = tail[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != ext[i]) return false;
  }
  return true;
}

// A decoder seen by the fitted loader: rows of the source, top first.
class RowSource {
 public:
  virtual ~RowSource() = default;
  /// Delivers the next row into row (at least DibStride(deliveredWidth, bits) bytes).
  virtual bool Next(std::uint8_t* row) = 0;
  /// Passes over the next row; sources that must decode every row read it into row.
  virtual bool Skip(std::uint8_t* row) { return Next(row); }
  int width = 0;           // source width
  int deliveredWidth = 0;  // width of the rows Next() delivers (BMP narrows itself)
  int height = 0;
  RowFormat format;
  RGBQUAD palette[256] = {};
};

class JpegSource : public RowSource {
 public:
  std::unique_ptr<mms::ByteStream> stream;
  std::unique_ptr<JpegReader> reader;
  bool Next(std::uint8_t* row) override {
    int first = 0, got = 0;
    return reader->ReadRows(row, 1, &first, &got) == kJpegOk && got == 1;
  }
};

class BmpSource : public RowSource {
 public:
  std::unique_ptr<mms::ByteStream> stream;
  std::unique_ptr<BmpReader> reader;
  bool Skip(std::uint8_t*) override { return reader->SkipRows(1) == kBmpOk; }
  bool Next(std::uint8_t* row) override {
    int first = 0, got = 0;
    return reader->ReadRows(row, 1, &first, &got) == kBmpOk && got == 1;
  }
};

class WbmpSource : public RowSource {
 public:
  std::unique_ptr<mms::ByteStream> stream;
  std::unique_ptr<WbmpReader> reader;
  bool Next(std::uint8_t* row) override {
    int first = 0, got = 0;
    return reader->ReadRows(row, 1, &first, &got) == kWbmpOk && got == 1;
  }
};

class PngSource : public RowSource {
 public:
  ~PngSource() override {
    if (reader) PngCloseReader(reader);
  }
  std::unique_ptr<mms::ByteStream> stream;
  PngReader* reader = nullptr;
  PngLayout layout{};
  std::vector<std::uint8_t> image;  // whole picture, for interlaced files
  int next = 0;
  bool Next(std::uint8_t* row) override {
    if (layout.interlaced) {
      if (next >= height) return false;
      std::memcpy(row, image.data() + static_cast<std::size_t>(layout.rowBytes) * next, layout.rowBytes);
      ++next;
      return true;
    }
    int first = 0, got = 0;
    return PngReadRows(reader, row, 1, &first, &got) == kPngOk;
  }
  bool ReadInterlaced() {
    image.assign(static_cast<std::size_t>(layout.rowBytes) * height, 0);
    for (int pass = 0; pass < layout.passes; ++pass)
      if (PngReadRows(reader, image.data(), height, nullptr, nullptr) != kPngOk) return false;
    return true;
  }
};

void GreyTable(RGBQUAD* table) {
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<BYTE>(i);
    table[i] = RGBQUAD{v, v, v, 0};
  }
}

// What convert needs to know about the file it loaded.
struct SourceInfo {
  std::uint32_t type = 0;
  int bits = 0;
  int components = 0;
  int colorCount = 0;
  RGBQUAD palette[256] = {};
};

std::unique_ptr<RowSource> OpenSource(std::u16string_view path, std::uint32_t type, const Box& box,
                                      SourceInfo* info) {
  auto stream = mms::ByteStream::OpenFile(path, mms::ByteStream::kRead);
  if (!stream) return nullptr;
  switch (type) {
    case kTypeJpeg: {
      auto s = std::make_unique<JpegSource>();
      if (JpegReader::Open(stream.get(), &s->reader) != kJpegOk) return nullptr;
      int w = box.width, h = box.height;
      BITMAPINFOHEADER header;
      if (s->reader->Size(&w, &h) != kJpegOk || s->reader->Start(&header) != kJpegOk) return nullptr;
      s->width = s->deliveredWidth = header.biWidth;
      s->height = header.biHeight;
      s->format.bits = header.biBitCount;
      if (header.biBitCount == 8) {
        GreyTable(s->palette);
        s->format.palette = s->palette;
      }
      info->components = s->reader->components();
      s->stream = std::move(stream);
      return s;
    }
    case kTypeBmp: {
      auto s = std::make_unique<BmpSource>();
      if (BmpReader::Open(stream.get(), &s->reader) != kBmpOk) return nullptr;
      const BITMAPINFOHEADER& h = s->reader->header();
      s->width = s->deliveredWidth = h.biWidth;
      s->height = h.biHeight;
      s->format.bits = h.biBitCount;
      int count = 256;
      s->reader->Palette(s->palette, &count);
      info->colorCount = count;
      std::copy_n(s->palette, 256, info->palette);
      if (h.biBitCount <= 8) s->format.palette = s->palette;
      if (s->reader->Masks(s->format.masks) != kBmpOk) {
        const std::uint32_t m16[3] = {0x7C00, 0x03E0, 0x001F}, m32[3] = {0xFF0000, 0xFF00, 0xFF};
        std::copy_n(h.biBitCount == 16 ? m16 : m32, 3, s->format.masks);
      }
      s->stream = std::move(stream);
      return s;
    }
    case kTypeWbmp: {
      auto s = std::make_unique<WbmpSource>();
      if (WbmpReader::Open(stream.get(), &s->reader) != kWbmpOk) return nullptr;
      s->width = s->deliveredWidth = s->reader->header().biWidth;
      s->height = s->reader->header().biHeight;
      s->format.bits = 1;
      s->stream = std::move(stream);
      return s;
    }
    case kTypePng: {
      auto s = std::make_unique<PngSource>();
      if (PngOpenReader(stream.get(), &s->reader) != kPngOk) return nullptr;
      s->stream = std::move(stream);
      BITMAPINFOHEADER h;
      if (PngGetHeader(s->reader, &h) != kPngOk || PngGetLayout(s->reader, &s->layout) != kPngOk)
        return nullptr;
      s->width = s->deliveredWidth = h.biWidth;
      s->height = h.biHeight;
      s->format.bits = h.biBitCount;
      int size = 0;
      PngGetPalette(s->reader, nullptr, &size);
      if (size > 0) {
        size = 1024;
        PngGetPalette(s->reader, reinterpret_cast<std::uint8_t*>(s->palette), &size);
        s->format.palette = s->palette;
      } else if (h.biBitCount <= 8) {
        // Grey samples of 1, 2, 4 or 8 bits span black to white.
        const int top = (1 << h.biBitCount) - 1;
        for (int i = 0; i <= top; ++i) {
          const auto v = static_cast<BYTE>(i * 255 / top);
          s->palette[i] = RGBQUAD{v, v, v, 0};
        }
        s->format.palette = s->palette;
      }
      if (s->layout.interlaced && !s->ReadInterlaced()) return nullptr;
      return s;
    }
    default:
      return nullptr;
  }
}

std::unique_ptr<PackedDib> LoadRows(RowSource& src, Box* box) {
  Box out;
  const double scale = FitSize(src.width, src.height, *box, &out);
  if (out.width < 1 || out.height < 1) return nullptr;
  if (auto* bmp = dynamic_cast<BmpSource*>(&src)) {
    // The BMP reader picks the columns itself, with the same nearest-neighbour map.
    if (bmp->reader->SetOutputWidth(out.width) != kBmpOk) return nullptr;
    src.deliveredWidth = out.width;
  }
  src.format.width = src.deliveredWidth;
  ChannelShifts shifts;
  if (src.format.bits == 16 || src.format.bits == 32) {
    if (!ComputeChannelShifts(src.format.masks, &shifts)) return nullptr;
  }
  auto dib = PackedDib::Create(out.width, out.height, 24);
  if (!dib) return nullptr;
  dib->Fill(0xFF);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(DibStride(src.width, 32)) + 16);
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(src.deliveredWidth) * 3 + 16);
  if (scale == 1.0) {
    for (int y = 0; y < src.height && y < out.height; ++y) {
      if (!src.Next(row.data())) return nullptr;  // a decoder error gives no picture
      ConvertRow(src.format, shifts, row.data(), scratch.data(), dib->TopRow(y), out.width);
    }
  } else {
    double a = 0;
    int r = 0, converted = 0;
    for (int y = 0; y < src.height; ++y) {
      a += scale;
      const int whole = static_cast<int>(a);
      // Rows that will not be converted need not be decoded where the format allows it;
      // the last one is always read for the final row below.
      const bool wanted = whole > r || y == src.height - 1;
      if (!(wanted ? src.Next(row.data()) : src.Skip(row.data()))) return nullptr;
      if (whole > r) {
        r = whole;
        if (converted >= out.height) break;
        ConvertRow(src.format, shifts, row.data(), scratch.data(), dib->TopRow(converted++), out.width);
      }
    }
    // The accumulator first reaches 1 one sample late, so it can end a row short of the
    // output height; the last source row fills that row instead of leaving it white.
    if (converted == out.height - 1 && src.height > 0)
      ConvertRow(src.format, shifts, row.data(), scratch.data(), dib->TopRow(converted), out.width);
  }
  *box = out;
  return dib;
}

std::unique_ptr<PackedDib> LoadGifFirstFrame(std::u16string_view path, Box* box) {
  auto player = GifPlayer::Open(path, box);
  if (!player) return nullptr;
  bool end = false;
  int delay = 0;
  const PackedDib* canvas = player->Render(0, &end, &delay);
  if (!canvas) return nullptr;
  auto copy = PackedDib::Create(canvas->width(), canvas->height(), 24);
  if (!copy) return nullptr;
  std::memcpy(copy->bits_data(), canvas->bits_data(),
              static_cast<std::size_t>(canvas->stride() * canvas->height()));
  return copy;
}

std::unique_ptr<PackedDib> LoadFitted(std::u16string_view path, Box* box, std::uint32_t type, int mode,
                                      SourceInfo* info) {
  if (!box || box->width < 1 || box->height < 1) return nullptr;
  type = ResolveImageType(path, type);
  info->type = type;
  if (type == kTypeGif) return LoadGifFirstFrame(path, box);
  if (type == kTypeVideo) return gVideoSource ? gVideoSource(path, box, mode) : nullptr;
  auto src = OpenSource(path, type, *box, info);
  if (!src) return nullptr;
  info->bits = src->format.bits;
  return LoadRows(*src, box);
}

void RemoveFile(std::u16string_view path) {
  const std::string utf8 = platform::Utf16ToUtf8(path);
  std::remove(utf8.c_str());
}

int SaveAs(const PackedDib& dib, std::u16string_view path, std::uint32_t type) {
  if (type == kTypeWbmp && dib.bits() != 24) return 0;
  if (type == kTypeJpeg && dib.bits() != 24 && dib.bits() != 8) return 0;
  if (type != kTypeJpeg && type != kTypePng && type != kTypeBmp && type != kTypeWbmp) return 0;
  auto stream = mms::ByteStream::OpenFile(path, mms::ByteStream::kWrite);
  if (!stream) return 0;
  bool ok = false;
  switch (type) {
    case kTypeJpeg: {
      std::unique_ptr<JpegWriter> w;
      if (JpegWriter::Open(stream.get(), dib.header(), &w) != kJpegOk) break;
      if (w->SetQuality(kJpegQuality) != kJpegOk) break;
      bool rowsOk = true;
      for (int y = 0; y < dib.height() && rowsOk; ++y) {
        const std::uint8_t* row = dib.TopRow(y);
        rowsOk = w->WriteRows(&row, 1) == kJpegOk;
      }
      ok = rowsOk && w->Close() == kJpegOk;
      break;
    }
    case kTypePng:
      ok = WritePng(stream.get(), dib) == kPngOk;
      break;
    case kTypeBmp:
      ok = WriteBmp(stream.get(), dib) == kBmpOk;
      break;
    case kTypeWbmp:
      ok = WriteWbmp(stream.get(), dib) == kWbmpOk;
      break;
    default:
      break;
  }
  ok = ok && stream->Flush();
  stream.reset();
  if (!ok) RemoveFile(path);
  return ok ? 1 : 0;
}

}  // namespace

void SetVideoFrameSource(VideoFrameSource source) {
  gVideoSource = source;
}

std::uint32_t ResolveImageType(std::u16string_view path, std::uint32_t type) {
  type &= 0xFFFF;
  if (type != kTypeByExtension) return (type >= kTypeJpeg && type <= kTypeVideo) ? type : 0;
  if (EndsWithNoCase(path, u".jpg") || EndsWithNoCase(path, u".jpeg")) return kTypeJpeg;
  if (EndsWithNoCase(path, u".bmp")) return kTypeBmp;
  if (EndsWithNoCase(path, u".png")) return kTypePng;
  if (EndsWithNoCase(path, u".wbmp")) return kTypeWbmp;
  if (EndsWithNoCase(path, u".gif")) return kTypeGif;
  if (EndsWithNoCase(path, u".mp4") || EndsWithNoCase(path, u".3gp")) return kTypeVideo;
  return 0;
}

double FitSize(int w, int h, const Box& box, Box* out) {
  double scale = 1.0;
  if (w > 0 && h > 0) {
    scale = std::min(static_cast<double>(box.width) / w, static_cast<double>(box.height) / h);
    if (scale > 1.0) scale = 1.0;
  }
  if (out) {
    out->width = static_cast<std::int32_t>(w * scale + 0.5);
    out->height = static_cast<std::int32_t>(h * scale + 0.5);
  }
  return scale;
}

std::unique_ptr<PackedDib> LoadImageFitted(std::u16string_view path, Box* box, std::uint32_t type, int mode) {
  SourceInfo info;
  return LoadFitted(path, box, type, mode, &info);
}

int GetImageInfo(std::u16string_view path, Box* size, int* depth, std::uint32_t type, int mode) {
  if (!size || !depth) return 0;
  type = ResolveImageType(path, type);
  if (type == kTypeVideo) {
    if (!gVideoSource) return 0;
    Box box{0x7FFF, 0x7FFF};
    auto frame = gVideoSource(path, &box, mode);
    if (!frame) return 0;
    *size = box;
    *depth = 24;
    return 1;
  }
  auto stream = mms::ByteStream::OpenFile(path, mms::ByteStream::kRead);
  if (!stream) return 0;
  switch (type) {
    case kTypeJpeg: {
      std::unique_ptr<JpegReader> r;
      if (JpegReader::Open(stream.get(), &r) != kJpegOk) return 0;
      int w = 0, h = 0;
      r->Size(&w, &h);
      *size = Box{w, h};
      *depth = r->components() * 8;
      return 1;
    }
    case kTypeGif: {
      std::unique_ptr<GifDecoder> d;
      if (GifDecoder::Open(stream.get(), &d) != kGifOk) return 0;
      *size = Box{d->screen().width, d->screen().height};
      int bits = d->screen().colorResolutionBits;
      if (d->SelectFrame(0) == kGifOk) bits = std::max(bits, d->frame().localTableBits);
      *depth = bits;
      return 1;
    }
    case kTypePng: {
      PngReader* r = nullptr;
      if (PngOpenReader(stream.get(), &r) != kPngOk) return 0;
      BITMAPINFOHEADER h;
      const int rc = PngGetHeader(r, &h);
      PngCloseReader(r);
      if (rc != kPngOk) return 0;
      *size = Box{h.biWidth, h.biHeight};
      *depth = h.biBitCount;
      return 1;
    }
    case kTypeBmp: {
      std::unique_ptr<BmpReader> r;
      if (BmpReader::Open(stream.get(), &r) != kBmpOk) return 0;
      *size = Box{r->header().biWidth, r->header().biHeight};
      *depth = r->header().biBitCount;
      return 1;
    }
    case kTypeWbmp: {
      std::unique_ptr<WbmpReader> r;
      if (WbmpReader::Open(stream.get(), &r) != kWbmpOk) return 0;
      *size = Box{r->header().biWidth, r->header().biHeight};
      *depth = 1;
      return 1;
    }
    default:
      return 0;
  }
}

int SaveImage(const PackedDib& dib, std::u16string_view path, std::uint32_t type) {
  type = ResolveImageType(path, type);
  return SaveAs(dib, path, type);
}

int ConvertImage(std::u16string_view destination, std::u16string_view source, const Box& box,
                 std::uint32_t type) {
  if (box.width < 1 || box.height < 1) return 0;
  type = ResolveImageType(source, type);
  if (type == kTypeGif) {
    auto in = mms::ByteStream::OpenFile(source, mms::ByteStream::kRead);
    if (!in) return 0;
    std::unique_ptr<GifDecoder> d;
    if (GifDecoder::Open(in.get(), &d) != kGifOk) return 0;
    Box fitted;
    const double scale = FitSize(d->screen().width, d->screen().height, box, &fitted);
    if (scale >= 1.0 || fitted.width == d->screen().width) return 1;  // nothing to do
    d.reset();
    if (in->Seek(0, mms::ByteStream::kFromStart) != 0) return 0;
    auto out = mms::ByteStream::OpenFile(destination, mms::ByteStream::kWrite);
    if (!out) return 0;
    bool written = false;
    const int rc = ShrinkGif(in.get(), out.get(), box, &written);
    const bool ok = rc == kGifOk && out->Flush();
    out.reset();
    if (!ok) RemoveFile(destination);
    return ok ? 1 : 0;
  }
  if (type != kTypeJpeg && type != kTypePng && type != kTypeBmp && type != kTypeWbmp) return 0;
  Box fitted = box;
  SourceInfo info;
  auto dib = LoadFitted(source, &fitted, type, 0, &info);
  if (!dib) return 0;
  if (type == kTypeJpeg && info.components == 1) {
    RGBQUAD grey[256];
    GreyTable(grey);
    auto reduced = ReduceBitmap(*dib, 8, grey, 256);
    if (!reduced) return 0;
    return SaveAs(*reduced, destination, kTypeJpeg);
  }
  if (type == kTypeBmp && info.bits != 24 && info.bits != 32) {
    auto reduced = ReduceBitmap(*dib, info.bits, info.palette, info.colorCount);
    if (!reduced) return 0;
    return SaveAs(*reduced, destination, kTypeBmp);
  }
  return SaveAs(*dib, destination, type);
}

}  // namespace imaging
