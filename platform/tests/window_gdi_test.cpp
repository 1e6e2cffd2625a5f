#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/gx.h"
#include "window_test_util.h"

using namespace window_test;
namespace td = platform::testdriver;

namespace {

/// A memory DC with a bitmap of its own, cleared to white.
class Canvas {
 public:
  Canvas(int w, int h) : w_(w), h_(h) {
    dc_ = CreateCompatibleDC(nullptr);
    bmp_ = CreateCompatibleBitmap(nullptr, w, h);
    old_ = SelectObject(dc_, bmp_);
    RECT all{0, 0, w, h};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bmp_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }
  /// Bounding box of the pixels that are not white.
  RECT Ink() const {
    RECT r{w_, h_, 0, 0};
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x)
        if (At(x, y) != RGB(255, 255, 255)) {
          r.left = std::min<LONG>(r.left, x);
          r.top = std::min<LONG>(r.top, y);
          r.right = std::max<LONG>(r.right, x + 1);
          r.bottom = std::max<LONG>(r.bottom, y + 1);
        }
    return r;
  }

 private:
  int w_, h_;
  HDC dc_;
  HBITMAP bmp_;
  HGDIOBJ old_;
};

HFONT MakeFont(LONG height, LONG weight, const char16_t* face = u"Nina") {
  LOGFONT lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  std::u16string f(face);
  std::copy(f.begin(), f.end(), lf.lfFaceName);
  return CreateFontIndirect(&lf);
}

int Width(HDC dc, const std::u16string& s) {
  SIZE size{};
  EXPECT_TRUE(GetTextExtentPoint32(dc, s.c_str(), static_cast<int>(s.size()), &size));
  return size.cx;
}

class WindowGdiTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUpWindowTest(); }
};

TEST_F(WindowGdiTest, TextMeasurementFollowsFontRecord) {
  Canvas c(10, 10);
  HFONT regular = MakeFont(-12, FW_NORMAL);
  HFONT bold = MakeFont(-12, FW_BOLD);
  HFONT big = MakeFont(-24, FW_NORMAL, u"Some Unknown Face");
  HFONT cell = MakeFont(16, FW_NORMAL);
  SelectObject(c.dc(), regular);
  EXPECT_EQ(Width(c.dc(), u""), 0);
  int w = Width(c.dc(), u"Hello world");
  EXPECT_GT(w, 40);
  EXPECT_LT(w, 90);
  EXPECT_EQ(Width(c.dc(), u"ab"), Width(c.dc(), u"a") + Width(c.dc(), u"b"));
  TEXTMETRIC tm{};
  ASSERT_TRUE(GetTextMetrics(c.dc(), &tm));
  EXPECT_GE(tm.tmHeight, 12);
  EXPECT_LE(tm.tmHeight, 16);
  EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
  SelectObject(c.dc(), bold);
  EXPECT_GT(Width(c.dc(), u"Hello world"), w);
  GetTextMetrics(c.dc(), &tm);
  EXPECT_EQ(tm.tmWeight, FW_BOLD);
  SelectObject(c.dc(), big);
  int wBig = Width(c.dc(), u"Hello world");
  EXPECT_GT(wBig, w * 18 / 10);
  EXPECT_LT(wBig, w * 22 / 10);
  // A positive height asks for the cell height.
  SelectObject(c.dc(), cell);
  GetTextMetrics(c.dc(), &tm);
  EXPECT_NEAR(tm.tmHeight, 16, 1);
  // GetTextExtentExPoint says how many characters fit.
  int fit = -1;
  SIZE size;
  ASSERT_TRUE(GetTextExtentExPoint(c.dc(), u"iiiiiiiiii", 10, Width(c.dc(), u"iii"), &fit, nullptr, &size));
  EXPECT_EQ(fit, 3);
  SelectObject(c.dc(), GetStockObject(SYSTEM_FONT));
  for (HFONT f : {regular, bold, big, cell}) EXPECT_TRUE(DeleteObject(f));
}

