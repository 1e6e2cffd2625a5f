#include <algorithm>
#include <cstring>

#include "platform/resources.h"
#include "resources/resource_reader.h"

namespace platform {

ResourceTable ResourceTable::FromBytes(const void* data, std::size_t size) {
  if (!data || size < kResourceHeaderSize) return {};
  const auto* base = static_cast<const std::uint8_t*>(data);
  ResourceReader header({base, kResourceHeaderSize});
  const std::uint32_t magic = header.U32();
  const WORD format = header.U16();
  header.U16();
  const std::uint32_t total = header.U32();
  const std::uint32_t count = header.U32();
  if (magic != kResourceTableMagic || format != kResourceFormat) return {};
  if (total < kResourceHeaderSize || total > size) return {};
  if (count > (total - kResourceHeaderSize) / kResourceEntrySize) return {};

  ResourceTable table;
  table.bytes_ = {base, total};
  table.count_ = count;
  // The directory is checked once here, so lookups can trust offsets and order.
  const std::size_t dirEnd = kResourceHeaderSize + count * kResourceEntrySize;
  std::uint32_t previousKey = 0;
  for (std::size_t i = 0; i < count; ++i) {
    ResourceReader entry(
        table.bytes_.subspan(kResourceHeaderSize + i * kResourceEntrySize, kResourceEntrySize));
    const WORD type = entry.U16();
    const WORD id = entry.U16();
    const std::uint32_t offset = entry.U32();
    const std::uint32_t length = entry.U32();
    const std::uint32_t key = (std::uint32_t{type} << 16) | id;
    if (i > 0 && key <= previousKey) return {};
    previousKey = key;
    if (offset < dirEnd || offset > total || length > total - offset) return {};
  }
  return table;
}

ResourceEntry ResourceTable::At(std::size_t index) const {
  if (index >= count_) return {};
  ResourceReader entry(bytes_.subspan(kResourceHeaderSize + index * kResourceEntrySize, kResourceEntrySize));
  ResourceEntry out;
  out.type = entry.U16();
  out.id = entry.U16();
  const std::uint32_t offset = entry.U32();
  const std::uint32_t length = entry.U32();
  out.data = bytes_.subspan(offset, length);
  return out;
}

bool ResourceTable::Find(WORD type, WORD id, std::span<const std::uint8_t>* data) const {
  const std::uint32_t key = (std::uint32_t{type} << 16) | id;
  std::size_t lo = 0;
  std::size_t hi = count_;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const ResourceEntry e = At(mid);
    const std::uint32_t k = (std::uint32_t{e.type} << 16) | e.id;
    if (k == key) {
      if (data) *data = e.data;
      return true;
    }
    if (k < key)
      lo = mid + 1;
    else
      hi = mid;
  }
  return false;
}

namespace {

bool ParseItems(ResourceReader& r, int depth, std::vector<MenuItem>* out) {
  if (depth > kMaxMenuDepth) return false;
  const WORD count = r.U16();
  if (r.failed()) return false;
  for (WORD i = 0; i < count; ++i) {
    MenuItem item;
    item.flags = r.U16();
    item.id = r.U16();
    item.text = r.Text();
    if (r.failed()) return false;
    if (item.flags & MF_POPUP) {
      if (!ParseItems(r, depth + 1, &item.items)) return false;
    }
    out->push_back(std::move(item));
  }
  return !r.failed();
}

void EncodeItems(ResourceWriter& w, const std::vector<MenuItem>& items) {
  w.U16(static_cast<WORD>(items.size()));
  for (const MenuItem& item : items) {
    w.U16(static_cast<WORD>(item.flags));
    w.U16(static_cast<WORD>(item.id));
    w.Text(item.text);
    if (item.flags & MF_POPUP) EncodeItems(w, item.items);
  }
}

}  // namespace

bool ParseMenu(std::span<const std::uint8_t> data, MenuTemplate* out) {
  ResourceReader r(data);
  out->items.clear();
  return ParseItems(r, 0, &out->items) && r.AtEnd();
}

