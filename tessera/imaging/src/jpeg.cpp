// The JPEG layer: error manager with a jump back, source and destination managers over a
// ByteStream, scaled decoding and blue-green-red output through JCS_EXT_BGR.
#include "imaging/jpeg.h"

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

namespace imaging {

namespace {

constexpr std::size_t kIoBufferSize = 4096;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool inputEnded = false;  // the file ran out and an end marker was made up
  bool dataMissing = false;  // ...and the decoder then needed data it did not have
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void SilentMessage(j_common_ptr) {}

// Warnings are counted by the library; the one that matters here is a scan that hit the
// made-up end marker while it still needed data: the picture was cut, not just its marker.
void NoteMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level < 0) {
    ++err->pub.num_warnings;
    if (err->inputEnded && err->pub.msg_code == JWRN_HIT_MARKER) err->dataMissing = true;
  }
}

struct Source {
  jpeg_source_mgr pub;
  mms::ByteStream* stream;
  JOCTET buffer[kIoBufferSize];
};

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<Source*>(cinfo->src);
  std::int64_t n = src->stream->Read(src->buffer, kIoBufferSize);
  if (n <= 0) {
    // A truncated file ends in a fake end-of-image marker; the library warns and pads. A
    // file that lacks only its end marker decodes whole; one cut inside its picture data is
    // refused (see dataMissing).
    reinterpret_cast<ErrorManager*>(cinfo->err)->inputEnded = true;
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<std::size_t>(n);
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<Source*>(cinfo->src);
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    FillInput(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

struct Destination {
  jpeg_destination_mgr pub;
  mms::ByteStream* stream;
  JOCTET buffer[kIoBufferSize];
};

void InitDestination(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<Destination*>(cinfo->dest);
  dst->pub.next_output_byte = dst->buffer;
  dst->pub.free_in_buffer = kIoBufferSize;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<Destination*>(cinfo->dest);
  if (dst->stream->Write(dst->buffer, kIoBufferSize) != static_cast<std::int64_t>(kIoBufferSize))
    ERREXIT(cinfo, JERR_FILE_WRITE);
  dst->pub.next_output_byte = dst->buffer;
  dst->pub.free_in_buffer = kIoBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<Destination*>(cinfo->dest);
  const std::int64_t n = static_cast<std::int64_t>(kIoBufferSize - dst->pub.free_in_buffer);
  if (n > 0 && dst->stream->Write(dst->buffer, n) != n) ERREXIT(cinfo, JERR_FILE_WRITE);
  if (!dst->stream->Flush()) ERREXIT(cinfo, JERR_FILE_WRITE);
}

}  // namespace

struct JpegReaderState {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  Source src;
  bool created = false;
  bool started = false;
  int bits = 0;
};

struct JpegWriterState {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  Destination dst;
  bool created = false;
  bool started = false;
  int rowsWritten = 0;
};

// Every function below that calls into the library sets the jump point itself; they keep
// no objects with destructors alive across the calls, so the long jump is safe.

int JpegReader::Open(mms::ByteStream* stream, std::unique_ptr<JpegReader>* out) {
  if (!stream || !out) return kJpegBadArgument;
  std::unique_ptr<JpegReader> r(new (std::nothrow) JpegReader());
  if (!r) return kJpegNoMemory;
  r->state_.reset(new (std::nothrow) JpegReaderState());
  if (!r->state_) return kJpegNoMemory;
  JpegReaderState* s = r->state_.get();
  s->cinfo.err = jpeg_std_error(&s->err.pub);
  s->err.pub.error_exit = ErrorExit;
  s->err.pub.output_message = SilentMessage;
  s->err.pub.emit_message = NoteMessage;
  if (setjmp(s->err.jump)) return kJpegLibraryError;  // r's destructor cleans up
  jpeg_create_decompress(&s->cinfo);
  s->created = true;
  s->src.stream = stream;
  s->src.pub.init_source = InitSource;
  s->src.pub.fill_input_buffer = FillInput;
  s->src.pub.skip_input_data = SkipInput;
  s->src.pub.resync_to_restart = jpeg_resync_to_restart;
  s->src.pub.term_source = TermSource;
  s->src.pub.bytes_in_buffer = 0;
  s->src.pub.next_input_byte = nullptr;
  s->cinfo.src = &s->src.pub;
  jpeg_read_header(&s->cinfo, TRUE);
  if (!WithinPixelBudget(s->cinfo.image_width, s->cinfo.image_height)) return kJpegNoMemory;
  *out = std::move(r);
  return kJpegOk;
}

JpegReader::~JpegReader() {
  if (state_ && state_->created) {
    if (setjmp(state_->err.jump) == 0) jpeg_destroy_decompress(&state_->cinfo);
  }
}

int JpegReader::components() const {
  return state_->cinfo.num_components;
}

int JpegReader::Size(int* width, int* height) {
  if (!width || !height) return kJpegBadArgument;
  jpeg_decompress_struct& c = state_->cinfo;
  const long iw = static_cast<long>(c.image_width), ih = static_cast<long>(c.image_height);
  if (*width < 1 || *height < 1) {
    *width = static_cast<int>(iw);
    *height = static_cast<int>(ih);
    return kJpegOk;
  }
  int kw = 0, kh = 0;
  while (kw < 16 && iw >= 2L * *width) {
    *width *= 2;
    ++kw;
  }
  while (kh < 16 && ih >= 2L * *height) {
    *height *= 2;
    ++kh;
  }
  int k = kw > kh ? kw : kh;
  if (k > 3) k = 3;
  c.scale_num = 1;
  c.scale_denom = 1u << k;
  return kJpegOk;
}

int JpegReader::Start(BITMAPINFOHEADER* header) {
  if (!header) return kJpegBadArgument;
  JpegReaderState* s = state_.get();
  if (s->started) return kJpegBadArgument;
  jpeg_decompress_struct& c = s->cinfo;
  if (c.num_components == 1) {
    c.out_color_space = JCS_GRAYSCALE;
    s->bits = 8;
  } else if (c.num_components == 3) {
    c.out_color_space = JCS_EXT_BGR;
    s->bits = 24;
  } else {
    return kJpegUnsupportedColor;
  }
  if (setjmp(s->err.jump)) return kJpegLibraryError;
  jpeg_start_decompress(&c);
  // A progressive picture is read whole here.
  if (s->err.dataMissing) return kJpegLibraryError;
  s->started = true;
  const int comps = s->bits / 8;
  *header = BITMAPINFOHEADER{};
  header->biSize = 40;
  header->biWidth = static_cast<LONG>(c.output_width);
  header->biHeight = static_cast<LONG>(c.output_height);
  header->biPlanes = 1;
  header->biBitCount = static_cast<WORD>(s->bits);
  header->biSizeImage = c.output_height * ((c.output_width * comps + 3) & ~3u);
  header->biClrUsed = comps == 1 ? 256 : 0;
  LONG x = 0, y = 0;
  if (c.density_unit == 1) {
    x = c.X_density * 3937 / 100;
    y = c.Y_density * 3937 / 100;
  } else if (c.density_unit == 2) {
    x = c.X_density * 100;
    y = c.Y_density * 100;
  }
  header->biXPelsPerMeter = x;
  header->biYPelsPerMeter = y;
  return kJpegOk;
}

int JpegReader::ReadRows(std::uint8_t* buffer, int count, int* firstRow, int* rowsRead) {
  if (!buffer || count < 0) return kJpegBadArgument;
  JpegReaderState* s = state_.get();
  if (!s->started) return kJpegBadArgument;
  jpeg_decompress_struct& c = s->cinfo;
  const std::int64_t stride = DibStride(c.output_width, s->bits);
  const int left = static_cast<int>(c.output_height - c.output_scanline);
  if (count > left) count = left;
  if (firstRow) *firstRow = static_cast<int>(c.output_scanline);
  if (rowsRead) *rowsRead = 0;
  volatile int done = 0;
  if (setjmp(s->err.jump)) {
    if (rowsRead) *rowsRead = done;
    return kJpegLibraryError;
  }
  while (done < count) {
    JSAMPROW row = buffer + stride * done;
    if (jpeg_read_scanlines(&c, &row, 1) != 1 || s->err.dataMissing) break;
    done = done + 1;
  }
  if (rowsRead) *rowsRead = done;
  // Rows past the cut are the library's padding, not the picture.
  return s->err.dataMissing ? kJpegLibraryError : kJpegOk;
}

int JpegWriter::Open(mms::ByteStream* stream, const BITMAPINFOHEADER& header,
                     std::unique_ptr<JpegWriter>* out) {
  if (!stream || !out || header.biWidth <= 0 || header.biHeight == 0) return kJpegBadArgument;
  if (header.biBitCount != 8 && header.biBitCount != 24) return kJpegUnsupportedColor;
  std::unique_ptr<JpegWriter> w(new (std::nothrow) JpegWriter());
  if (!w) return kJpegNoMemory;
  w->state_.reset(new (std::nothrow) JpegWriterState());
  if (!w->state_) return kJpegNoMemory;
  JpegWriterState* s = w->state_.get();
  s->cinfo.err = jpeg_std_error(&s->err.pub);
  s->err.pub.error_exit = ErrorExit;
  s->err.pub.output_message = SilentMessage;
  if (setjmp(s->err.jump)) return kJpegLibraryError;
  jpeg_create_compress(&s->cinfo);
  s->created = true;
  s->dst.stream = stream;
  s->dst.pub.init_destination = InitDestination;
  s->dst.pub.empty_output_buffer = EmptyOutput;
  s->dst.pub.term_destination = TermDestination;
  s->cinfo.dest = &s->dst.pub;
  jpeg_compress_struct& c = s->cinfo;
  c.image_width = static_cast<JDIMENSION>(header.biWidth);
  c.image_height = static_cast<JDIMENSION>(header.biHeight < 0 ? -header.biHeight : header.biHeight);
  c.input_components = header.biBitCount / 8;
  c.in_color_space = c.input_components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  c.write_JFIF_header = TRUE;
  c.density_unit = 1;
  c.X_density = static_cast<UINT16>((static_cast<std::int64_t>(header.biXPelsPerMeter) * 100 + 1968) / 3937);
  c.Y_density = static_cast<UINT16>((static_cast<std::int64_t>(header.biYPelsPerMeter) * 100 + 1968) / 3937);
  *out = std::move(w);
  return kJpegOk;
}

JpegWriter::~JpegWriter() {
  if (state_ && state_->created) {
    if (setjmp(state_->err.jump) == 0) jpeg_destroy_compress(&state_->cinfo);
  }
}

int JpegWriter::SetQuality(int quality) {
  if (quality < 1 || quality > 100) return kJpegBadArgument;
  JpegWriterState* s = state_.get();
  if (setjmp(s->err.jump)) return kJpegLibraryError;
  jpeg_set_quality(&s->cinfo, quality, TRUE);
  return kJpegOk;
}

int JpegWriter::WriteRows(const std::uint8_t* const* rows, int count) {
  if (!rows || count < 0) return kJpegBadArgument;
  JpegWriterState* s = state_.get();
  if (setjmp(s->err.jump)) return kJpegLibraryError;
  if (!s->started) {
    jpeg_start_compress(&s->cinfo, TRUE);
    s->started = true;
  }
  for (int i = 0; i < count; ++i) {
    if (s->cinfo.next_scanline >= s->cinfo.image_height) return kJpegBadArgument;
    JSAMPROW row = const_cast<JSAMPROW>(rows[i]);
    jpeg_write_scanlines(&s->cinfo, &row, 1);
  }
  return kJpegOk;
}

int JpegWriter::Close() {
  JpegWriterState* s = state_.get();
  if (!s->started || s->cinfo.next_scanline < s->cinfo.image_height) return kJpegBadArgument;
  if (setjmp(s->err.jump)) return kJpegLibraryError;
  jpeg_finish_compress(&s->cinfo);
  s->started = false;
  return kJpegOk;
}

}  // namespace imaging
