#include <cstring>

#include "platform/resources.h"
#include "resources/resource_reader.h"

// A shared object's exported data, read from its section table: the dynamic symbol table
// (or the full one) names the symbol, its section maps the symbol's address to a file
// offset. Every offset and length is checked against the file before it is used.

namespace platform {

namespace {

constexpr std::uint32_t kSymtab = 2;
constexpr std::uint32_t kDynsym = 11;
constexpr std::uint32_t kNobits = 8;
constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kSectionSize = 64;
constexpr std::size_t kSymbolSize = 24;

struct Section {
  std::uint32_t type = 0;
  std::uint32_t link = 0;
  std::uint64_t addr = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t entsize = 0;
};

std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t U64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(U32(p)) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}

// True when [offset, offset + size) lies inside a file of `fileSize` bytes.
bool Inside(std::uint64_t offset, std::uint64_t size, std::size_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

bool ReadSection(std::span<const std::uint8_t> file, std::uint64_t shoff, std::uint32_t index, Section* out) {
  const std::uint64_t at = shoff + static_cast<std::uint64_t>(index) * kSectionSize;
  if (!Inside(at, kSectionSize, file.size())) return false;
  const std::uint8_t* p = file.data() + at;
  out->type = U32(p + 4);
  out->addr = U64(p + 16);
  out->offset = U64(p + 24);
  out->size = U64(p + 32);
  out->link = U32(p + 40);
  out->entsize = U64(p + 56);
  return out->type == kNobits || Inside(out->offset, out->size, file.size());
}

// Looks `name` up in one symbol table; true with the symbol's section index, value and size.
bool FindSymbol(std::span<const std::uint8_t> file, std::uint64_t shoff, std::uint32_t shnum, const Section& table,
                const char* name, std::uint16_t* shndx, std::uint64_t* value, std::uint64_t* size) {
  if (table.link >= shnum) return false;
  Section strings;
  if (!ReadSection(file, shoff, table.link, &strings) || strings.type == kNobits) return false;
  const std::size_t nameLength = std::strlen(name);
  const std::uint64_t count = table.size / kSymbolSize;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint8_t* sym = file.data() + table.offset + i * kSymbolSize;
    const std::uint32_t nameOffset = U32(sym);
    // The name must fit, with its terminating zero, inside the string table.
    if (nameOffset >= strings.size || strings.size - nameOffset < nameLength + 1) continue;
    const std::uint8_t* text = file.data() + strings.offset + nameOffset;
    if (std::memcmp(text, name, nameLength) != 0 || text[nameLength] != 0) continue;
    *shndx = U16(sym + 6);
    *value = U64(sym + 8);
    *size = U64(sym + 16);
    return true;
  }
  return false;
}

}  // namespace

bool ReadExportedData(std::span<const std::uint8_t> file, const char* name, std::vector<std::uint8_t>* out) {
  out->clear();
  if (file.size() < kHeaderSize || std::memcmp(file.data(), "\x7f" "ELF", 4) != 0) return false;
  if (file[4] != 2 || file[5] != 1) return false;  // 64-bit, little-endian
  const std::uint64_t shoff = U64(file.data() + 40);
  const std::uint16_t shentsize = U16(file.data() + 58);
  const std::uint16_t shnum = U16(file.data() + 60);
  if (shentsize != kSectionSize || shnum == 0) return false;
  if (!Inside(shoff, static_cast<std::uint64_t>(shnum) * kSectionSize, file.size())) return false;
  // The dynamic table holds what the object exports; the full table is tried after it.
  for (std::uint32_t wanted : {kDynsym, kSymtab}) {
    for (std::uint32_t i = 0; i < shnum; ++i) {
      Section table;
      if (!ReadSection(file, shoff, i, &table) || table.type != wanted) continue;
      std::uint16_t shndx = 0;
      std::uint64_t value = 0, size = 0;
      if (!FindSymbol(file, shoff, shnum, table, name, &shndx, &value, &size)) continue;
      Section home;
      if (shndx == 0 || shndx >= shnum || !ReadSection(file, shoff, shndx, &home) || home.type == kNobits)
        return false;
      if (value < home.addr || value - home.addr > home.size) return false;
      const std::uint64_t start = value - home.addr;
      const std::uint64_t length = size ? size : home.size - start;
      if (length > home.size - start) return false;
      const std::uint8_t* data = file.data() + home.offset + start;
      out->assign(data, data + length);
      return true;
    }
  }
  return false;
}

ResourceTable ResourceTable::FromModuleFile(std::span<const std::uint8_t> file, std::vector<std::uint8_t>* storage) {
  if (!ReadExportedData(file, kResourceTableSymbol, storage) || storage->size() < kResourceHeaderSize) return {};
  // The header carries the table's size; the symbol may be larger (padding) but not smaller.
  ResourceReader r({storage->data(), kResourceHeaderSize});
  r.U32();
  r.U16();
  r.U16();
  const std::uint32_t total = r.U32();
  if (total > storage->size()) return {};
  return FromBytes(storage->data(), total);
}

}  // namespace platform
