#pragma once
/// GIF87a/GIF89a decoder with LZW, the animation renderer that composes frames onto a fitted
/// 24-bit canvas, and the GIF89a encoder used to shrink animations without requantising.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "imaging/packed_dib.h"
#include "mms/byte_stream.h"

namespace imaging {

enum GifResult : int {
  kGifOk = 0,
  kGifNotGif = 287,  // not a GIF, or a read error during the pre-scan
  kGifWriteError = 288,
  kGifPackError = 289,  // write error while packing codes
  kGifLzwInitFailed = 290,
  kGifUnsupportedDepth = 291,
  kGifRowDecodeFailed = 292,  // the frame's code stream ended or broke before this row
  kGifColorTableError = 294,
  kGifFrameNotFound = 295,
  kGifBadScreen = 296,
  kGifCannotBuffer = 297,
  kGifNoMemory = 298,
  kGifBadArgument = 299,
};

struct GifScreen {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  int colorResolutionBits = 0;   // low 3 bits of the packed byte + 1 (global table size)
  int colorResolutionField = 0;  // (packed & 0x60) >> 5
  bool globalTable = false;
  bool sorted = false;
  std::uint8_t background = 0;
};

struct GifFrame {
  std::uint16_t left = 0;
  std::uint16_t top = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  bool localTable = false;
  bool interlaced = false;
  int localTableBits = 1;
  // From the graphic control extension before the frame.
  std::uint16_t delay = 0;  // hundredths of a second
  bool transparent = false;
  std::uint8_t transparentIndex = 0;
  int disposal = 0;
};

struct GifPrescan {
  std::uint32_t totalDelay = 0;  // sum of all graphic-control delays, hundredths
  bool applicationExtension = false;
  std::uint16_t loopCount = 0;  // first sub-block value of the last application extension
  int frames = 0;
};

class GifDecoder {
 public:
  /// Reads the signature ("GIF87a"/"GIF89a" in any case), the screen descriptor and the
  /// global colour table.
  static int Open(mms::ByteStream* stream, std::unique_ptr<GifDecoder>* out);
  ~GifDecoder();

  const GifScreen& screen() const { return screen_; }
  /// Global table as blue, green, red, 0 entries (count 0 when none).
  int GlobalTable(RGBQUAD* entries, int* count) const;
  /// Walks to frame n (0-based) and parses its descriptor, local table and code size.
  int SelectFrame(int n);
  const GifFrame& frame() const { return frame_; }
  /// The selected frame's table: local if present, else global (blue, green, red, 0).
  int FrameTable(RGBQUAD* entries, int* count) const;
  /// Decodes the next row of the selected frame (frame width palette indexes) and reports
  /// which frame row it is (interlace applied). kGifRowDecodeFailed once the code stream
  /// has ended or broken; the row is then incomplete (unfilled pixels are 0).
  int ReadRow(std::uint8_t* row, int* rowNumber);
  /// Same as ReadRow without the copy: *pixels points at the decoder's own row, valid until
  /// the next call; only its first lastRowPixels() entries are defined.
  int NextRow(const std::uint8_t** pixels, int* rowNumber);
  int rowsRead() const { return rowsOut_; }
  /// Pixels of the last row that were decoded before the code stream ended.
  int lastRowPixels() const { return lastRowPixels_; }
  /// True when the selected frame's code stream was cut by the end of the file (a read
  /// error), as opposed to an end code or a broken code inside a whole file.
  bool frameTruncated() const;

  /// Walks all blocks to the trailer from the first frame.
  int Prescan(GifPrescan* out);

 private:
  GifDecoder() = default;
  struct Lzw;
  int Refill();
  bool Need(int n);
  bool ReadBytes(void* dst, int n);
  bool ReadByte(std::uint8_t* b) { return ReadBytes(b, 1); }
  bool SkipSubBlocks();
  int RestartAtFirstFrame();
  int ReadUpTo(std::uint8_t* dst, int n);
  void GatherCodeBytes();
  bool TopUpBits();
  void DecodeInto(int want);

  mms::ByteStream* stream_ = nullptr;
  std::unique_ptr<std::uint8_t[]> buf_;
  int bufFill_ = 0;
  int bufPos_ = 0;
  std::int64_t bufOffset_ = 0;
  bool eof_ = false;

