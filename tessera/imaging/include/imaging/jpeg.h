#pragma once
/// JPEG reader and writer over the system's libjpeg (library version 62). Errors inside the
/// library jump back into the running operation, which returns kJpegLibraryError; the
/// object stays closable.

#include <cstdint>
#include <memory>

#include "imaging/packed_dib.h"
#include "mms/byte_stream.h"

namespace imaging {

enum JpegResult : int {
  kJpegOk = 0,
  kJpegLibraryError = -350,
  kJpegUnsupportedColor = -351,
  kJpegBadArgument = -353,
  kJpegNoMemory = -354,
};

struct JpegReaderState;
struct JpegWriterState;

class JpegReader {
 public:
  /// Creates the decompression record over the stream and reads the header.
  static int Open(mms::ByteStream* stream, std::unique_ptr<JpegReader>* out);
  ~JpegReader();

  /// With a requested size below 1, answers the image's own size. Otherwise doubles the
  /// requested width and height while the image stays at least twice as large and picks the
  /// power-of-two reduction (at most 1/8) that keeps both at or above the request.
  int Size(int* width, int* height);
  /// Starts decompression: grey images come out as 8-bit grey, three-component ones as
  /// 24-bit blue, green, red; anything else is kJpegUnsupportedColor.
  int Start(BITMAPINFOHEADER* header);
  /// Reads up to count scanlines into rows of stride DibStride(width, bits). A file cut
  /// inside its picture data gives kJpegLibraryError once the rows reach the cut (*rowsRead
  /// still counts what was read); a file missing only its end marker reads whole.
  int ReadRows(std::uint8_t* buffer, int count, int* firstRow, int* rowsRead);
  /// Components in the file (before any colour conversion).
  int components() const;

 private:
  JpegReader() = default;
  std::unique_ptr<JpegReaderState> state_;
};

class JpegWriter {
 public:
  /// The header must describe 8 (grey) or 24-bit (blue, green, red) rows.
  static int Open(mms::ByteStream* stream, const BITMAPINFOHEADER& header, std::unique_ptr<JpegWriter>* out);
  ~JpegWriter();
  /// Quality 1..100, baseline tables. The system always uses 90.
  int SetQuality(int quality);
  /// Writes count rows, top first.
  int WriteRows(const std::uint8_t* const* rows, int count);
  /// Finishes the file.
  int Close();

 private:
  JpegWriter() = default;
  std::unique_ptr<JpegWriterState> state_;
};

inline constexpr int kJpegQuality = 90;

}  // namespace imaging
