#pragma once
// Helpers of the imaging tests: temporary files, reference decodes with ImageMagick and
// pixel comparisons.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/packed_dib.h"
#include "platform_testing/device_root.h"

namespace imaging_test {

bool HaveTool(const char* name);
/// Runs a shell command; true on exit status 0.
bool Shell(const std::string& command);
std::vector<std::uint8_t> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& data);
std::u16string Wide(const std::string& path);

/// Reference decode: width, height and 8-bit RGB pixels, top row first.
struct Rgb {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};
/// Decodes a file (or "file[n]" for a frame) with ImageMagick; extra goes before the output.
bool Reference(const std::string& input, Rgb* out, const std::string& extra = "");

/// Number of pixels whose channels differ by more than tolerance; *first describes the
/// first one.
int CountMismatches(const imaging::PackedDib& dib, const Rgb& ref, int tolerance, std::string* first);

/// Loads a file at full size (box of its own size).
std::unique_ptr<imaging::PackedDib> LoadFull(const std::string& path, std::uint32_t type = 0xFFFE);

/// Counts the bytes allocated (malloc and new) on any thread while it lives, through the
/// sanitizer's allocation hooks. available() is false in a build without them.
class AllocationMeter {
 public:
  AllocationMeter();
  ~AllocationMeter();
  AllocationMeter(const AllocationMeter&) = delete;
  AllocationMeter& operator=(const AllocationMeter&) = delete;
  static bool available();
  std::size_t total() const;
  std::size_t largest() const;
};

/// A temporary directory for one test.
class TempDir {
 public:
  TempDir() = default;
  std::string Path(const std::string& name) const { return root_.path() + "/" + name; }

 private:
  platform_testing::ScopedDeviceRoot root_;
};

/// Pixel (x, y) of a 24-bit bitmap as blue, green, red.
inline const std::uint8_t* Pixel(const imaging::PackedDib& dib, int x, int y) {
  return dib.TopRow(y) + 3 * x;
}

}  // namespace imaging_test

#define REQUIRE_MAGICK()                                                           \
  do {                                                                             \
    if (!imaging_test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing"; \
  } while (0)
