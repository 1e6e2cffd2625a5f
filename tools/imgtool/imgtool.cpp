// imgtool: inspect, load, convert and render still images from the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "imaging/bmp.h"
#include "imaging/gif.h"
#include "imaging/image.h"
#include "mms/byte_stream.h"
#include "platform/text.h"
#include "toolargs/toolargs.h"

namespace {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: imgtool info FILE\n"
               "       imgtool load FILE W H OUT.bmp\n"
               "       imgtool convert SRC DST W H [TYPE]   (type from TYPE, else DST's name)\n"
               "       imgtool frames FILE W H DIR\n"
               "       imgtool save FILE.bmp OUT TYPE   (TYPE: jpeg, png, bmp, wbmp, gif)\n");
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

std::u16string Wide(const char* s) {
  return platform::Utf8ToUtf16(s);
}

bool ParseSize(const char* w, const char* h, imaging::Box* box) {
  std::uint64_t bw = 0, bh = 0;
  if (!toolargs::ParseUnsigned(w, 1, 65535, &bw)) {
    toolargs::BadNumber("imgtool", "W", w, "a width of 1..65535");
    return false;
  }
  if (!toolargs::ParseUnsigned(h, 1, 65535, &bh)) {
    toolargs::BadNumber("imgtool", "H", h, "a height of 1..65535");
    return false;
  }
  box->width = static_cast<int>(bw);
  box->height = static_cast<int>(bh);
  return true;
}

// The folders above an output file are made when missing.
bool OutputFolder(const std::string& path) {
  std::string error;
  if (toolargs::MakeOutputFolder(path, &error)) return true;
  std::fprintf(stderr, "imgtool: %s\n", error.c_str());
  return false;
}

bool WriteBmpFile(const imaging::PackedDib& dib, const std::string& path) {
  return imaging::SaveImage(dib, Wide(path.c_str()), imaging::kTypeBmp) == 1;
}

int Info(const char* file) {
  imaging::Box size;
  int depth = 0;
  if (!imaging::GetImageInfo(Wide(file), &size, &depth, imaging::kTypeByExtension)) {
    std::fprintf(stderr, "imgtool: cannot read image information of %s\n", file);
    return 1;
  }
  std::printf("%d %d %d", size.width, size.height, depth);
  if (imaging::ResolveImageType(Wide(file), imaging::kTypeByExtension) == imaging::kTypeGif) {
    auto stream = mms::ByteStream::OpenFileUtf8(file, mms::ByteStream::kRead);
    std::unique_ptr<imaging::GifDecoder> d;
    imaging::GifPrescan scan;
    if (!stream || imaging::GifDecoder::Open(stream.get(), &d) != imaging::kGifOk ||
        d->Prescan(&scan) != imaging::kGifOk) {
      std::printf("\n");
      std::fprintf(stderr, "imgtool: %s: broken GIF block structure\n", file);
      return 1;
    }
    std::printf(" frames %d delay %u ms", scan.frames, scan.totalDelay * 10);
    if (scan.applicationExtension) std::printf(" loop %u", scan.loopCount);
  }
  std::printf("\n");
  return 0;
}

int Load(const char* file, const char* w, const char* h, const char* out) {
  imaging::Box box;
  if (!ParseSize(w, h, &box)) return Usage();
  auto dib = imaging::LoadImageFitted(Wide(file), &box, imaging::kTypeByExtension);
  if (!dib) {
    std::fprintf(stderr, "imgtool: cannot load %s\n", file);
    return 1;
  }
  if (!WriteBmpFile(*dib, out)) {
    std::fprintf(stderr, "imgtool: cannot write %s\n", out);
    return 1;
  }
  std::printf("%d %d\n", box.width, box.height);
  return 0;
}

// Type names of the command line; 0 for an unknown name.
std::uint32_t TypeByName(const char* name) {
  static const struct {
    const char* name;
    std::uint32_t type;
  } kTypes[] = {{"jpeg", imaging::kTypeJpeg}, {"jpg", imaging::kTypeJpeg}, {"gif", imaging::kTypeGif},
                {"png", imaging::kTypePng},   {"bmp", imaging::kTypeBmp},  {"wbmp", imaging::kTypeWbmp}};
  for (const auto& t : kTypes)
    if (std::strcmp(t.name, name) == 0) return t.type;
  return 0;
}

bool FileExists(const char* path) {
  return std::ifstream(path, std::ios::binary).good();
}

bool CopyFile(const char* from, const char* to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  out.flush();
  return in.good() && out.good();
}

// A palette of 6 x 7 x 6 evenly spaced colours (252 entries) for pictures saved as GIF.
void UniformPalette(imaging::RGBQUAD* table) {
  int n = 0;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 7; ++g)
      for (int b = 0; b < 6; ++b)
        table[n++] = imaging::RGBQUAD{static_cast<std::uint8_t>(b * 255 / 5), static_cast<std::uint8_t>(g * 255 / 6),
                                      static_cast<std::uint8_t>(r * 255 / 5), 0};
}