TEST_F(WindowGdiTest, EndEllipsisShortensOnlyWhatDoesNotFit) {
  HFONT font = MakeFont(-12, FW_NORMAL);
  std::u16string fits = u"Short";
  std::u16string longText = u"A rather long subject line that cannot fit";
  {
    // A text that fits draws exactly as without the flag.
    Canvas a(120, 20), b(120, 20);
    for (Canvas* c : {&a, &b}) SelectObject(c->dc(), font);
    RECT r{0, 0, 120, 20};
    DrawText(a.dc(), fits.c_str(), -1, &r, DT_SINGLELINE | DT_NOPREFIX);
    DrawText(b.dc(), fits.c_str(), -1, &r, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 120; ++x) ASSERT_EQ(a.At(x, y), b.At(x, y));
    SelectObject(a.dc(), GetStockObject(SYSTEM_FONT));
    SelectObject(b.dc(), GetStockObject(SYSTEM_FONT));
  }
  Canvas c(200, 20);
  SelectObject(c.dc(), font);
  RECT r{10, 0, 90, 20};
  DrawText(c.dc(), longText.c_str(), -1, &r, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  RECT ink = c.Ink();
  EXPECT_GE(ink.left, 10);
  EXPECT_LE(ink.right, 90);
  EXPECT_GT(ink.right, 70);  // the row is used, ending in the dots
  // The dots themselves: the last inked columns are short marks on the baseline.
  RECT calc{0, 0, 80, 0};
  DrawText(c.dc(), longText.c_str(), -1, &calc, DT_SINGLELINE | DT_END_ELLIPSIS | DT_CALCRECT);
  EXPECT_LE(calc.right, 80);
  SelectObject(c.dc(), GetStockObject(SYSTEM_FONT));
  DeleteObject(font);
}

TEST_F(WindowGdiTest, WordBreakWrapsAtSpacesAndCutsLongWords) {
  Canvas c(10, 10);
  TEXTMETRIC tm;
  GetTextMetrics(c.dc(), &tm);
  int line = tm.tmHeight;
  std::u16string text = u"one two three four five six seven";
  RECT r{0, 0, Width(c.dc(), u"one two three"), 0};
  int h = DrawText(c.dc(), text.c_str(), -1, &r, DT_WORDBREAK | DT_CALCRECT);
  EXPECT_EQ(h, 3 * line);  // "one two three" / "four five six" / "seven"
  EXPECT_EQ(r.bottom, 3 * line);
  RECT narrow{0, 0, Width(c.dc(), u"abcd"), 0};
  h = DrawText(c.dc(), u"abcdefghijkl", -1, &narrow, DT_WORDBREAK | DT_CALCRECT);
  EXPECT_EQ(h, 3 * line);
  RECT lines{0, 0, 500, 0};
  EXPECT_EQ(DrawText(c.dc(), u"a\r\nb\nc", -1, &lines, DT_CALCRECT), 3 * line);
  EXPECT_EQ(DrawText(c.dc(), u"a\r\nb\nc", -1, &lines, DT_CALCRECT | DT_SINGLELINE), line);
  // A prefix ampersand disappears, a doubled one stays.
  RECT p1{0, 0, 500, 0}, p2{0, 0, 500, 0};
  DrawText(c.dc(), u"&File", -1, &p1, DT_CALCRECT | DT_SINGLELINE);
  DrawText(c.dc(), u"File", -1, &p2, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  EXPECT_EQ(p1.right, p2.right);
  // Zero-width rectangles and empty strings do not hang or crash.
  RECT zero{0, 0, 0, 0};
  EXPECT_GT(DrawText(c.dc(), text.c_str(), -1, &zero, DT_WORDBREAK | DT_END_ELLIPSIS), 0);
  RECT e{0, 0, 10, 10};
  DrawText(c.dc(), u"", 0, &e, DT_WORDBREAK);
}

TEST_F(WindowGdiTest, CenteredTextIsCentered) {
  Canvas c(100, 30);
  RECT r{0, 0, 100, 30};
  SetTextColor(c.dc(), RGB(0, 0, 0));
  SetBkMode(c.dc(), TRANSPARENT);
  DrawText(c.dc(), u"Mm", -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  RECT ink = c.Ink();
  EXPECT_NEAR((ink.left + ink.right) / 2, 50, 2);
  EXPECT_NEAR((ink.top + ink.bottom) / 2, 15, 3);
}

struct Dib {
  std::vector<std::uint8_t> bytes;
  const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(bytes.data()); }
};

/// Packs a header, colour table (or masks) and rows.
Dib MakeDib(int w, int h, int bpp, const std::vector<std::uint32_t>& table,
            const std::vector<std::vector<std::uint8_t>>& rowsTopDown, bool bottomUp = true,
            DWORD compression = BI_RGB) {
  BITMAPINFOHEADER hdr{};
  hdr.biSize = 40;
  hdr.biWidth = w;
  hdr.biHeight = bottomUp ? h : -h;
  hdr.biPlanes = 1;
  hdr.biBitCount = static_cast<WORD>(bpp);
  hdr.biCompression = compression;
  hdr.biClrUsed = bpp <= 8 ? static_cast<DWORD>(table.size()) : 0;
  Dib d;
  d.bytes.resize(40);
  std::memcpy(d.bytes.data(), &hdr, 40);
  for (std::uint32_t t : table)
    for (int i = 0; i < 4; ++i) d.bytes.push_back(static_cast<std::uint8_t>(t >> (8 * i)));
  std::size_t stride = ((static_cast<std::size_t>(w) * bpp + 31) / 32) * 4;
  for (int i = 0; i < h; ++i) {
    auto row = rowsTopDown[static_cast<std::size_t>(bottomUp ? h - 1 - i : i)];
    row.resize(stride, 0);
    d.bytes.insert(d.bytes.end(), row.begin(), row.end());
  }
  return d;
}

std::size_t HeaderBytes(const Dib& d, int bpp, std::size_t tableEntries) {
  return 40 + tableEntries * 4;
}

int Draw(Canvas& c, const Dib& d, std::size_t header, int w, int h, int scale = 1) {
  return StretchDIBits(c.dc(), 0, 0, w * scale, h * scale, 0, 0, w, h, d.bytes.data() + header, d.info(),
                       DIB_RGB_COLORS, SRCCOPY);
}

// Palette entries are 0x00RRGGBB in memory order B, G, R, 0.
constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kBlack = 0;

TEST_F(WindowGdiTest, DibBlitsAtEveryDepth) {
  // Row 0 (top): red green; row 1: blue black.
  {
    Canvas c(4, 4);
    Dib d = MakeDib(2, 2, 1, {kRed, kBlue}, {{0x40}, {0x80}});  // bits: 0 1 / 1 0
    EXPECT_EQ(Draw(c, d, HeaderBytes(d, 1, 2), 2, 2), 2);
    EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(c.At(1, 0), RGB(0, 0, 255));
    EXPECT_EQ(c.At(0, 1), RGB(0, 0, 255));
    EXPECT_EQ(c.At(1, 1), RGB(255, 0, 0));
  }
  {
    Canvas c(4, 4);
    Dib d = MakeDib(2, 2, 4, {kRed, kGreen, kBlue, kBlack}, {{0x01}, {0x23}});
    EXPECT_EQ(Draw(c, d, HeaderBytes(d, 4, 4), 2, 2), 2);
    EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(c.At(1, 0), RGB(0, 255, 0));
    EXPECT_EQ(c.At(0, 1), RGB(0, 0, 255));
    EXPECT_EQ(c.At(1, 1), RGB(0, 0, 0));
  }
  for (bool bottomUp : {true, false}) {
    Canvas c(4, 4);
    Dib d = MakeDib(2, 2, 8, {kRed, kGreen, kBlue, kBlack}, {{0, 1}, {2, 3}}, bottomUp);
    EXPECT_EQ(Draw(c, d, HeaderBytes(d, 8, 4), 2, 2), 2);
    EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(c.At(1, 0), RGB(0, 255, 0));
    EXPECT_EQ(c.At(0, 1), RGB(0, 0, 255));
    EXPECT_EQ(c.At(1, 1), RGB(0, 0, 0));
  }
  {
    Canvas c(4, 4);
    // 24-bit rows are B, G, R triples.
    Dib d = MakeDib(2, 2, 24, {}, {{0, 0, 255, 0, 255, 0}, {255, 0, 0, 0, 0, 0}});
    EXPECT_EQ(Draw(c, d, 40, 2, 2), 2);
    EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(c.At(1, 0), RGB(0, 255, 0));
    EXPECT_EQ(c.At(0, 1), RGB(0, 0, 255));
  }
  {
    Canvas c(4, 4);
    // 16-bit with 5-6-5 masks.
    Dib d = MakeDib(2, 1, 16, {0xF800, 0x07E0, 0x001F}, {{0x00, 0xF8, 0x1F, 0x00}}, true, BI_BITFIELDS);
    EXPECT_EQ(Draw(c, d, 52, 2, 1), 1);
    EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(c.At(1, 0), RGB(0, 0, 255));
  }
  {
    Canvas c(4, 4);
    Dib d = MakeDib(1, 1, 32, {}, {{0x00, 0xFF, 0x00, 0x00}});
    EXPECT_EQ(Draw(c, d, 40, 1, 1), 1);
    EXPECT_EQ(c.At(0, 0), RGB(0, 255, 0));
  }
}

TEST_F(WindowGdiTest, DibStretchAndSourceRectangle) {
  Canvas c(8, 8);
  Dib d = MakeDib(2, 2, 8, {kRed, kGreen, kBlue, kBlack}, {{0, 1}, {2, 3}});
  EXPECT_EQ(Draw(c, d, 56, 2, 2, 3), 2);
  EXPECT_EQ(c.At(2, 2), RGB(255, 0, 0));
  EXPECT_EQ(c.At(3, 2), RGB(0, 255, 0));
  EXPECT_EQ(c.At(5, 5), RGB(0, 0, 0));
  EXPECT_EQ(c.At(6, 6), RGB(255, 255, 255));
  // For a bottom-up DIB the source rectangle counts from the bottom row: (0,0,1,1) is the
  // bottom-left pixel.
  Canvas c2(4, 4);
  EXPECT_EQ(
      StretchDIBits(c2.dc(), 0, 0, 1, 1, 0, 0, 1, 1, d.bytes.data() + 56, d.info(), DIB_RGB_COLORS, SRCCOPY),
      1);
  EXPECT_EQ(c2.At(0, 0), RGB(0, 0, 255));
}

TEST_F(WindowGdiTest, MalformedDibsAreRefused) {
  Canvas c(4, 4);
  Dib good = MakeDib(2, 2, 8, {kRed, kGreen}, {{0, 1}, {1, 0}});
  ASSERT_GT(platform::StretchPackedDib(c.dc(), 0, 0, 2, 2, good.bytes.data(), good.bytes.size()), 0);
  auto broken = [&](auto&& edit) {
    Dib d = good;
    BITMAPINFOHEADER h;
    std::memcpy(&h, d.bytes.data(), 40);
    edit(h, d);
    std::memcpy(d.bytes.data(), &h, 40);
    return platform::StretchPackedDib(c.dc(), 0, 0, 2, 2, d.bytes.data(), d.bytes.size());
  };
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib&) { h.biSize = 12; }), 0);
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib&) { h.biClrUsed = 257; }), 0);
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib&) { h.biBitCount = 7; }), 0);
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib&) { h.biWidth = -2; }), 0);
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib&) { h.biHeight = 0; }), 0);
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib&) { h.biCompression = 1; }), 0);
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib&) { h.biHeight = 3; }), 0);  // rows missing
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib& d) { d.bytes.resize(45); }), 0);
  EXPECT_EQ(broken([](BITMAPINFOHEADER& h, Dib&) { h.biWidth = 1 << 30; }), 0);
  EXPECT_EQ(platform::StretchPackedDib(c.dc(), 0, 0, 2, 2, good.bytes.data(), 39), 0);
  EXPECT_EQ(platform::StretchPackedDib(nullptr, 0, 0, 2, 2, good.bytes.data(), good.bytes.size()), 0);
}

