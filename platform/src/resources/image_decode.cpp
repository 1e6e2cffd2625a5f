#include <png.h>

#include <cstring>

#include "platform/resources.h"

namespace platform {

bool DecodeImage(std::span<const std::uint8_t> data, ResourceImage* out) {
  if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) return false;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return false;
  if (image.width == 0 || image.height == 0 || image.width > kMaxImageSide || image.height > kMaxImageSide) {
    png_image_free(&image);
    return false;
  }
  // BGRA octets in memory are 0xAARRGGBB words on a little-endian host.
  image.format = PNG_FORMAT_BGRA;
  std::vector<std::uint8_t> octets(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, octets.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  out->width = static_cast<int>(image.width);
  out->height = static_cast<int>(image.height);
  out->pixels.resize(static_cast<std::size_t>(out->width) * out->height);
  for (std::size_t i = 0; i < out->pixels.size(); ++i) {
    const std::uint8_t* p = &octets[i * 4];
    out->pixels[i] = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                     (std::uint32_t{p[3]} << 24);
  }
  return true;
}

}  // namespace platform
