#include <cstring>

#include "platform/resources.h"
#include "resources/resource_reader.h"

namespace platform {

ResourceTable ResourceTable::FromModule(HMODULE module) {
  if (!module) return {};
  const auto* symbol = GetProcData<const std::uint8_t>(module, kResourceTableSymbol);
  if (!symbol) return {};
  // The header carries the table's size; read it before trusting anything else.
  std::uint8_t header[kResourceHeaderSize];
  std::memcpy(header, symbol, sizeof header);
  ResourceReader r({header, sizeof header});
  r.U32();
  r.U16();
  r.U16();
  const std::uint32_t total = r.U32();
  return FromBytes(symbol, total);
}

bool LoadMenuTemplate(HMODULE module, UINT id, MenuTemplate* out) {
  return LoadMenuTemplate(ResourceTable::FromModule(module), id, out);
}
bool LoadMenuBarRecord(HMODULE module, UINT id, MenuBarRecord* out) {
  return LoadMenuBarRecord(ResourceTable::FromModule(module), id, out);
}
bool LoadDialogTemplate(HMODULE module, UINT id, DialogTemplate* out) {
  return LoadDialogTemplate(ResourceTable::FromModule(module), id, out);
}
bool LoadBitmapImage(HMODULE module, UINT id, ResourceImage* out) {
  return LoadBitmapImage(ResourceTable::FromModule(module), id, out);
}
bool LoadIconImage(HMODULE module, UINT id, ResourceImage* out) {
  return LoadIconImage(ResourceTable::FromModule(module), id, out);
}
bool QueryVersion(HMODULE module, VersionRecord* out) {
  return QueryVersion(ResourceTable::FromModule(module), out);
}

}  // namespace platform

int LoadString(HMODULE module, UINT id, WCHAR* buffer, int bufferMax) {
  if (!buffer || bufferMax < 0 || id > 0xFFFF) return 0;
  const platform::ResourceTable table = platform::ResourceTable::FromModule(module);
  std::span<const std::uint8_t> data;
  if (!table.Find(RT_STRING, static_cast<WORD>(id), &data) || data.size() % 2) {
    if (bufferMax > 0) buffer[0] = 0;
    return 0;
  }
  const int length = static_cast<int>(data.size() / 2);
  if (bufferMax == 0) {
    // The caller gets the read-only text itself. Payloads are 4-byte aligned in tables
    // the compiler writes, so the pointer is suitably aligned for 16-bit units.
    *reinterpret_cast<const WCHAR**>(buffer) = reinterpret_cast<const WCHAR*>(data.data());
    return length;
  }
  const int copied = length < bufferMax - 1 ? length : bufferMax - 1;
  platform::ResourceReader r(data);
  for (int i = 0; i < copied; ++i) buffer[i] = r.U16();
  buffer[copied] = 0;
  return copied;
}