bool ParseMenuBar(std::span<const std::uint8_t> data, MenuBarRecord* out) {
  ResourceReader r(data);
  out->menuId = r.U16();
  const WORD count = r.U16();
  if (r.failed() || count > 2) return false;
  out->buttons.clear();
  for (WORD i = 0; i < count; ++i) {
    MenuBarButton b;
    b.image = r.U16();
    b.command = r.U16();
    b.state = r.U16();
    b.style = r.U16();
    b.labelId = r.U16();
    r.U16();
    b.popupIndex = r.U16();
    out->buttons.push_back(b);
  }
  return !r.failed() && r.AtEnd();
}

bool ParseDialog(std::span<const std::uint8_t> data, DialogTemplate* out) {
  ResourceReader r(data);
  out->style = r.U32();
  out->exStyle = r.U32();
  out->x = r.I16();
  out->y = r.I16();
  out->cx = r.I16();
  out->cy = r.I16();
  out->pointSize = r.U16();
  out->face = r.Text();
  out->caption = r.Text();
  const WORD count = r.U16();
  if (r.failed()) return false;
  out->controls.clear();
  for (WORD i = 0; i < count; ++i) {
    DialogControl c;
    c.className = r.Text();
    c.id = r.U16();
    c.style = r.U32();
    c.exStyle = r.U32();
    c.x = r.I16();
    c.y = r.I16();
    c.cx = r.I16();
    c.cy = r.I16();
    c.text = r.Text();
    c.ordinal = r.U16();
    if (r.failed()) return false;
    out->controls.push_back(std::move(c));
  }
  return r.AtEnd();
}

bool ParseVersion(std::span<const std::uint8_t> data, VersionRecord* out) {
  ResourceReader r(data);
  for (WORD& v : out->fileVersion) v = r.U16();
  for (WORD& v : out->productVersion) v = r.U16();
  const WORD count = r.U16();
  if (r.failed()) return false;
  out->values.clear();
  for (WORD i = 0; i < count; ++i) {
    std::u16string key = r.Text();
    std::u16string value = r.Text();
    if (r.failed()) return false;
    out->values.emplace_back(std::move(key), std::move(value));
  }
  return r.AtEnd();
}

std::u16string VersionRecord::FileVersionText() const {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i) text += '.';
    text += std::to_string(fileVersion[i]);
  }
  return std::u16string(text.begin(), text.end());
}

bool LoadStringText(const ResourceTable& table, UINT id, std::u16string* out) {
  std::span<const std::uint8_t> data;
  if (id > 0xFFFF || !table.Find(RT_STRING, static_cast<WORD>(id), &data)) return false;
  if (data.size() % 2) return false;
  ResourceReader r(data);
  out->assign(data.size() / 2, u'\0');
  for (char16_t& c : *out) c = r.U16();
  return true;
}

bool LoadMenuTemplate(const ResourceTable& table, UINT id, MenuTemplate* out) {
  std::span<const std::uint8_t> data;
  return id <= 0xFFFF && table.Find(RT_MENU, static_cast<WORD>(id), &data) && ParseMenu(data, out);
}

bool LoadMenuBarRecord(const ResourceTable& table, UINT id, MenuBarRecord* out) {
  std::span<const std::uint8_t> data;
  return id <= 0xFFFF && table.Find(RT_RCDATA, static_cast<WORD>(id), &data) && ParseMenuBar(data, out);
}

bool LoadDialogTemplate(const ResourceTable& table, UINT id, DialogTemplate* out) {
  std::span<const std::uint8_t> data;
  return id <= 0xFFFF && table.Find(RT_DIALOG, static_cast<WORD>(id), &data) && ParseDialog(data, out);
}

bool LoadBitmapImage(const ResourceTable& table, UINT id, ResourceImage* out) {
  std::span<const std::uint8_t> data;
  return id <= 0xFFFF && table.Find(RT_BITMAP, static_cast<WORD>(id), &data) && DecodeImage(data, out);
}

bool LoadIconImage(const ResourceTable& table, UINT id, ResourceImage* out) {
  std::span<const std::uint8_t> data;
  return id <= 0xFFFF && table.Find(RT_GROUP_ICON, static_cast<WORD>(id), &data) && DecodeImage(data, out);
}

bool QueryVersion(const ResourceTable& table, VersionRecord* out) {
  // A module has one version record; its id is whatever the script gave it (usually 1).
  for (std::size_t i = 0; i < table.size(); ++i) {
    const ResourceEntry e = table.At(i);
    if (e.type == RT_VERSION) return ParseVersion(e.data, out);
  }
  return false;
}

