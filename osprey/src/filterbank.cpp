// Inverse MDCT through a DCT-IV computed with a complex FFT of a quarter of the
// window length, in 32-bit fixed point with Q30 twiddles. Each transform's input
// is first scaled so that its absolute sum stays below 2^29: every FFT
// intermediate is a partial sum of rotated inputs and so cannot overflow, while
// quiet frames keep full precision.
#include "filterbank.h"

#include <bit>
#include <cmath>
#include <cstdlib>

#include "filterbank_kernels.h"
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

struct Tables {
  // Window rising halves: sine and KBD (alpha 4 long, 6 short), ISO/IEC 14496-3 4.6.11,
  // and the same halves reversed for the falling side.
  uint32_t longWin[2][1024];
  uint32_t shortWin[2][128];
  uint32_t longFall[2][1024];
  uint32_t shortFall[2][128];
  // (cos, sin) pairs: exp(-i pi (j + 1/4) / m) and exp(-i pi p / m) for m = 1024 and 128.
  int32_t preLong[1024], postLong[1024], preShort[128], postShort[128];
  // exp(-2 pi i k / len), k < len/2, for each FFT stage len = 8 .. 512.
  int32_t stage[2 * 508];
  uint16_t bitrev512[512];
  uint16_t bitrev64[64];

  static void Pair(int32_t* at, double angle) {
    at[0] = ToQ30(std::cos(angle));
    at[1] = ToQ30(std::sin(angle));
  }

