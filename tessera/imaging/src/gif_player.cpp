// Animation renderer: frames composed one after another onto a 24-bit canvas fitted into
// the viewer's box, with transparency and background disposal.
#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/gif.h"
#include "imaging/image.h"

namespace imaging {

namespace {

// Canvas index i samples source index floor(i * source / canvas).
std::vector<int> SampleMap(int canvas, int source) {
  std::vector<int> map(static_cast<std::size_t>(canvas));
  for (int i = 0; i < canvas; ++i) map[i] = static_cast<int>(static_cast<std::int64_t>(i) * source / canvas);
  return map;
}

// The canvas range [first, last) whose samples fall inside [start, start + length).
void MappedRange(const std::vector<int>& map, int start, int length, int* first, int* last) {
  const int end = start + length;
  *first = static_cast<int>(std::lower_bound(map.begin(), map.end(), start) - map.begin());
  *last = static_cast<int>(std::lower_bound(map.begin(), map.end(), end) - map.begin());
}

}  // namespace

GifPlayer::~GifPlayer() = default;

std::unique_ptr<GifPlayer> GifPlayer::Open(std::u16string_view path, Box* box) {
  auto stream = mms::ByteStream::OpenFile(path, mms::ByteStream::kRead);
  if (!stream) return nullptr;
  auto player = Open(stream.get(), box);
  if (player) player->ownedStream_ = std::move(stream);
  return player;
}

std::unique_ptr<GifPlayer> GifPlayer::Open(mms::ByteStream* stream, Box* box) {
  if (!stream || !box || box->width < 1 || box->height < 1) return nullptr;
  std::unique_ptr<GifPlayer> p(new (std::nothrow) GifPlayer());
  if (!p) return nullptr;
  if (GifDecoder::Open(stream, &p->decoder_) != kGifOk) return nullptr;
  p->screen_ = p->decoder_->screen();
  int count = 256;
  p->decoder_->GlobalTable(p->global_, &count);
  p->hasGlobal_ = p->screen_.globalTable;
  Box out;
  FitSize(p->screen_.width, p->screen_.height, *box, &out);
  if (out.width < 1) out.width = 1;
  if (out.height < 1) out.height = 1;
  p->canvas_ = PackedDib::Create(out.width, out.height, 24);
  if (!p->canvas_) return nullptr;
  p->canvasW_ = out.width;
  p->canvasH_ = out.height;
  p->colMap_ = SampleMap(out.width, p->screen_.width);
  p->rowMap_ = SampleMap(out.height, p->screen_.height);
  p->rowOwner_.assign(p->screen_.height, -1);
  for (int i = 0; i < out.height; ++i) p->rowOwner_[p->rowMap_[i]] = i;
  *box = out;
  return p;
}

RGBQUAD GifPlayer::BackgroundColour() const {
  if (!hasGlobal_) return RGBQUAD{0xFF, 0xFF, 0xFF, 0};
  return global_[screen_.background];
}

void GifPlayer::FillRect(int left, int top, int width, int height, const RGBQUAD& c) {
  int x0, x1, y0, y1;
  MappedRange(colMap_, left, width, &x0, &x1);
  MappedRange(rowMap_, top, height, &y0, &y1);
  if (x0 >= x1 || y0 >= y1) return;
  std::uint8_t* first = canvas_->TopRow(y0) + 3 * x0;
  for (int x = 0; x < x1 - x0; ++x) {
    first[3 * x] = c.rgbBlue;
    first[3 * x + 1] = c.rgbGreen;
    first[3 * x + 2] = c.rgbRed;
  }
  for (int y = y0 + 1; y < y1; ++y)
    std::memcpy(canvas_->TopRow(y) + 3 * x0, first, static_cast<std::size_t>(3 * (x1 - x0)));
}

namespace {

// Draws canvas columns [x0, x1) of one row from frame row src (x0 and x1 already clipped to
// the frame, the canvas and the pixels that arrived). colour holds blue, green, red and a
// fourth byte per index.
void DrawRow(std::uint8_t* dst, const std::uint8_t* src, int x0, int x1, const int* colMap, int left,
             bool unscaled, const GifFrame& f, const std::uint32_t* colour) {
  if (x0 >= x1) return;
  if (!unscaled) {
    for (int x = x0; x < x1; ++x) {
      const std::uint8_t idx = src[colMap[x] - left];
      if (f.transparent && idx == f.transparentIndex) continue;
      std::memcpy(dst + 3 * x, &colour[idx], 3);
    }
    return;
  }
  // Canvas column x samples frame column x - left.
  const std::uint8_t* s = src + (x0 - left);
  std::uint8_t* d = dst + 3 * x0;
  const int n = x1 - x0;
  if (f.transparent) {
    const std::uint8_t key = f.transparentIndex;
    for (int i = 0; i < n; ++i)
      if (s[i] != key) std::memcpy(d + 3 * i, &colour[s[i]], 3);
    return;
  }
  // Four bytes a pixel: the fourth lands on the next pixel's blue, written right after.
  for (int i = 0; i < n - 1; ++i) std::memcpy(d + 3 * i, &colour[s[i]], 4);
  std::memcpy(d + 3 * (n - 1), &colour[s[n - 1]], 3);
}

}  // namespace

const PackedDib* GifPlayer::Render(int n, bool* end, int* delayMs) {
  if (end) *end = false;
  const int rc = decoder_->SelectFrame(n);
  if (rc == kGifFrameNotFound) {
    if (end) *end = true;
    return nullptr;
  }
  if (rc != kGifOk) return nullptr;
  const GifFrame& f = decoder_->frame();
  if (n == 0) {
    FillRect(0, 0, screen_.width, screen_.height, BackgroundColour());
  } else if (haveLast_ && last_.disposal == 2) {
    FillRect(last_.left, last_.top, last_.width, last_.height, BackgroundColour());
  }
  RGBQUAD table[256] = {};
  int count = 256;
  if (decoder_->FrameTable(table, &count) != kGifOk) return nullptr;
  std::uint32_t colour[256];
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t bgr[4] = {table[i].rgbBlue, table[i].rgbGreen, table[i].rgbRed, 0};
    std::memcpy(&colour[i], bgr, 4);
  }