// Saves a 24-bit picture: GIF through a fixed palette, the other types through the image
// library. Nothing is left behind on failure.
bool SavePicture(const imaging::PackedDib& dib, const char* out, std::uint32_t type) {
  if (type != imaging::kTypeGif) return imaging::SaveImage(dib, Wide(out), type) == 1;
  imaging::RGBQUAD table[252];
  UniformPalette(table);
  auto reduced = imaging::ReduceBitmap(dib, 8, table, 252);
  if (!reduced) return false;
  bool ok = false;
  {
    auto stream = mms::ByteStream::OpenFileUtf8(out, mms::ByteStream::kWrite);
    ok = stream && imaging::WriteGif(stream.get(), *reduced) == imaging::kGifOk && stream->Flush();
  }
  if (!ok) std::remove(out);
  return ok;
}

int Convert(const char* src, const char* dst, const char* w, const char* h, const char* typeName) {
  imaging::Box box;
  if (!ParseSize(w, h, &box)) return Usage();
  const std::uint32_t from = imaging::ResolveImageType(Wide(src), imaging::kTypeByExtension);
  const std::uint32_t to =
      typeName ? TypeByName(typeName) : imaging::ResolveImageType(Wide(dst), imaging::kTypeByExtension);
  if (typeName && !to) {
    std::fprintf(stderr, "imgtool: unknown type %s\n", typeName);
    return 2;
  }
  if (!from || from == imaging::kTypeVideo || !to || to == imaging::kTypeVideo) {
    std::fprintf(stderr, "imgtool: cannot convert %s into %s: %s type is not known\n", src, dst,
                 !from || from == imaging::kTypeVideo ? "the source's" : "the target's");
    return 1;
  }
  if (from == to) {
    // Same format: the library's conversion keeps depth, palette and animation.
    if (!imaging::ConvertImage(Wide(dst), Wide(src), box, from)) {
      std::fprintf(stderr, "imgtool: cannot convert %s into %s\n", src, dst);
      return 1;
    }
    // An animation that needs no shrinking is answered without a new file: copy it.
    if (!FileExists(dst) && !CopyFile(src, dst)) {
      std::remove(dst);
      std::fprintf(stderr, "imgtool: cannot write %s\n", dst);
      return 1;
    }
    return 0;
  }
  auto dib = imaging::LoadImageFitted(Wide(src), &box, from);
  if (!dib) {
    std::fprintf(stderr, "imgtool: cannot load %s\n", src);
    return 1;
  }
  if (!SavePicture(*dib, dst, to)) {
    std::fprintf(stderr, "imgtool: cannot write %s\n", dst);
    return 1;
  }
  return 0;
}

int Frames(const char* file, const char* w, const char* h, const char* dir) {
  imaging::Box box;
  if (!ParseSize(w, h, &box)) return Usage();
  auto player = imaging::GifPlayer::Open(Wide(file), &box);
  if (!player) {
    std::fprintf(stderr, "imgtool: cannot open animation %s\n", file);
    return 1;
  }
  for (int n = 0;; ++n) {
    bool end = false;
    int delay = 0;
    const imaging::PackedDib* canvas = player->Render(n, &end, &delay);
    if (end) {
      std::printf("%d frames\n", n);
      return 0;
    }
    if (!canvas) {
      std::fprintf(stderr, "imgtool: frame %d of %s cannot be decoded\n", n, file);
      return 1;
    }
    char name[64];
    std::snprintf(name, sizeof name, "frame%03d_%dms.bmp", n, delay);
    const std::string path = std::string(dir) + "/" + name;
    if (!WriteBmpFile(*canvas, path)) {
      std::fprintf(stderr, "imgtool: cannot write %s\n", path.c_str());
      return 1;
    }
  }
}

int Save(const char* file, const char* out, const char* typeName) {
  const std::uint32_t type = TypeByName(typeName);
  if (!type) {
    std::fprintf(stderr, "imgtool: unknown type %s\n", typeName);
    return 2;
  }
  imaging::Box box{65535, 65535};
  auto dib = imaging::LoadImageFitted(Wide(file), &box, imaging::kTypeBmp);
  if (!dib) {
    std::fprintf(stderr, "imgtool: cannot load %s as BMP\n", file);
    return 1;
  }
  if (!SavePicture(*dib, out, type)) {
    std::fprintf(stderr, "imgtool: cannot save %s as %s\n", out, typeName);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "imgtool", &PrintUsage); rc >= 0) return rc;
  const std::string cmd = argv[1];
  if (((cmd == "load" || cmd == "convert") && argc == 6 && !OutputFolder(argv[cmd == "load" ? 5 : 3])) ||
      (cmd == "frames" && argc == 6 && !OutputFolder(std::string(argv[5]) + "/frame")) ||
      (cmd == "save" && argc == 5 && !OutputFolder(argv[3])))
    return 1;
  if (cmd == "info" && argc == 3) return Info(argv[2]);
  if (cmd == "load" && argc == 6) return Load(argv[2], argv[3], argv[4], argv[5]);
  if (cmd == "convert" && (argc == 6 || argc == 7))
    return Convert(argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : nullptr);
  if (cmd == "frames" && argc == 6) return Frames(argv[2], argv[3], argv[4], argv[5]);
  if (cmd == "save" && argc == 5) return Save(argv[2], argv[3], argv[4]);
  return Usage();
}