  Tables() {
    MakeSine(longWin[kSineWindow], 2048);
    MakeKbd(longWin[kKbdWindow], 2048, 4.0);
    MakeSine(shortWin[kSineWindow], 256);
    MakeKbd(shortWin[kKbdWindow], 256, 6.0);
    for (int shape = 0; shape < 2; ++shape) {
      for (int n = 0; n < 1024; ++n) longFall[shape][n] = longWin[shape][1023 - n];
      for (int n = 0; n < 128; ++n) shortFall[shape][n] = shortWin[shape][127 - n];
    }
    for (int j = 0; j < 512; ++j) {
      Pair(preLong + 2 * j, kPi * (j + 0.25) / 1024);
      Pair(postLong + 2 * j, kPi * j / 1024);
    }
    for (int j = 0; j < 64; ++j) {
      Pair(preShort + 2 * j, kPi * (j + 0.25) / 128);
      Pair(postShort + 2 * j, kPi * j / 128);
    }
    // The twiddle of stage len at k is the one of the 512-point FFT at k * 512 / len.
    for (int len = 8; len <= 512; len <<= 1)
      for (int k = 0; k < len / 2; ++k)
        Pair(stage + 2 * (StageTwiddleOffset(len) + k), 2 * kPi * (k * (512 / len)) / 512);
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

// --- portable kernels -----------------------------------------------------------

int32_t RotateRe(int64_t a, int64_t b, const int32_t* w) {
  return static_cast<int32_t>((a * w[0] + b * w[1] + (1 << 29)) >> 30);
}
int32_t RotateIm(int64_t a, int64_t b, const int32_t* w) {
  return static_cast<int32_t>((b * w[0] - a * w[1] + (1 << 29)) >> 30);
}

int64_t AbsSum(const int32_t* x, int m) {
  int64_t sum = 0;
  for (int k = 0; k < m; ++k) sum += std::llabs(static_cast<int64_t>(x[k]));
  return sum;
}

void Scale(int32_t* x, int m, int shift) {
  if (shift > 0) {
    for (int k = 0; k < m; ++k) x[k] = static_cast<int32_t>(static_cast<uint32_t>(x[k]) << shift);
  } else {
    const int r = -shift;
    for (int k = 0; k < m; ++k)
      x[k] = static_cast<int32_t>((static_cast<int64_t>(x[k]) + (int64_t{1} << (r - 1))) >> r);
  }
}

void PreTwiddle(const int32_t* x, int m, const int32_t* pre, const uint16_t* rev, int32_t* z) {
  for (int j = 0; j < m / 2; ++j) {
    const int64_t a = x[2 * j], b = x[m - 1 - 2 * j];
    const int r = rev[j];
    z[2 * r] = RotateRe(a, b, pre + 2 * j);
    z[2 * r + 1] = RotateIm(a, b, pre + 2 * j);
  }
}

// In-place forward complex FFT of n points (n = 512 or 64) over interleaved
// re/im values that are already in bit-reversed order.
void Fft(int32_t* z, int n, const int32_t* stageTwiddles) {
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
    const int32_t* tw = stageTwiddles + 2 * StageTwiddleOffset(len);
    for (int base = 0; base < n; base += len) {
      int32_t* a = z + 2 * base;
      int32_t* b = a + 2 * half;
      for (int k = 0; k < half; ++k) {
        // b * exp(-i theta) = (br c + bi s) + i (bi c - br s)
        const int32_t xr = RotateRe(b[2 * k], b[2 * k + 1], tw + 2 * k);
        const int32_t xi = RotateIm(b[2 * k], b[2 * k + 1], tw + 2 * k);
        const int32_t ar = a[2 * k], ai = a[2 * k + 1];
        a[2 * k] = ar + xr;
        a[2 * k + 1] = ai + xi;
        b[2 * k] = ar - xr;
        b[2 * k + 1] = ai - xi;
      }
    }
  }
}

void PostTwiddle(const int32_t* z, int m, const int32_t* post, int32_t* x) {
  for (int p = 0; p < m / 2; ++p) {
    const int64_t a = z[2 * p], b = z[2 * p + 1];
    x[2 * p] = RotateRe(a, b, post + 2 * p);
    x[m - 1 - 2 * p] = -RotateIm(a, b, post + 2 * p);
  }
}

// v * w / 2^shift, rounded and saturated. The normalising shift keeps `shift`
// within 18..62 for every input (|x| < 2^31, so the absolute sum is below 2^41).
inline int32_t Win(int32_t v, uint32_t w, int shift) {
  const int64_t p = (static_cast<int64_t>(v) * w + (int64_t{1} << (shift - 1))) >> shift;
  return p > INT32_MAX ? INT32_MAX : p < INT32_MIN ? INT32_MIN : static_cast<int32_t>(p);
}

void Window(const int32_t* x, const uint32_t* w, int count, int shift, int32_t* out) {
  for (int n = 0; n < count; ++n) out[n] = Win(x[n], w != nullptr ? w[n] : kUnity, shift);
}

void WindowAdd(const int32_t* x, const uint32_t* w, int count, int shift, int32_t* out) {
  for (int n = 0; n < count; ++n) out[n] = AddSat(out[n], Win(x[n], w != nullptr ? w[n] : kUnity, shift));
}

bool g_forcePortable = false;

}  // namespace

const FilterbankKernels kPortableKernels{AbsSum, Scale, PreTwiddle, Fft, PostTwiddle, Window, WindowAdd};

const FilterbankKernels& ActiveKernels() {
  static const FilterbankKernels* const best =
      kAvx2Kernels != nullptr && __builtin_cpu_supports("avx2") ? kAvx2Kernels : &kPortableKernels;
  return g_forcePortable ? kPortableKernels : *best;
}

void ForcePortableKernels(bool force) {
  g_forcePortable = force;
}

const uint32_t* LongWindow(int shape) {
  return T().longWin[shape & 1];
}
const uint32_t* ShortWindow(int shape) {
  return T().shortWin[shape & 1];
}

