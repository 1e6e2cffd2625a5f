// Package files from memory: parse, then extract every part into a scratch directory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "mms/multipart.h"
#include "platform/text.h"

namespace {

// One scratch directory per run, removed again when the fuzzer exits.
struct Scratch {
  std::filesystem::path path;
  Scratch() : path(std::filesystem::temp_directory_path() / ("mms-pkg-fuzz-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const std::u16string& ScratchDir() {
  static Scratch scratch;
  static const std::u16string dir = platform::Utf8ToUtf16(scratch.path.string());
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto pkg = mms::MultipartPackage::Parse(mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size)));
  if (!pkg) return 0;
  for (const mms::PackagePart& part : pkg->parts()) {
    if (part.dataOffset < 0 || part.dataLength < 0 ||
        part.dataOffset + part.dataLength > static_cast<std::int64_t>(size))
      __builtin_trap();
  }
  const int count = pkg->ExtractableCount();
  for (int i = 0; i < count && i < 4; ++i) {
    mms::ExtractedPart out;
    out.directory = ScratchDir();
    if (pkg->ExtractPart(i, out))
      std::filesystem::remove(platform::Utf16ToUtf8(mms::JoinPath(out.directory, out.name)));
  }
  if (pkg->ExtractRoot(ScratchDir(), u"mms.smil"))
    std::filesystem::remove(platform::Utf16ToUtf8(mms::JoinPath(ScratchDir(), u"mms.smil")));
  return 0;
}