TEST_F(WindowGdiTest, IconTransparencyAndBlending) {
  Canvas c(4, 1);
  RECT all{0, 0, 4, 1};
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 248));
  FillRect(c.dc(), &all, blue);
  std::uint32_t px[3] = {0x00FF0000, 0xFFFF0000, 0x80F80000};
  HICON icon = platform::CreateIconFromArgb(3, 1, px);
  ASSERT_NE(icon, nullptr);
  ASSERT_TRUE(DrawIcon(c.dc(), 0, 0, icon));
  EXPECT_EQ(c.At(0, 0), RGB(0, 0, 255));  // transparent: background stays
  EXPECT_EQ(c.At(1, 0), RGB(255, 0, 0));  // opaque
  COLORREF mixed = c.At(2, 0);
  EXPECT_NEAR(GetRValue(mixed), 128, 10);
  EXPECT_NEAR(GetBValue(mixed), 128, 10);
  SIZE size;
  EXPECT_TRUE(platform::GetIconSize(icon, &size));
  EXPECT_EQ(size.cx, 3);
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_FALSE(DrawIcon(c.dc(), 0, 0, icon));
  EXPECT_FALSE(DestroyIcon(icon));
  DeleteObject(blue);
}

TEST_F(WindowGdiTest, BlitsOverlapAndStretch) {
  Canvas c(8, 1);
  for (int x = 0; x < 8; ++x) SetPixel(c.dc(), x, 0, RGB(x * 32, 0, 0));
  // Overlapping copy to the right reads the old pixels.
  ASSERT_TRUE(BitBlt(c.dc(), 2, 0, 6, 1, c.dc(), 0, 0, SRCCOPY));
  for (int x = 2; x < 8; ++x) EXPECT_EQ(GetRValue(c.At(x, 0)) >> 3, ((x - 2) * 32) >> 3);
  Canvas big(8, 2);
  ASSERT_TRUE(StretchBlt(big.dc(), 0, 0, 8, 2, c.dc(), 0, 0, 4, 1, SRCCOPY));
  EXPECT_EQ(big.At(0, 1), c.At(0, 0));
  EXPECT_EQ(big.At(7, 1), c.At(3, 0));
  ASSERT_TRUE(BitBlt(big.dc(), 0, 0, 8, 2, nullptr, 0, 0, BLACKNESS));
  EXPECT_EQ(big.At(3, 1), RGB(0, 0, 0));
  EXPECT_FALSE(BitBlt(big.dc(), 0, 0, 8, 2, nullptr, 0, 0, SRCCOPY));
}

