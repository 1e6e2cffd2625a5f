#include "mms/byte_stream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/text.h"

namespace mms {

namespace {

const char* ModeText(int mode) {
  switch (mode) {
    case ByteStream::kWrite:
      return "wb";
    case ByteStream::kAppend:
      return "ab";
    case ByteStream::kReadUpdate:
      return "rb+";
    case ByteStream::kWriteUpdate:
      return "wb+";
    case ByteStream::kAppendUpdate:
      return "ab+";
    default:
      return "rb";
  }
}

}  // namespace

std::unique_ptr<ByteStream> ByteStream::OpenFileUtf8(const char* path, int mode) {
  if (!path || !*path) return nullptr;
  std::FILE* f = std::fopen(path, ModeText(mode));
  if (!f) return nullptr;
  std::unique_ptr<ByteStream> s(new ByteStream());
  s->kind_ = Kind::File;
  s->file_ = f;
  return s;
}

std::unique_ptr<ByteStream> ByteStream::OpenFile(std::u16string_view path, int mode) {
  const std::string utf8 = platform::Utf16ToUtf8(path);
  if (utf8.find('\0') != std::string::npos) return nullptr;
  return OpenFileUtf8(utf8.c_str(), mode);
}

std::unique_ptr<ByteStream> ByteStream::OpenMemory(std::uint8_t* data, std::int64_t size) {
  if (!data && size > 0) return nullptr;
  std::unique_ptr<ByteStream> s(new ByteStream());
  s->kind_ = Kind::Memory;
  s->data_ = data;
  s->size_ = std::max<std::int64_t>(size, 0);
  return s;
}

std::unique_ptr<ByteStream> ByteStream::OpenMemory(const std::uint8_t* data, std::int64_t size) {
  auto s = OpenMemory(const_cast<std::uint8_t*>(data), size);
  if (s) s->readOnly_ = true;
  return s;
}

ByteStream::~ByteStream() {
  if (file_) std::fclose(file_);
}

std::int64_t ByteStream::Read(void* dst, std::int64_t n) {
  if (n <= 0 || !dst) return 0;
  std::int64_t got;
  if (kind_ == Kind::File) {
    got = static_cast<std::int64_t>(std::fread(dst, 1, static_cast<std::size_t>(n), file_));
  } else {
    got = std::min(n, size_ - position_);
    if (got > 0) std::memcpy(dst, data_ + position_, static_cast<std::size_t>(got));
    got = std::max<std::int64_t>(got, 0);
    position_ += got;
  }
  if (got < n) atEnd_ = true;
  return got;
}

std::int64_t ByteStream::Write(const void* src, std::int64_t n) {
  if (n <= 0 || !src) return 0;
  if (kind_ == Kind::File)
    return static_cast<std::int64_t>(std::fwrite(src, 1, static_cast<std::size_t>(n), file_));
  if (readOnly_) return 0;
  const std::int64_t put = std::max<std::int64_t>(std::min(n, size_ - position_), 0);
  if (put > 0) std::memcpy(data_ + position_, src, static_cast<std::size_t>(put));
  position_ += put;
  return put;
}

int ByteStream::Seek(std::int64_t offset, int origin) {
  if (kind_ == Kind::File) {
    int whence = origin == kFromEnd ? SEEK_END : origin == kFromCurrent ? SEEK_CUR : SEEK_SET;
    if (fseeko(file_, static_cast<off_t>(offset), whence) != 0) return -1;
    atEnd_ = false;
    return 0;
  }
  std::int64_t base = origin == kFromEnd ? size_ : origin == kFromCurrent ? position_ : 0;
  std::int64_t target = base + offset;
  position_ = std::clamp<std::int64_t>(target, 0, size_);
  atEnd_ = false;
  return 0;
}

std::int64_t ByteStream::Tell() const {
  if (kind_ == Kind::File) return static_cast<std::int64_t>(ftello(file_));
  return position_;
}

std::int64_t ByteStream::Size() const {
  if (kind_ == Kind::Memory) return size_;
  const off_t here = ftello(file_);
  if (here < 0 || fseeko(file_, 0, SEEK_END) != 0) return 0;
  const off_t end = ftello(file_);
  fseeko(file_, here, SEEK_SET);
  return end < 0 ? 0 : static_cast<std::int64_t>(end);
}

std::uint8_t ByteStream::ReadOctet() {
  std::uint8_t b = 0;
  if (Read(&b, 1) != 1) return 0;
  return b;
}

bool ByteStream::Flush() {
  if (kind_ == Kind::File) return std::fflush(file_) == 0 && !std::ferror(file_);
  return true;
}

}  // namespace mms