namespace {

void DctIvWith(const FilterbankKernels& k, int32_t* x, int m) {
  const Tables& t = T();
  const bool isLong = m == 1024;
  alignas(32) int32_t z[1024];
  k.preTwiddle(x, m, isLong ? t.preLong : t.preShort, isLong ? t.bitrev512 : t.bitrev64, z);
  k.fft(z, m / 2, t.stage);
  k.postTwiddle(z, m, isLong ? t.postLong : t.postShort, x);
}

// Scales x[0..m) so that its absolute sum is at most about 2^29 and returns the
// left shift applied (negative for a right shift); returns a sentinel of 99 when
// all values are zero.
int Normalize(const FilterbankKernels& k, int32_t* x, int m) {
  const int64_t sum = k.absSum(x, m);
  if (sum == 0) return 99;
  const int bits = 64 - std::countl_zero(static_cast<uint64_t>(sum));
  const int shift = 29 - bits;
  if (shift != 0) k.scale(x, m, shift);
  return shift;
}

// One inverse MDCT of m coefficients into 2m unwindowed samples held in the
// DCT-IV's scale; returns the normalising shift (99: all zero, out untouched).
int Imdct(const FilterbankKernels& k, int32_t* coef, int m, int32_t* out) {
  const int shift = Normalize(k, coef, m);
  if (shift == 99) return shift;
  DctIvWith(k, coef, m);
  const int h = m / 2;
  for (int n = 0; n < h; ++n) out[n] = coef[n + h];
  for (int n = h; n < 3 * h; ++n) out[n] = -coef[3 * h - 1 - n];
  for (int n = 3 * h; n < 2 * m; ++n) out[n] = -coef[n - 3 * h];
  return shift;
}

}  // namespace

void DctIv(int32_t* x, int m) {
  DctIvWith(ActiveKernels(), x, m);
}

void SynthesizeWindowed(int32_t* coef, int sequence, int shape, int prevShape, int32_t* out) {
  // Spectral values carry 2 fractional bits; the transform's 2/N factor is a
  // further 2^-10 (long) or 2^-7 (short).
  constexpr int kSpecFrac = 2;
  const FilterbankKernels& k = ActiveKernels();
  const Tables& t = T();
  alignas(32) int32_t x[2048];
  const uint32_t* longRise = t.longWin[prevShape & 1];
  const uint32_t* longFall = t.longFall[shape & 1];
  const uint32_t* shortRisePrev = t.shortWin[prevShape & 1];
  const uint32_t* shortRise = t.shortWin[shape & 1];
  const uint32_t* shortFall = t.shortFall[shape & 1];

  if (sequence == kEightShort) {
    for (int n = 0; n < 2048; ++n) out[n] = 0;
    for (int w = 0; w < 8; ++w) {
      int32_t* c = coef + 128 * w;
      int s = Imdct(k, c, 128, x);
      if (s == 99) continue;
      const int shift = kSpecFrac + 7 + kWindowBits + s - kTimeFracBits;
      int32_t* o = out + 448 + 128 * w;
      k.windowAdd(x, w == 0 ? shortRisePrev : shortRise, 128, shift, o);
      k.windowAdd(x + 128, shortFall, 128, shift, o + 128);
    }
    return;
  }

  int s = Imdct(k, coef, 1024, x);
  if (s == 99) {
    for (int n = 0; n < 2048; ++n) out[n] = 0;
    return;
  }
  const int shift = kSpecFrac + 10 + kWindowBits + s - kTimeFracBits;
  // First half.
  if (sequence == kLongStop) {
    for (int n = 0; n < 448; ++n) out[n] = 0;
    k.window(x + 448, shortRisePrev, 128, shift, out + 448);
    k.window(x + 576, nullptr, 448, shift, out + 576);
  } else {
    k.window(x, longRise, 1024, shift, out);
  }
  // Second half.
  if (sequence == kLongStart) {
    k.window(x + 1024, nullptr, 448, shift, out + 1024);
    k.window(x + 1472, shortFall, 128, shift, out + 1472);
    for (int n = 1600; n < 2048; ++n) out[n] = 0;
  } else {
    k.window(x + 1024, longFall, 1024, shift, out + 1024);
  }
}

}  // namespace osprey