bool ResourceTableWriter::Add(WORD type, WORD id, std::vector<std::uint8_t> payload) {
  if (!keys_.insert((std::uint32_t{type} << 16) | id).second) return false;
  items_.push_back({type, id, std::move(payload)});
  return true;
}

std::vector<std::uint8_t> ResourceTableWriter::Finish() const {
  std::vector<const Item*> sorted;
  for (const Item& item : items_) sorted.push_back(&item);
  std::sort(sorted.begin(), sorted.end(), [](const Item* a, const Item* b) {
    return a->type != b->type ? a->type < b->type : a->id < b->id;
  });
  ResourceWriter w;
  std::size_t offset = kResourceHeaderSize + sorted.size() * kResourceEntrySize;
  std::size_t total = offset;
  for (const Item* item : sorted) total += (item->payload.size() + 3) & ~std::size_t{3};
  w.U32(kResourceTableMagic);
  w.U16(kResourceFormat);
  w.U16(0);
  w.U32(static_cast<std::uint32_t>(total));
  w.U32(static_cast<std::uint32_t>(sorted.size()));
  for (const Item* item : sorted) {
    w.U16(item->type);
    w.U16(item->id);
    w.U32(static_cast<std::uint32_t>(offset));
    w.U32(static_cast<std::uint32_t>(item->payload.size()));
    offset += (item->payload.size() + 3) & ~std::size_t{3};
  }
  // Payloads start on 4-byte boundaries; readers do not rely on it.
  for (const Item* item : sorted) {
    w.Bytes(item->payload);
    while (w.bytes().size() % 4) w.U8(0);
  }
  return w.bytes();
}

std::vector<std::uint8_t> ResourceTableWriter::EncodeMenu(const MenuTemplate& menu) {
  ResourceWriter w;
  EncodeItems(w, menu.items);
  return w.bytes();
}

std::vector<std::uint8_t> ResourceTableWriter::EncodeMenuBar(const MenuBarRecord& bar) {
  ResourceWriter w;
  w.U16(bar.menuId);
  w.U16(static_cast<WORD>(bar.buttons.size()));
  for (const MenuBarButton& b : bar.buttons) {
    w.U16(b.image);
    w.U16(b.command);
    w.U16(b.state);
    w.U16(b.style);
    w.U16(b.labelId);
    w.U16(0);
    w.U16(b.popupIndex);
  }
  return w.bytes();
}

std::vector<std::uint8_t> ResourceTableWriter::EncodeDialog(const DialogTemplate& d) {
  ResourceWriter w;
  w.U32(d.style);
  w.U32(d.exStyle);
  w.U16(static_cast<WORD>(d.x));
  w.U16(static_cast<WORD>(d.y));
  w.U16(static_cast<WORD>(d.cx));
  w.U16(static_cast<WORD>(d.cy));
  w.U16(d.pointSize);
  w.Text(d.face);
  w.Text(d.caption);
  w.U16(static_cast<WORD>(d.controls.size()));
  for (const DialogControl& c : d.controls) {
    w.Text(c.className);
    w.U16(c.id);
    w.U32(c.style);
    w.U32(c.exStyle);
    w.U16(static_cast<WORD>(c.x));
    w.U16(static_cast<WORD>(c.y));
    w.U16(static_cast<WORD>(c.cx));
    w.U16(static_cast<WORD>(c.cy));
    w.Text(c.text);
    w.U16(c.ordinal);
  }
  return w.bytes();
}

std::vector<std::uint8_t> ResourceTableWriter::EncodeVersion(const VersionRecord& v) {
  ResourceWriter w;
  for (WORD x : v.fileVersion) w.U16(x);
  for (WORD x : v.productVersion) w.U16(x);
  w.U16(static_cast<WORD>(v.values.size()));
  for (const auto& [key, value] : v.values) {
    w.Text(key);
    w.Text(value);
  }
  return w.bytes();
}

std::vector<std::uint8_t> ResourceTableWriter::EncodeString(std::u16string_view text) {
  ResourceWriter w;
  for (char16_t c : text) w.U16(c);
  return w.bytes();
}

}  // namespace platform
