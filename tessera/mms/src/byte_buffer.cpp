#include "mms/byte_buffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace mms {

namespace {

// The block always has capacity + 1 octets so that a terminating 0 follows the valid octets.
std::uint8_t* AllocateBlock(std::int32_t capacity) {
  auto* block = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(capacity) + 1));
  if (block) block[0] = 0;
  return block;
}

}  // namespace

ByteBuffer::ByteBuffer() : ByteBuffer(std::int32_t{0}) {}

// When a block cannot be had the buffer stays without one: data() then points at a shared
// zero octet and every insertion reports failure until memory returns.
ByteBuffer::ByteBuffer(std::int32_t capacity) {
  if (capacity < 0) capacity = 0;
  data_ = AllocateBlock(capacity);
  if (data_) capacity_ = capacity;
}

ByteBuffer::ByteBuffer(const void* data, std::int32_t length) : ByteBuffer(length) {
  if (length > 0 && data && data_ && capacity_ >= length) {
    std::memcpy(data_, data, static_cast<std::size_t>(length));
    length_ = length;
    data_[length_] = 0;
  }
}

ByteBuffer::~ByteBuffer() {
  std::free(data_);
}

ByteBuffer::ByteBuffer(const ByteBuffer& other) : ByteBuffer(other.data_, other.length_) {}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
  if (this != &other) {
    ByteBuffer copy(other);
    *this = std::move(copy);
  }
  return *this;
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(other.data_), length_(other.length_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.length_ = 0;
  other.capacity_ = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    std::swap(data_, other.data_);
    std::swap(length_, other.length_);
    std::swap(capacity_, other.capacity_);
    other.Clear();
  }
  return *this;
}

bool ByteBuffer::Reserve(std::int64_t needed) {
  if (needed <= capacity_ && data_) return true;
  // Growth rounds the new size up to a multiple of 32.
  const std::int64_t capacity = (needed + 31) & ~std::int64_t{31};
  if (capacity > std::numeric_limits<std::int32_t>::max() - 1) return false;
  void* grown = std::realloc(data_, static_cast<std::size_t>(capacity) + 1);
  if (!grown) return false;
  data_ = static_cast<std::uint8_t*>(grown);
  capacity_ = static_cast<std::int32_t>(capacity);
  return true;
}

bool ByteBuffer::Insert(std::int32_t pos, const void* src, std::int32_t n) {
  if (pos < 0 || pos > length_ || n < 0 || (n > 0 && !src)) return false;
  const auto* from = static_cast<const std::uint8_t*>(src);
  if (data_ && from >= data_ && from < data_ + capacity_ + 1) {
    // Inserting a piece of this very buffer: growth may move the block, so copy it first.
    ByteBuffer piece(from, n);
    if (piece.length() != n) return false;
    return Insert(pos, piece.data(), n);
  }
  if (!Reserve(std::int64_t{length_} + n)) return false;
  if (n > 0) {
    std::memmove(data_ + pos + n, data_ + pos, static_cast<std::size_t>(length_ - pos));
    std::memcpy(data_ + pos, src, static_cast<std::size_t>(n));
    length_ += n;
  }
  data_[length_] = 0;
  return true;
}

bool ByteBuffer::AppendString(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
  return Append(text.data(), static_cast<std::int32_t>(text.size()));
}

int ByteBuffer::At(std::int32_t pos) const {
  if (pos < 0 || pos >= length_) return -1;
  return data_[pos];
}

const std::uint8_t* ByteBuffer::Tail(std::int32_t pos, std::int32_t* remaining) const {
  if (pos < 0 || pos > length_) {
    if (remaining) *remaining = 0;
    return nullptr;
  }
  if (remaining) *remaining = length_ - pos;
  return data() + pos;
}

const std::uint8_t ByteBuffer::kNoOctets[1] = {0};

void ByteBuffer::Clear() {
  length_ = 0;
  if (data_) data_[0] = 0;
}

}  // namespace mms
