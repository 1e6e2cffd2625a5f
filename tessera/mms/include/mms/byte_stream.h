#pragma once
/// ByteStream: read/write/seek over a file or a fixed memory block. Every codec of
/// packages, images and clips reads and writes through one.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

namespace mms {

class ByteStream {
 public:
  enum class Kind { File = 1, Memory = 2 };

  /// File open modes: 1 "rb", 2 "wb", 3 "ab", 4 "rb+", 5 "wb+", 6 "ab+"; any other number opens "rb".
  enum Mode { kRead = 1, kWrite = 2, kAppend = 3, kReadUpdate = 4, kWriteUpdate = 5, kAppendUpdate = 6 };

  /// Seek origins as the system numbers them (not the C library's).
  enum Origin { kFromStart = 0, kFromEnd = 1, kFromCurrent = 2 };

  /// Opens a file by its 16-bit path; null when it cannot be opened.
  static std::unique_ptr<ByteStream> OpenFile(std::u16string_view path, int mode);
  /// Same, for a path already in the file system's encoding.
  static std::unique_ptr<ByteStream> OpenFileUtf8(const char* path, int mode);
  /// A stream over a block the caller keeps alive. It never grows: reads and writes
  /// stop at the end of the block.
  static std::unique_ptr<ByteStream> OpenMemory(std::uint8_t* data, std::int64_t size);
  /// A read-only stream over a block; writes transfer nothing.
  static std::unique_ptr<ByteStream> OpenMemory(const std::uint8_t* data, std::int64_t size);

  ~ByteStream();
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  Kind kind() const { return kind_; }

  /// Reads up to n octets; returns how many were read (0 at the end or on error).
  std::int64_t Read(void* dst, std::int64_t n);
  /// Writes up to n octets; returns how many were written.
  std::int64_t Write(const void* src, std::int64_t n);
  /// Moves the position; memory streams clamp it to 0..size. Returns 0, or -1 on failure.
  int Seek(std::int64_t offset, int origin);
  std::int64_t Tell() const;
  /// Size of the file or the memory block.
  std::int64_t Size() const;
  /// One octet, or 0 past the end (the WSP stream readers rely on that).
  std::uint8_t ReadOctet();
  /// True once a read came up short.
  bool AtEnd() const { return atEnd_; }
  /// Flushes buffered file writes; false when the file system refused them.
  bool Flush();

 private:
  ByteStream() = default;

  Kind kind_ = Kind::Memory;
  std::FILE* file_ = nullptr;
  std::uint8_t* data_ = nullptr;
  bool readOnly_ = false;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
  bool atEnd_ = false;
};

}  // namespace mms
