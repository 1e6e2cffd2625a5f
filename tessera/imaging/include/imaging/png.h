#pragma once
/// PNG adapter over the system's libpng: plain result codes instead of long jumps, a
/// BITMAPINFOHEADER for the image, blue-green-red rows and palette quads.

#include <cstdint>

#include "imaging/packed_dib.h"
#include "mms/byte_stream.h"

namespace imaging {

enum PngResult : int {
  kPngOk = 0,
  kPngReadBadArgument = -8,  // or no memory
  kPngNotPng = -7,
  kPngWriteBadArgument = -9,  // or no memory
  kPngNoStruct = -1,
  kPngNoInfo = -2,
  kPngLibraryError = -3,
};

struct PngReader;
struct PngWriter;

/// Layout values: interlaced flag, passes, width, height, row bytes, channels, bit depth,
/// pixel depth, densityX, densityY.
struct PngLayout {
  std::int32_t interlaced;
  std::int32_t passes;
  std::int32_t width;
  std::int32_t height;
  std::int32_t rowBytes;
  std::int32_t channels;
  std::int32_t bitDepth;
  std::int32_t pixelDepth;
  std::int32_t densityX;
  std::int32_t densityY;
};

int PngOpenReader(mms::ByteStream* stream, PngReader** out);
int PngGetHeader(PngReader* reader, BITMAPINFOHEADER* header);
/// *size receives 4 x entries; with a buffer, entries are written blue, green, red, 0.
int PngGetPalette(PngReader* reader, std::uint8_t* buffer, int* size);
int PngGetLayout(PngReader* reader, PngLayout* layout);
/// Reads rowCount rows into consecutive rows of layout.rowBytes each. For interlaced images
/// each call advances through the passes; callers reading a whole interlaced image call it
/// passes x height times over the same full-image buffer.
int PngReadRows(PngReader* reader, std::uint8_t* rows, int rowCount, int* firstRow, int* rowsRead);
int PngCloseReader(PngReader* reader);

int PngOpenWriter(mms::ByteStream* stream, const BITMAPINFOHEADER& header, PngWriter** out);
/// Writes rowCount rows (callers write one at a time); the first call writes the file header.
int PngWriteRows(PngWriter* writer, int firstRow, int rowCount, const std::uint8_t* rows, int* rowsWritten);
int PngCloseWriter(PngWriter* writer);

/// Writes a 24-bit or 8-bit grey bitmap as PNG.
int WritePng(mms::ByteStream* stream, const PackedDib& dib);

}  // namespace imaging