TEST_F(WindowGdiTest, StaleHandlesFailInsteadOfCrashing) {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(dc, 4, 4);
  HGDIOBJ old = SelectObject(dc, bmp);
  EXPECT_FALSE(DeleteObject(bmp));  // still selected
  HDC other = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(other, bmp), nullptr);  // one DC at a time
  SelectObject(dc, old);
  EXPECT_TRUE(DeleteObject(bmp));
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_TRUE(DeleteDC(other));
  RECT r{0, 0, 1, 1};
  EXPECT_EQ(FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
  EXPECT_EQ(SelectObject(dc, GetStockObject(BLACK_PEN)), nullptr);
  EXPECT_FALSE(DeleteDC(dc));
  EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
  EXPECT_EQ(CreateCompatibleBitmap(nullptr, 0, 5), nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(nullptr, 100000, 100000), nullptr);
}

TEST_F(WindowGdiTest, WindowDrawingIsClippedToItsVisibleArea) {
  HWND top = MakeTop(u"clip", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN);
  MoveWindow(top, 0, 20, 100, 100, TRUE);
  HWND child = MakeChild(top, 1, RECT{10, 10, 40, 40});
  HWND cover = MakeTop(u"cover", WS_POPUP | WS_VISIBLE);
  MoveWindow(cover, 60, 20, 40, 40, TRUE);
  td::RunUntilIdle();
  HDC dc = GetDC(child);
  RECT huge{-50, -50, 200, 200};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &huge, red);
  ReleaseDC(child, dc);
  EXPECT_EQ(td::ScreenPixel(10, 30), 0xFF0000u);
  EXPECT_EQ(td::ScreenPixel(39, 59), 0xFF0000u);
  EXPECT_NE(td::ScreenPixel(40, 60), 0xFF0000u);
  EXPECT_NE(td::ScreenPixel(9, 30), 0xFF0000u);
  // The parent clips its child out, and the window above covers the parent.
  HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
  dc = GetDC(top);
  FillRect(dc, &huge, green);
  ReleaseDC(top, dc);
  EXPECT_EQ(td::ScreenPixel(20, 40), 0xFF0000u);
  EXPECT_EQ(td::ScreenPixel(5, 25), 0x00FF00u);
  EXPECT_NE(td::ScreenPixel(70, 30), 0x00FF00u);
  EXPECT_EQ(td::ScreenPixel(70, 70), 0x00FF00u);
  EXPECT_NE(td::ScreenPixel(5, 125), 0x00FF00u);
  DeleteObject(red);
  DeleteObject(green);
  // Moving the cover away repaints what it uncovers (white class background).
  MoveWindow(cover, 0, 150, 10, 10, TRUE);
  td::RunUntilIdle();
  EXPECT_EQ(td::ScreenPixel(70, 30), 0xFFFFFFu);
  DestroyAll({top, cover});
}

