#pragma once
/// The image library's front: load a file fitted into a box, report its size, save a
/// bitmap, convert a file into a resized file. The format is chosen by a type code or,
/// for kTypeByExtension, by the file name's extension.

#include <cstdint>
#include <memory>
#include <string_view>

#include "imaging/packed_dib.h"

namespace imaging {

enum ImageType : std::uint32_t {
  kTypeJpeg = 1,
  kTypeGif = 2,
  kTypePng = 3,
  kTypeBmp = 4,
  kTypeWbmp = 5,
  kTypeVideo = 6,  // ".mp4", ".3gp": first picture of the clip
  kTypeByExtension = 0xFFFE,
};

/// The format a type argument selects (its low 16 bits), or 0 when none.
std::uint32_t ResolveImageType(std::u16string_view path, std::uint32_t type);

/// Fits (w, h) into the box: never enlarges, rounds half up. Returns the scale used.
double FitSize(int w, int h, const Box& box, Box* out);

/// Loads an image fitted into *box as a 24-bit bitmap; *box receives the size produced.
/// GIF gives its first frame. Null on any failure.
std::unique_ptr<PackedDib> LoadImageFitted(std::u16string_view path, Box* box, std::uint32_t type,
                                           int mode = 0);

/// Reports an image's size and depth without decoding its pixels. 1 or 0.
int GetImageInfo(std::u16string_view path, Box* size, int* depth, std::uint32_t type, int mode = 0);

/// Saves a bitmap: JPEG (8 or 24 bits, quality 90), PNG, BMP, WBMP (24-bit bitmaps,
/// reduced to 1 bit). GIF and video are refused. 1 or 0.
int SaveImage(const PackedDib& dib, std::u16string_view path, std::uint32_t type);

/// Converts a file into a file fitted into box, in the same format. 1 or 0 (an animated GIF
/// that needs no reduction answers 1 and writes nothing).
int ConvertImage(std::u16string_view destination, std::u16string_view source, const Box& box,
                 std::uint32_t type);

/// Source of the first picture of a clip, provided by whoever links the player; the front
/// has none by default and refuses video until one is set. Returns a 24-bit bitmap fitted
/// into *box (updated), or null.
using VideoFrameSource = std::unique_ptr<PackedDib> (*)(std::u16string_view path, Box* box, int mode);
void SetVideoFrameSource(VideoFrameSource source);

// ---- Pixel helpers shared by the loaders, the converter and the viewer ----

/// What the row converter needs to know about a source row.
struct RowFormat {
  int bits = 24;                       // 1, 2, 4, 8, 16, 24 or 32
  int width = 0;                       // source pixels per row
  const RGBQUAD* palette = nullptr;    // 256 entries when given (unused ones black)
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue for 16 and 32 bits
};

/// Precomputed shifts of a 16 or 32-bit row format.
struct ChannelShifts {
  int shift[3] = {0, 0, 0};
  int top[3] = {0, 0, 0};
  int width[3] = {0, 0, 0};
};

/// Derives the shifts of three channel masks; false when a mask is zero.
bool ComputeChannelShifts(const std::uint32_t masks[3], ChannelShifts* out);

/// Expands one source row to 24-bit blue, green, red and resamples it (nearest neighbour)
/// to outWidth pixels. Scratch must hold 3 x source width bytes. False when the format is
/// unusable (a zero mask); the output row is then left untouched.
bool ConvertRow(const RowFormat& format, const ChannelShifts& shifts, const std::uint8_t* src,
                std::uint8_t* scratch, std::uint8_t* dst, int outWidth);

/// Index of the table entry nearest to (blue, green, red); an exact match ends the search,
/// the first of equally near entries wins.
int NearestEntry(const RGBQUAD* table, int count, std::uint8_t blue, std::uint8_t green, std::uint8_t red);

/// Reduces a 24-bit bitmap to bits (1, 4, 8 or 16) against table (ignored for 1 and 16 bits;
/// 1 bit uses black and white by luminance). Null on failure.
std::unique_ptr<PackedDib> ReduceBitmap(const PackedDib& source, int bits, const RGBQUAD* table,
                                        int tableCount);

/// YUV 4:2:0 to 24-bit blue, green, red. Destination rows are exactly 3 x dstWidth bytes
/// apart. A negative height reads the source from its last row upward. Only whole 2 x 2
/// blocks are written.
void Yuv420ToBgr24(std::uint8_t* dst, int dstWidth, const std::uint8_t* y, const std::uint8_t* u,
                   const std::uint8_t* v, int yPitch, int uvPitch, int width, int height);

}  // namespace imaging