  GifScreen screen_;
  int globalCount_ = 0;
  std::uint8_t global_[256 * 3] = {};
  int localCount_ = 0;
  std::uint8_t local_[256 * 3] = {};
  std::int64_t firstFrameOffset_ = 0;
  int frameReached_ = 0;  // index of the next image descriptor the walk will meet
  bool frameSelected_ = false;
  GifFrame frame_;

  std::unique_ptr<Lzw> lzw_;
  std::unique_ptr<std::uint8_t[]> line_;  // decoded indexes: the current row and the string running past it
  int lineSize_ = 0;
  int rowsOut_ = 0;
  int pass_ = 0;
  int nextRow_ = 0;
  int lastRowPixels_ = 0;
};

/// Plays an animation onto a canvas fitted into a box.
class GifPlayer {
 public:
  /// Opens the file; the box must be at least 1 x 1 and receives the canvas size.
  static std::unique_ptr<GifPlayer> Open(std::u16string_view path, Box* box);
  /// Same over a stream the caller keeps alive.
  static std::unique_ptr<GifPlayer> Open(mms::ByteStream* stream, Box* box);
  ~GifPlayer();
  /// Draws frame n over the canvas. Past the last frame *end is set and null is returned;
  /// null too on any read or structure error, a file that ends inside the frame included.
  /// *delayMs is the frame's delay (10 ms for 0).
  const PackedDib* Render(int n, bool* end, int* delayMs);
  const PackedDib* canvas() const { return canvas_.get(); }
  /// True when the last frame drawn ended early in a whole file (its code stream reached the
  /// end code before the last row): only the rows that arrived were drawn.
  bool lastFrameShort() const { return lastFrameShort_; }

 private:
  GifPlayer() = default;
  void FillRect(int left, int top, int width, int height, const RGBQUAD& colour);
  RGBQUAD BackgroundColour() const;

  std::unique_ptr<mms::ByteStream> ownedStream_;
  std::unique_ptr<GifDecoder> decoder_;
  GifScreen screen_;
  RGBQUAD global_[256] = {};
  bool hasGlobal_ = false;
  int canvasW_ = 0, canvasH_ = 0;
  std::vector<int> colMap_, rowMap_;  // canvas index -> source index
  std::vector<int> rowOwner_;         // source row -> canvas row or -1
  std::unique_ptr<PackedDib> canvas_;
  GifFrame last_;
  bool haveLast_ = false;
  bool lastFrameShort_ = false;
};

class GifEncoder {
 public:
  /// The bitmap depth must be 1, 4 or 8 (else kGifUnsupportedDepth).
  static int Create(mms::ByteStream* stream, int bits, std::unique_ptr<GifEncoder>* out);
  ~GifEncoder();
  /// Screen descriptor. tableBits 0 means no global table follows.
  int SetScreen(int width, int height, int tableBits, int colorResolution, bool sorted, int background);
  /// Writes count entries (blue, green, red, 0) as red, green, blue, padded to 2^bits.
  int WriteColorTable(const RGBQUAD* entries, int count, int bits);
  /// Graphic control extension and image descriptor of the next frame; localBits 0 when
  /// no local table follows (write it with WriteColorTable next).
  int SetFrame(const GifFrame& frame, int localBits);
  int LoopExtension(int loopCount);
  /// Compresses a whole frame given as rows of frame-width palette indexes.
  int WriteFrame(const std::uint8_t* pixels, std::int64_t stride, int width, int height, int bits);
  /// Writes the trailer and flushes.
  int Close();

 private:
  GifEncoder() = default;
  int Put(const void* data, int n);
  int Flush();
  struct Lzw;
  mms::ByteStream* stream_ = nullptr;
  std::unique_ptr<std::uint8_t[]> out_;
  int outFill_ = 0;
  int bits_ = 8;
  std::unique_ptr<Lzw> lzw_;
};

/// Writes a palette bitmap (1, 4 or 8 bits) as a single-frame GIF89a.
int WriteGif(mms::ByteStream* stream, const PackedDib& dib);

/// Shrinks an animation into the box frame by frame, copying palette indexes unchanged.
/// *written is false when no reduction was needed (nothing is written then).
int ShrinkGif(mms::ByteStream* in, mms::ByteStream* out, const Box& box, bool* written);

}  // namespace imaging
