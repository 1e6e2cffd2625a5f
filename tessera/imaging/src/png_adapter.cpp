// PNG adapter. libpng reports errors by a long jump: every entry point that calls into it
// sets its own jump point and keeps nothing with a destructor alive across the calls.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imaging/png.h"

namespace imaging {

struct PngReader {
  png_structp png;
  png_infop info;
  mms::ByteStream* stream;
  std::int32_t densityX;
  std::int32_t densityY;
  bool failed;
};

struct PngWriter {
  png_structp png;
  png_infop info;
  mms::ByteStream* stream;
  DWORD colorCount;
  bool headerWritten;
  int passes;
  std::uint8_t* rowBuffer;
  std::int32_t rowsWritten;
};

namespace {

// Written into the zTXt "Description" entry of every PNG the system saves.
char gDescription[256] = "Picture of a multimedia message";

void OnError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

void ReadData(png_structp png, png_bytep data, png_size_t length) {
  auto* stream = static_cast<mms::ByteStream*>(png_get_io_ptr(png));
  if (stream->Read(data, static_cast<std::int64_t>(length)) != static_cast<std::int64_t>(length))
    png_error(png, "short read");
}

void WriteData(png_structp png, png_bytep data, png_size_t length) {
  auto* stream = static_cast<mms::ByteStream*>(png_get_io_ptr(png));
  if (stream->Write(data, static_cast<std::int64_t>(length)) != static_cast<std::int64_t>(length))
    png_error(png, "write failed");
}

void FlushData(png_structp png) {
  auto* stream = static_cast<mms::ByteStream*>(png_get_io_ptr(png));
  if (!stream->Flush()) png_error(png, "flush failed");
}

const png_byte kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// Largest buffer libpng may allocate for one chunk: the chunks the reader keeps (palette,
// transparency, density) are a few hundred octets, so a larger declared length is a lie and
// must not cost its size in memory.
constexpr png_alloc_size_t kChunkAllocationLimit = 256 * 1024;
// Ancillary chunks kept in memory at most (text, suggested palettes, unknown chunks).
constexpr png_uint_32 kChunkCacheLimit = 16;

// Ancillary chunks the program never uses: libpng skips them without allocating their data.
const png_byte kIgnoredChunks[] = {
    't', 'E', 'X', 't', '\0', 'z', 'T', 'X', 't', '\0', 'i', 'T', 'X', 't', '\0', 'i', 'C', 'C', 'P', '\0',
    's', 'P', 'L', 'T', '\0', 'e', 'X', 'I', 'f', '\0', 't', 'I', 'M', 'E', '\0', 'h', 'I', 'S', 'T', '\0',
    's', 'C', 'A', 'L', '\0', 'p', 'C', 'A', 'L', '\0', 'o', 'F', 'F', 's', '\0', 's', 'B', 'I', 'T', '\0',
    'c', 'H', 'R', 'M', '\0', 'g', 'A', 'M', 'A', '\0', 's', 'R', 'G', 'B', '\0', 'b', 'K', 'G', 'D', '\0',
};

}  // namespace

int PngOpenReader(mms::ByteStream* stream, PngReader** out) {
  if (!stream || !out) return kPngReadBadArgument;
  *out = nullptr;
  auto* r = static_cast<PngReader*>(std::calloc(1, sizeof(PngReader)));
  if (!r) return kPngReadBadArgument;
  png_byte sig[4];
  if (stream->Read(sig, 4) != 4 || std::memcmp(sig, kSignature, 4) != 0) {
    std::free(r);
    return kPngNotPng;
  }
  r->stream = stream;
  r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!r->png) {
    std::free(r);
    return kPngNoStruct;
  }
  r->info = png_create_info_struct(r->png);
  if (!r->info) {
    png_destroy_read_struct(&r->png, nullptr, nullptr);
    std::free(r);
    return kPngNoInfo;
  }
  if (setjmp(png_jmpbuf(r->png))) {
    png_destroy_read_struct(&r->png, &r->info, nullptr);
    std::free(r);
    return kPngLibraryError;
  }
  png_set_read_fn(r->png, stream, ReadData);
  png_set_sig_bytes(r->png, 4);
  // The decoders refuse pictures above the pixel budget before allocating rows.
  png_set_user_limits(r->png, 0xFFFFF, 0xFFFFF);
  png_set_chunk_malloc_max(r->png, kChunkAllocationLimit);
  png_set_chunk_cache_max(r->png, kChunkCacheLimit);
  png_set_keep_unknown_chunks(r->png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(r->png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks,
                              static_cast<int>(sizeof kIgnoredChunks / 5));
  png_read_info(r->png, r->info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0;
  png_get_IHDR(r->png, r->info, &width, &height, &depth, &colorType, nullptr, nullptr, nullptr);
  if (!WithinPixelBudget(width, height)) png_error(r->png, "too large");
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(r->png, r->info, &resX, &resY, &unit)) {
    r->densityX = static_cast<std::int32_t>(resX);
    r->densityY = static_cast<std::int32_t>(resY);
  } else {
    r->densityX = 72;
    r->densityY = 72;
  }
  if (depth == 16) png_set_strip_16(r->png);
  if (colorType & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(r->png);
  if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_PALETTE ||
      colorType == PNG_COLOR_TYPE_RGB_ALPHA)
    png_set_bgr(r->png);
  png_set_interlace_handling(r->png);
  png_read_update_info(r->png, r->info);
  *out = r;
  return kPngOk;
}

int PngGetHeader(PngReader* r, BITMAPINFOHEADER* h) {
  if (!r || !h) return kPngReadBadArgument;
  const png_uint_32 width = png_get_image_width(r->png, r->info);
  const png_uint_32 height = png_get_image_height(r->png, r->info);
  const int bits = png_get_channels(r->png, r->info) * png_get_bit_depth(r->png, r->info);
  *h = BITMAPINFOHEADER{};
  h->biSize = 40;
  h->biWidth = static_cast<LONG>(width);
  h->biHeight = static_cast<LONG>(height);
  h->biPlanes = 1;
  h->biBitCount = static_cast<WORD>(bits);
  h->biSizeImage = static_cast<DWORD>(((bits * static_cast<std::int64_t>(width) + 31) / 32) * 4 * height);
  h->biXPelsPerMeter = r->densityX;
  h->biYPelsPerMeter = r->densityY;
  return kPngOk;
}

int PngGetPalette(PngReader* r, std::uint8_t* buffer, int* size) {
  if (!r || !size) return kPngReadBadArgument;
  png_colorp palette = nullptr;
  int count = 0;
  if (!png_get_PLTE(r->png, r->info, &palette, &count)) count = 0;
  if (!buffer) {
    *size = 4 * count;
    return kPngOk;
  }
  const int n = std::min(count, *size / 4);
  for (int i = 0; i < n; ++i) {
    buffer[4 * i] = palette[i].blue;
    buffer[4 * i + 1] = palette[i].green;
    buffer[4 * i + 2] = palette[i].red;
    buffer[4 * i + 3] = 0;
  }
  *size = 4 * n;
  return kPngOk;
}

int PngGetLayout(PngReader* r, PngLayout* l) {
  if (!r || !l) return kPngReadBadArgument;
  l->interlaced = png_get_interlace_type(r->png, r->info) != PNG_INTERLACE_NONE ? 1 : 0;
  l->passes = l->interlaced ? 7 : 1;
  l->width = static_cast<std::int32_t>(png_get_image_width(r->png, r->info));
  l->height = static_cast<std::int32_t>(png_get_image_height(r->png, r->info));
  l->rowBytes = static_cast<std::int32_t>(png_get_rowbytes(r->png, r->info));
  l->channels = png_get_channels(r->png, r->info);
  l->bitDepth = png_get_bit_depth(r->png, r->info);
  l->pixelDepth = l->channels * l->bitDepth;
  l->densityX = r->densityX;
  l->densityY = r->densityY;
  return kPngOk;
}

int PngReadRows(PngReader* r, std::uint8_t* rows, int rowCountIn, int* firstRow, int* rowsRead) {
  const volatile int rowCount = rowCountIn;
  if (!r || !rows || rowCount < 1) return kPngReadBadArgument;
  if (r->failed) return kPngLibraryError;
  const png_size_t rowBytes = png_get_rowbytes(r->png, r->info);
  const png_uint_32 before = png_get_current_row_number(r->png);
  if (firstRow) *firstRow = static_cast<int>(before);
  if (rowsRead) *rowsRead = 0;
  if (setjmp(png_jmpbuf(r->png))) {
    r->failed = true;
    return kPngLibraryError;
  }
  for (int i = 0; i < rowCount; ++i) png_read_row(r->png, rows + rowBytes * i, nullptr);
  if (rowsRead) {
    const png_uint_32 after = png_get_current_row_number(r->png);
    *rowsRead = after >= before ? static_cast<int>(after - before) : rowCount;
  }
  return kPngOk;
}

int PngCloseReader(PngReader* r) {
  if (!r) return kPngReadBadArgument;
  // Finishing reads the end of the file; a libpng error here is ignored. After an earlier
  // error libpng's state is undefined, so it is not touched again.
  if (!r->failed && setjmp(png_jmpbuf(r->png)) == 0) png_read_end(r->png, nullptr);
  png_destroy_read_struct(&r->png, &r->info, nullptr);
  std::free(r);
  return kPngOk;
}

int PngOpenWriter(mms::ByteStream* stream, const BITMAPINFOHEADER& header, PngWriter** out) {
  if (!stream || !out || header.biWidth <= 0 || header.biHeight == 0) return kPngWriteBadArgument;
  *out = nullptr;
  const volatile int bitCount = header.biBitCount;
  volatile int colorType, depth;
  if (bitCount > 23) {
    colorType = PNG_COLOR_TYPE_RGB;
    depth = 8;
  } else {
    colorType = PNG_COLOR_TYPE_GRAY;
    depth = bitCount;
  }
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return kPngWriteBadArgument;
  auto* w = static_cast<PngWriter*>(std::calloc(1, sizeof(PngWriter)));
  if (!w) return kPngWriteBadArgument;
  w->stream = stream;
  w->colorCount = header.biClrUsed;
  w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!w->png) {
    std::free(w);
    return kPngNoStruct;
  }
  w->info = png_create_info_struct(w->png);
  if (!w->info) {
    png_destroy_write_struct(&w->png, nullptr);
    std::free(w);
    return kPngNoInfo;
  }
  if (setjmp(png_jmpbuf(w->png))) {
    png_destroy_write_struct(&w->png, &w->info);
    std::free(w);
    return kPngLibraryError;
  }
  png_set_write_fn(w->png, stream, WriteData, FlushData);
  const png_uint_32 height =
      static_cast<png_uint_32>(header.biHeight < 0 ? -header.biHeight : header.biHeight);
  png_set_IHDR(w->png, w->info, static_cast<png_uint_32>(header.biWidth), height, depth, colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_text text[3];
  std::memset(text, 0, sizeof text);
  text[0].compression = PNG_TEXT_COMPRESSION_NONE;
  text[0].key = const_cast<char*>("Title");
  text[0].text = const_cast<char*>("None");
  text[1].compression = PNG_TEXT_COMPRESSION_NONE;
  text[1].key = const_cast<char*>("Author");
  text[1].text = const_cast<char*>("Unknown");
  text[2].compression = PNG_TEXT_COMPRESSION_zTXt;
  text[2].key = const_cast<char*>("Description");
  text[2].text = gDescription;
  png_set_text(w->png, w->info, text, 3);
  png_set_pHYs(w->png, w->info, static_cast<png_uint_32>(header.biXPelsPerMeter),
               static_cast<png_uint_32>(header.biYPelsPerMeter), PNG_RESOLUTION_METER);
  png_set_filter(w->png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
  if (colorType == PNG_COLOR_TYPE_RGB) png_set_bgr(w->png);
  if (depth > 8) png_set_swap(w->png);
  w->passes = 1;
  *out = w;
  return kPngOk;
}

int PngWriteRows(PngWriter* w, int firstRow, int rowCount, const std::uint8_t* rows, int* rowsWritten) {
  if (!w || firstRow < 0 || rowCount < 1 || !rows) return kPngWriteBadArgument;
  if (rowsWritten) *rowsWritten = 0;
  if (setjmp(png_jmpbuf(w->png))) return kPngLibraryError;
  if (!w->headerWritten) {
    png_write_info(w->png, w->info);
    w->headerWritten = true;
  }
  const png_size_t rowBytes = png_get_rowbytes(w->png, w->info);
  for (int i = 0; i < rowCount; ++i) {
    png_write_row(w->png, const_cast<png_bytep>(rows + rowBytes * i));
    ++w->rowsWritten;
  }
  if (rowsWritten) *rowsWritten = rowCount;
  return kPngOk;
}

int PngCloseWriter(PngWriter* w) {
  if (!w) return kPngWriteBadArgument;
  volatile int rc = kPngOk;
  if (setjmp(png_jmpbuf(w->png))) {
    rc = kPngLibraryError;
  } else if (w->headerWritten &&
             static_cast<png_uint_32>(w->rowsWritten) >= png_get_image_height(w->png, w->info)) {
    png_write_end(w->png, w->info);
  } else {
    rc = kPngLibraryError;  // an unfinished image is not a PNG file
  }
  if (w->rowBuffer) std::free(w->rowBuffer);
  png_destroy_write_struct(&w->png, &w->info);
  std::free(w);
  return rc;
}

int WritePng(mms::ByteStream* stream, const PackedDib& dib) {
  if (dib.bits() != 24 && dib.bits() != 8) return kPngWriteBadArgument;
  PngWriter* w = nullptr;
  int rc = PngOpenWriter(stream, dib.header(), &w);
  if (rc != kPngOk) return rc;
  for (int y = 0; y < dib.height() && rc == kPngOk; ++y) rc = PngWriteRows(w, y, 1, dib.TopRow(y), nullptr);
  const int closeRc = PngCloseWriter(w);
  return rc != kPngOk ? rc : closeRc;
}

}  // namespace imaging