TEST_F(WindowGdiTest, FullScreenVideoWritesTheScreen) {
  ASSERT_EQ(GXOpenDisplay(nullptr, GX_FULLSCREEN), 1);
  EXPECT_EQ(GXOpenDisplay(nullptr, GX_FULLSCREEN), 0);
  GXDisplayProperties p = GXGetDisplayProperties();
  EXPECT_EQ(p.cxWidth, static_cast<DWORD>(platform::ScreenWidth()));
  EXPECT_EQ(p.cbyPitch, static_cast<long>(p.cxWidth) * 2);
  EXPECT_TRUE(p.ffFormat & kfDirect565);
  auto* fb = static_cast<std::uint16_t*>(GXBeginDraw());
  ASSERT_NE(fb, nullptr);
  fb[5 * p.cxWidth + 7] = 0x07E0;  // green
  EXPECT_EQ(GXEndDraw(), 1);
  EXPECT_EQ(td::ScreenPixel(7, 5), 0x00FF00u);
  EXPECT_EQ(GXCloseDisplay(), 1);
  EXPECT_EQ(GXBeginDraw(), nullptr);
}

TEST_F(WindowGdiTest, ScreenshotRoundTrip) {
  HWND top = MakeTop(u"shot");
  td::RunUntilIdle();
  std::string path = ::testing::TempDir() + "/window_shot.png";
  ASSERT_TRUE(td::SaveScreenshot(path));
  int w = 0, h = 0;
  std::vector<std::uint32_t> rgb;
  ASSERT_TRUE(td::ReadPng(path, &w, &h, &rgb));
  EXPECT_EQ(w, platform::ScreenWidth());
  EXPECT_EQ(h, platform::ScreenHeight());
  EXPECT_EQ(rgb[static_cast<std::size_t>(5) * w + 5], td::ScreenPixel(5, 5));
  EXPECT_EQ(rgb[static_cast<std::size_t>(100) * w + 50], 0xFFFFFFu);  // the window's white background
  EXPECT_FALSE(td::SaveScreenshot("/nonexistent-dir/x.png"));
  EXPECT_FALSE(td::ReadPng("/nonexistent-dir/x.png", &w, &h, &rgb));
  std::remove(path.c_str());
  DestroyAll({top});
}

}  // namespace