  int x0, x1;
  MappedRange(colMap_, f.left, f.width, &x0, &x1);
  const bool unscaled = canvasW_ == screen_.width;  // the column map is x -> x
  lastFrameShort_ = false;
  for (int r = 0; r < f.height; ++r) {
    int number = 0;
    const std::uint8_t* pixels = nullptr;
    // A code stream that ends early in a whole file leaves the rest of the frame undrawn;
    // the pixels of the row it ended in are still drawn. A file cut inside the frame is a
    // read error.
    const bool complete = decoder_->NextRow(&pixels, &number) == kGifOk;
    if (!complete && decoder_->frameTruncated()) return nullptr;
    const int valid = decoder_->lastRowPixels();
    const int sy = f.top + number;
    const int cy = sy < screen_.height ? rowOwner_[sy] : -1;
    if (cy >= 0 && valid > 0) {
      // Only the columns sampling pixels that arrived.
      const int end = valid == f.width
                          ? x1
                          : static_cast<int>(
                                std::lower_bound(colMap_.begin() + x0, colMap_.begin() + x1, f.left + valid) -
                                colMap_.begin());
      DrawRow(canvas_->TopRow(cy), pixels, x0, end, colMap_.data(), f.left, unscaled, f, colour);
    }
    if (!complete) {
      lastFrameShort_ = true;
      break;
    }
  }
  last_ = f;
  haveLast_ = true;
  if (delayMs) *delayMs = f.delay ? f.delay * 10 : 10;
  return canvas_.get();
}

}  // namespace imaging
