// Inverse MDCT through a DCT-IV computed with a complex FFT of a quarter of the
// window length, in 32-bit fixed point with Q30 twiddles. Each transform's input
// is first scaled so that its absolute sum stays below 2^29: every FFT
// intermediate is a partial sum of rotated inputs and so cannot overflow, while
// quiet frames keep full precision.
#include "filterbank.h"

#include <bit>
#include <cmath>
#include <cstdlib>

#include "fixed_math.h"

namespace osprey {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Window values carry 30 fractional bits. With 16-bit windows the rounding of
// the window alone moves about one output sample in fifty by one step, which
// is what separates a 16-bit table from the float reference decoders.
constexpr int kWindowBits = 30;
constexpr double kWindowOne = double(1 << kWindowBits);
constexpr uint32_t kUnity = 1u << kWindowBits;

int32_t ToQ30(double v) {
  return static_cast<int32_t>(std::lround(v * 1073741824.0));
}

// Modified Bessel function of the first kind, order zero (power series).
double BesselI0(double x) {
  double sum = 1.0, term = 1.0, half = x / 2.0;
  for (int k = 1; k < 64; ++k) {
    term *= (half / k) * (half / k);
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

// Kaiser-Bessel-derived rising half for a window of length n with alpha.
void MakeKbd(uint32_t* out, int n, double alpha) {
  const int half = n / 2;
  double kernel[1025];
  double total = 0.0;
  for (int j = 0; j <= half; ++j) {
    double r = (j - n / 4.0) / (n / 4.0);
    kernel[j] = BesselI0(kPi * alpha * std::sqrt(std::max(0.0, 1.0 - r * r)));
    total += kernel[j];
  }
  double running = 0.0;
  for (int j = 0; j < half; ++j) {
    running += kernel[j];
    out[j] = static_cast<uint32_t>(std::lround(std::sqrt(running / total) * kWindowOne));
  }
}

void MakeSine(uint32_t* out, int n) {
  for (int j = 0; j < n / 2; ++j) {
    out[j] = static_cast<uint32_t>(std::lround(std::sin(kPi / n * (j + 0.5)) * kWindowOne));
  }
}

struct Twiddle {
  int32_t c, s;
};

struct Tables {
  // Window rising halves: sine and KBD (alpha 4 long, 6 short), ISO/IEC 14496-3 4.6.11.
  uint32_t longWin[2][1024];
  uint32_t shortWin[2][128];
  // exp(-i pi (j + 1/4) / m) and exp(-i pi p / m) for m = 1024 and 128.
  Twiddle preLong[512], postLong[512], preShort[64], postShort[64];
  // exp(-2 pi i k / 512), k < 256.
  Twiddle fft[256];
  uint16_t bitrev512[512];
  uint16_t bitrev64[64];

  Tables() {
    MakeSine(longWin[kSineWindow], 2048);
    MakeKbd(longWin[kKbdWindow], 2048, 4.0);
    MakeSine(shortWin[kSineWindow], 256);
    MakeKbd(shortWin[kKbdWindow], 256, 6.0);
    for (int j = 0; j < 512; ++j) {
      preLong[j] = {ToQ30(std::cos(kPi * (j + 0.25) / 1024)), ToQ30(std::sin(kPi * (j + 0.25) / 1024))};
      postLong[j] = {ToQ30(std::cos(kPi * j / 1024)), ToQ30(std::sin(kPi * j / 1024))};
    }
    for (int j = 0; j < 64; ++j) {
      preShort[j] = {ToQ30(std::cos(kPi * (j + 0.25) / 128)), ToQ30(std::sin(kPi * (j + 0.25) / 128))};
      postShort[j] = {ToQ30(std::cos(kPi * j / 128)), ToQ30(std::sin(kPi * j / 128))};
    }
    for (int k = 0; k < 256; ++k)
      fft[k] = {ToQ30(std::cos(2 * kPi * k / 512)), ToQ30(std::sin(2 * kPi * k / 512))};
    for (int i = 0; i < 512; ++i) {
      int r = 0;
      for (int b = 0; b < 9; ++b) r |= ((i >> b) & 1) << (8 - b);
      bitrev512[i] = static_cast<uint16_t>(r);
    }
    for (int i = 0; i < 64; ++i) {
      int r = 0;
      for (int b = 0; b < 6; ++b) r |= ((i >> b) & 1) << (5 - b);
      bitrev64[i] = static_cast<uint16_t>(r);
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

// In-place forward complex FFT of n points (n = 512 or 64) over interleaved
// re/im values that are already in bit-reversed order.
void Fft(int32_t* z, int n) {
  const Tables& t = T();
  const int stride0 = 512 / n;
  // First two stages as one radix-4 pass without multiplications.
  for (int i = 0; i < n; i += 4) {
    int32_t* p = z + 2 * i;
    int32_t ar = p[0] + p[2], ai = p[1] + p[3];
    int32_t br = p[0] - p[2], bi = p[1] - p[3];
    int32_t cr = p[4] + p[6], ci = p[5] + p[7];
    int32_t dr = p[4] - p[6], di = p[5] - p[7];
    p[0] = ar + cr;
    p[1] = ai + ci;
    p[4] = ar - cr;
    p[5] = ai - ci;
    // b + (-i) d and b - (-i) d
    p[2] = br + di;
    p[3] = bi - dr;
    p[6] = br - di;
    p[7] = bi + dr;
  }
  for (int len = 8; len <= n; len <<= 1) {
    const int half = len >> 1;
    const int tw = (n / len) * stride0;
    for (int base = 0; base < n; base += len) {
      int32_t* a = z + 2 * base;
      int32_t* b = a + 2 * half;
      {
        const int32_t ar = a[0], ai = a[1], xr = b[0], xi = b[1];
        a[0] = ar + xr;
        a[1] = ai + xi;
        b[0] = ar - xr;
        b[1] = ai - xi;
      }
      for (int k = 1; k < half; ++k) {
        const Twiddle w = t.fft[k * tw];
        // b * exp(-i theta) = (br c + bi s) + i (bi c - br s)
        const int64_t br = b[2 * k], bi = b[2 * k + 1];
        const int32_t xr = static_cast<int32_t>((br * w.c + bi * w.s + (1 << 29)) >> 30);
        const int32_t xi = static_cast<int32_t>((bi * w.c - br * w.s + (1 << 29)) >> 30);
        const int32_t ar = a[2 * k], ai = a[2 * k + 1];
        a[2 * k] = ar + xr;
        a[2 * k + 1] = ai + xi;
        b[2 * k] = ar - xr;
        b[2 * k + 1] = ai - xi;
      }
    }
  }
}

}  // namespace

const uint32_t* LongWindow(int shape) {
  return T().longWin[shape & 1];
}
const uint32_t* ShortWindow(int shape) {
  return T().shortWin[shape & 1];
}

void DctIv(int32_t* x, int m) {
  const Tables& t = T();
  const int n = m / 2;
  const Twiddle* pre = m == 1024 ? t.preLong : t.preShort;
  const Twiddle* post = m == 1024 ? t.postLong : t.postShort;
  const uint16_t* rev = m == 1024 ? t.bitrev512 : t.bitrev64;
  int32_t z[1024];
  for (int j = 0; j < n; ++j) {
    // (x[2j] + i x[m-1-2j]) * exp(-i pi (j + 1/4) / m), stored bit-reversed for the FFT.
    const int64_t a = x[2 * j], b = x[m - 1 - 2 * j];
    const Twiddle w = pre[j];
    const int r = rev[j];
    z[2 * r] = static_cast<int32_t>((a * w.c + b * w.s + (1 << 29)) >> 30);
    z[2 * r + 1] = static_cast<int32_t>((b * w.c - a * w.s + (1 << 29)) >> 30);
  }
  Fft(z, n);
  for (int p = 0; p < n; ++p) {
    const int64_t a = z[2 * p], b = z[2 * p + 1];
    const Twiddle w = post[p];
    x[2 * p] = static_cast<int32_t>((a * w.c + b * w.s + (1 << 29)) >> 30);
    x[m - 1 - 2 * p] = -static_cast<int32_t>((b * w.c - a * w.s + (1 << 29)) >> 30);
  }
}

namespace {

// Scales x[0..m) so that its absolute sum is at most about 2^29 and returns the
// left shift applied (negative for a right shift); returns a sentinel of 99 when
// all values are zero.
int Normalize(int32_t* x, int m) {
  int64_t sum = 0;
  for (int k = 0; k < m; ++k) sum += std::llabs(static_cast<int64_t>(x[k]));
  if (sum == 0) return 99;
  const int bits = 64 - std::countl_zero(static_cast<uint64_t>(sum));
  const int shift = 29 - bits;
  if (shift > 0) {
    for (int k = 0; k < m; ++k) x[k] = static_cast<int32_t>(static_cast<uint32_t>(x[k]) << shift);
  } else if (shift < 0) {
    const int r = -shift;
    for (int k = 0; k < m; ++k)
      x[k] = static_cast<int32_t>((static_cast<int64_t>(x[k]) + (int64_t{1} << (r - 1))) >> r);
  }
  return shift;
}

// One inverse MDCT of m coefficients into 2m unwindowed samples held in the
// DCT-IV's scale; returns the normalising shift (99: all zero, out untouched).
int Imdct(int32_t* coef, int m, int32_t* out) {
  const int shift = Normalize(coef, m);
  if (shift == 99) return shift;
  DctIv(coef, m);
  const int h = m / 2;
  for (int n = 0; n < h; ++n) out[n] = coef[n + h];
  for (int n = h; n < 3 * h; ++n) out[n] = -coef[3 * h - 1 - n];
  for (int n = 3 * h; n < 2 * m; ++n) out[n] = -coef[n - 3 * h];
  return shift;
}

// v * w / 2^shift, rounded and saturated. The normalising shift keeps `shift`
// within 18..62 for every input (|x| < 2^31, so the absolute sum is below 2^41).
inline int32_t Win(int32_t v, uint32_t w, int shift) {
  const int64_t p = (static_cast<int64_t>(v) * w + (int64_t{1} << (shift - 1))) >> shift;
  return p > INT32_MAX ? INT32_MAX : p < INT32_MIN ? INT32_MIN : static_cast<int32_t>(p);
}

}  // namespace

void SynthesizeWindowed(int32_t* coef, int sequence, int shape, int prevShape, int32_t* out) {
  // Spectral values carry 2 fractional bits; the transform's 2/N factor is a
  // further 2^-10 (long) or 2^-7 (short).
  constexpr int kSpecFrac = 2;
  int32_t x[2048];
  const uint32_t* longRise = LongWindow(prevShape);
  const uint32_t* longFall = LongWindow(shape);
  const uint32_t* shortRisePrev = ShortWindow(prevShape);
  const uint32_t* shortWin = ShortWindow(shape);

  if (sequence == kEightShort) {
    for (int n = 0; n < 2048; ++n) out[n] = 0;
    for (int w = 0; w < 8; ++w) {
      int32_t* c = coef + 128 * w;
      int s = Imdct(c, 128, x);
      if (s == 99) continue;
      const int shift = kSpecFrac + 7 + kWindowBits + s - kTimeFracBits;
      const uint32_t* rise = w == 0 ? shortRisePrev : shortWin;
      int32_t* o = out + 448 + 128 * w;
      for (int n = 0; n < 128; ++n) o[n] = AddSat(o[n], Win(x[n], rise[n], shift));
      for (int n = 0; n < 128; ++n)
        o[128 + n] = AddSat(o[128 + n], Win(x[128 + n], shortWin[127 - n], shift));
    }
    return;
  }

  int s = Imdct(coef, 1024, x);
  if (s == 99) {
    for (int n = 0; n < 2048; ++n) out[n] = 0;
    return;
  }
  const int shift = kSpecFrac + 10 + kWindowBits + s - kTimeFracBits;
  // First half.
  if (sequence == kLongStop) {
    for (int n = 0; n < 448; ++n) out[n] = 0;
    for (int n = 0; n < 128; ++n) out[448 + n] = Win(x[448 + n], shortRisePrev[n], shift);
    for (int n = 576; n < 1024; ++n) out[n] = Win(x[n], kUnity, shift);
  } else {
    for (int n = 0; n < 1024; ++n) out[n] = Win(x[n], longRise[n], shift);
  }
  // Second half.
  if (sequence == kLongStart) {
    for (int n = 0; n < 448; ++n) out[1024 + n] = Win(x[1024 + n], kUnity, shift);
    for (int n = 0; n < 128; ++n) out[1472 + n] = Win(x[1472 + n], shortWin[127 - n], shift);
    for (int n = 1600; n < 2048; ++n) out[n] = 0;
  } else {
    for (int n = 0; n < 1024; ++n) out[1024 + n] = Win(x[1024 + n], longFall[1023 - n], shift);
  }
}

}  // namespace osprey
