// Row expansion, resampling, colour reduction and YUV conversion shared by the loaders.
#include <algorithm>
#include <cstring>

#include "imaging/image.h"

namespace imaging {

namespace {

int CountTrailingZeros(std::uint32_t v) {
  int n = 0;
  while (!(v & 1u)) {
    v >>= 1;
    ++n;
  }
  return n;
}

inline std::uint8_t Channel(std::uint32_t p, const ChannelShifts& s, int c) {
  std::uint32_t v = ((p >> s.shift[c]) << s.top[c]) & 0xFF;
  if (s.top[c] > 0) v |= v >> (8 - s.top[c]);
  return static_cast<std::uint8_t>(v);
}

// Luminance weights for the 1-bit reduction, rounded per channel into 0..weight.
struct LumaTables {
  std::uint8_t b[256], g[256], r[256];
  LumaTables() {
    for (int i = 0; i < 256; ++i) {
      b[i] = static_cast<std::uint8_t>((i * 29 + 127) / 255);
      g[i] = static_cast<std::uint8_t>((i * 150 + 127) / 255);
      r[i] = static_cast<std::uint8_t>((i * 76 + 127) / 255);
    }
  }
};
const LumaTables kLuma;

}  // namespace

bool ComputeChannelShifts(const std::uint32_t masks[3], ChannelShifts* out) {
  for (int c = 0; c < 3; ++c) {
    if (masks[c] == 0) return false;
    const int shift = CountTrailingZeros(masks[c]);
    const std::uint32_t low = (masks[c] >> shift) & 0xFF;
    int top = 0;
    if (low) {
      std::uint32_t v = low;
      while (!(v & 0x80)) {
        v <<= 1;
        ++top;
      }
    }
    out->shift[c] = shift;
    out->top[c] = top;
  }
  return true;
}

bool ConvertRow(const RowFormat& f, const ChannelShifts& shifts, const std::uint8_t* src,
                std::uint8_t* scratch, std::uint8_t* dst, int outWidth) {
  const int w = f.width;
  if (w <= 0 || outWidth <= 0) return false;
  // Expand straight into dst when no resampling is needed.
  std::uint8_t* e = (w == outWidth) ? dst : scratch;
  switch (f.bits) {
    case 1: {
      std::uint8_t colour[2][3] = {{0, 0, 0}, {0xFF, 0xFF, 0xFF}};
      if (f.palette) {
        for (int k = 0; k < 2; ++k) {
          colour[k][0] = f.palette[k].rgbBlue;
          colour[k][1] = f.palette[k].rgbGreen;
          colour[k][2] = f.palette[k].rgbRed;
        }
      }
      for (int i = 0; i < w; ++i) {
        const std::uint8_t* c = colour[(src[i >> 3] >> (7 - (i & 7))) & 1];
        e[3 * i] = c[0];
        e[3 * i + 1] = c[1];
        e[3 * i + 2] = c[2];
      }
      break;
    }
    case 2:
      for (int i = 0; i < w; ++i) {
        const int v = (src[i >> 2] >> (6 - 2 * (i & 3))) & 3;
        if (f.palette) {
          e[3 * i] = f.palette[v].rgbBlue;
          e[3 * i + 1] = f.palette[v].rgbGreen;
          e[3 * i + 2] = f.palette[v].rgbRed;
        } else {
          std::memset(e + 3 * i, v * 85, 3);
        }
      }
      break;
    case 4:
      for (int i = 0; i < w; ++i) {
        const int v = (i & 1) ? (src[i >> 1] & 0x0F) : (src[i >> 1] >> 4);
        if (f.palette) {
          e[3 * i] = f.palette[v].rgbBlue;
          e[3 * i + 1] = f.palette[v].rgbGreen;
          e[3 * i + 2] = f.palette[v].rgbRed;
        } else {
          std::memset(e + 3 * i, v * 16, 3);
        }
      }
      break;
    case 8:
      for (int i = 0; i < w; ++i) {
        const int v = src[i];
        if (f.palette) {
          e[3 * i] = f.palette[v].rgbBlue;
          e[3 * i + 1] = f.palette[v].rgbGreen;
          e[3 * i + 2] = f.palette[v].rgbRed;
        } else {
          std::memset(e + 3 * i, v, 3);
        }
      }
      break;
    case 16:
      if (f.masks[0] == 0 || f.masks[1] == 0 || f.masks[2] == 0) return false;
      for (int i = 0; i < w; ++i) {
        const std::uint32_t p = src[2 * i] | (src[2 * i + 1] << 8);
        e[3 * i] = Channel(p, shifts, 2);
        e[3 * i + 1] = Channel(p, shifts, 1);
        e[3 * i + 2] = Channel(p, shifts, 0);
      }
      break;
    case 24:
      if (e == dst) {
        std::memcpy(dst, src, static_cast<std::size_t>(w) * 3);
        return true;
      }
      e = const_cast<std::uint8_t*>(src);
      break;
    case 32:
      if (f.masks[0] == 0 || f.masks[1] == 0 || f.masks[2] == 0) return false;
      for (int i = 0; i < w; ++i) {
        const std::uint32_t p = src[4 * i] | (src[4 * i + 1] << 8) | (src[4 * i + 2] << 16) |
                                (static_cast<std::uint32_t>(src[4 * i + 3]) << 24);
        e[3 * i] = Channel(p, shifts, 2);
        e[3 * i + 1] = Channel(p, shifts, 1);
        e[3 * i + 2] = Channel(p, shifts, 0);
      }
      break;
    default:
      return false;
  }
  if (w == outWidth) return true;
  const double step = static_cast<double>(w) / outWidth;
  double pos = 0;
  for (int i = 0; i < outWidth; ++i, pos += step) {
    int s = static_cast<int>(pos);
    if (s >= w) s = w - 1;
    std::memcpy(dst + 3 * i, e + 3 * s, 3);
  }
  return true;
}

int NearestEntry(const RGBQUAD* table, int count, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  int best = 0;
  std::int64_t bestDistance = -1;
  for (int i = 0; i < count; ++i) {
    const RGBQUAD& q = table[i];
    if (q.rgbBlue == blue && q.rgbGreen == green && q.rgbRed == red) return i;
    const std::int64_t dr = q.rgbRed - red, dg = q.rgbGreen - green, db = q.rgbBlue - blue;
    const std::int64_t d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

std::unique_ptr<PackedDib> ReduceBitmap(const PackedDib& source, int bits, const RGBQUAD* table,
                                        int tableCount) {
  if (source.bits() != 24) return nullptr;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16) return nullptr;
  if ((bits == 4 || bits == 8) && (!table || tableCount <= 0)) return nullptr;
  auto out = PackedDib::Create(source.width(), source.height(), bits);
  if (!out) return nullptr;
  out->header().biXPelsPerMeter = source.header().biXPelsPerMeter;
  out->header().biYPelsPerMeter = source.header().biYPelsPerMeter;
  const int w = source.width();
  int count = 0;
  if (bits == 1) {
    out->palette()[1] = RGBQUAD{0xFF, 0xFF, 0xFF, 0};
  } else if (bits == 4 || bits == 8) {
    count = std::min(tableCount, 1 << bits);
    std::memcpy(out->palette(), table, static_cast<std::size_t>(count) * 4);
  }
  for (int y = 0; y < source.height(); ++y) {
    const std::uint8_t* s = source.TopRow(y);
    std::uint8_t* d = out->TopRow(y);
    for (int x = 0; x < w; ++x) {
      const std::uint8_t b = s[3 * x], g = s[3 * x + 1], r = s[3 * x + 2];
      switch (bits) {
        case 1:
          if (kLuma.b[b] + kLuma.g[g] + kLuma.r[r] > 127) d[x >> 3] |= 0x80 >> (x & 7);
          break;
        case 4: {
          const int idx = NearestEntry(out->palette(), std::min(count, 16), b, g, r);
          d[x >> 1] |= (x & 1) ? idx : (idx << 4);
          break;
        }
        case 8:
          d[x] = static_cast<std::uint8_t>(NearestEntry(out->palette(), count, b, g, r));
          break;
        case 16: {
          const unsigned p = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
          d[2 * x] = static_cast<std::uint8_t>(p);
          d[2 * x + 1] = static_cast<std::uint8_t>(p >> 8);
          break;
        }
      }
    }
  }
  return out;
}

void Yuv420ToBgr24(std::uint8_t* dst, int dstWidth, const std::uint8_t* yPlane, const std::uint8_t* uPlane,
                   const std::uint8_t* vPlane, int yPitch, int uvPitch, int width, int height) {
  if (!dst || !yPlane || !uPlane || !vPlane || width <= 0 || height == 0) return;
  std::int32_t ty[256], tbu[256], tgu[256], tgv[256], trv[256];
  for (int i = 0; i < 256; ++i) {
    ty[i] = 9535 * (i - 16);
    tbu[i] = 16531 * (i - 128);
    tgu[i] = 3203 * (i - 128);
    tgv[i] = 6660 * (i - 128);
    trv[i] = 13074 * (i - 128);
  }
  const bool flip = height < 0;
  const int h = flip ? -height : height;
  const std::int64_t dstPitch = static_cast<std::int64_t>(dstWidth) * 3;
  auto clamp = [](std::int32_t v) -> std::uint8_t {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  };
  for (int row = 0; row + 1 < h; row += 2) {
    for (int k = 0; k < 2; ++k) {
      const int outRow = row + k;
      const int srcRow = flip ? (h - 1 - outRow) : outRow;
      const std::uint8_t* ys = yPlane + static_cast<std::int64_t>(srcRow) * yPitch;
      const std::uint8_t* us = uPlane + static_cast<std::int64_t>(srcRow / 2) * uvPitch;
      const std::uint8_t* vs = vPlane + static_cast<std::int64_t>(srcRow / 2) * uvPitch;
      std::uint8_t* d = dst + outRow * dstPitch;
      for (int col = 0; col + 1 < width; col += 2) {
        const int u = us[col / 2], v = vs[col / 2];
        const std::int32_t bu = tbu[u], g = tgu[u] + tgv[v], rv = trv[v];
        for (int j = 0; j < 2; ++j) {
          const std::int32_t yy = ty[ys[col + j]];
          d[3 * (col + j)] = clamp((yy + bu) >> 13);
          d[3 * (col + j) + 1] = clamp((yy - g) >> 13);
          d[3 * (col + j) + 2] = clamp((yy + rv) >> 13);
        }
      }
    }
  }
}

}  // namespace imaging
