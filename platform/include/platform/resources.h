#pragma once
/// Resources of a module: string tables, menus and their soft-key bar records, dialog
/// templates, bitmaps, icons and the version record.
///
/// A module carries its resources as one read-only table, exported under the data symbol
/// `kResourceTableSymbol` and produced at build time by the resource compiler (tools/rc).
/// Table layout (all integers little-endian, no padding):
///
///   header   16 bytes: magic "TRES", u16 format (1), u16 0, u32 total size, u32 entry count
///   entries  12 bytes each, sorted by (type, id), no duplicates:
///            u16 type, u16 id, u32 payload offset from the table start, u32 payload size
///
/// Payloads by type (a "text" is u16 length in units followed by that many UTF-16 units):
///   RT_STRING     UTF-16 units of the string, no terminator
///   RT_MENU       item list: u16 count, then per item u16 flags, u16 id, text, and for an
///                 item with MF_POPUP its own item list right after it
///   RT_RCDATA     raw octets; the soft-key bar record of a menu (`SHMENUBAR` in a script)
///                 is stored here under the menu's id as u16 words: menu id, button count,
///                 then 7 words per button: image, command, state, style, label string id,
///                 0, popup index (NOMENU when the button is a plain command)
///   RT_DIALOG     u32 style, u32 exStyle, i16 x, y, cx, cy, u16 point size, text face,
///                 text caption, u16 control count, then per control: text class, u16 id,
///                 u32 style, u32 exStyle, i16 x, y, cx, cy, text, u16 ordinal (the icon id of
///                 an icon control, else 0)
///   RT_BITMAP,
///   RT_GROUP_ICON PNG file
///   RT_VERSION    u16[4] file version, u16[4] product version, u16 pair count, then text
///                 key, text value per pair
///
/// Coordinates of dialog templates are pixels of a 176-pixel-wide screen.
///
/// Every function below takes the module handle that LoadLibrary returned (or a raw
/// table, for tools and tests) and validates what it reads: a damaged table yields
/// "not found", never a read outside it.

#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/types.h"

inline constexpr WORD RT_BITMAP = 2;
inline constexpr WORD RT_MENU = 4;
inline constexpr WORD RT_DIALOG = 5;
inline constexpr WORD RT_STRING = 6;
inline constexpr WORD RT_RCDATA = 10;
inline constexpr WORD RT_GROUP_ICON = 14;
inline constexpr WORD RT_VERSION = 16;

inline constexpr UINT MF_GRAYED = 0x0001;
inline constexpr UINT MF_DISABLED = 0x0002;
inline constexpr UINT MF_CHECKED = 0x0008;
inline constexpr UINT MF_POPUP = 0x0010;
inline constexpr UINT MF_SEPARATOR = 0x0800;

inline constexpr WORD I_IMAGENONE = 0xFFFE;  // -2 as a 16-bit word
inline constexpr WORD NOMENU = 0xFFFF;
inline constexpr WORD TBSTATE_ENABLED = 0x04;
inline constexpr WORD TBSTYLE_BUTTON = 0x00;
inline constexpr WORD TBSTYLE_DROPDOWN = 0x08;
inline constexpr WORD TBSTYLE_AUTOSIZE = 0x10;

/// Like the phone OS call: copies string `id` into `buffer` (at most bufferMax − 1
/// characters, then a NUL) and returns the characters copied, 0 when absent. With
/// bufferMax 0, `buffer` receives a pointer to the read-only text (not terminated) and
/// the text's full length is returned.
int LoadString(HMODULE module, UINT id, WCHAR* buffer, int bufferMax);

namespace platform {

inline constexpr const char* kResourceTableSymbol = "TesseraResourceTable";
inline constexpr std::uint32_t kResourceTableMagic = 0x53455254;  // "TRES"
inline constexpr WORD kResourceFormat = 1;
inline constexpr std::size_t kResourceHeaderSize = 16;
inline constexpr std::size_t kResourceEntrySize = 12;
/// Nesting limit of popup menus; deeper menus are rejected as damaged.
inline constexpr int kMaxMenuDepth = 8;
/// Largest bitmap or icon the loader decodes (either side, in pixels).
inline constexpr int kMaxImageSide = 2048;

/// The bytes of the data symbol `name` that a shared object (64-bit little-endian ELF)
/// exports, read from the file's own sections without loading it, so no code of the file
/// runs. False when the file is not such an object or the symbol is missing, undefined,
/// without contents or outside the file.
bool ReadExportedData(std::span<const std::uint8_t> file, const char* name, std::vector<std::uint8_t>* out);

struct ResourceEntry {
  WORD type = 0;
  WORD id = 0;
  std::span<const std::uint8_t> data;
};

/// A checked view of one resource table. Default-constructed or failed views are empty.
class ResourceTable {
 public:
  ResourceTable() = default;
  /// Validates the header and the directory (bounds, order, no duplicates). A table that
  /// fails any check gives an empty view.
  static ResourceTable FromBytes(const void* data, std::size_t size);
  /// The table exported by a module, or an empty view.
  static ResourceTable FromModule(HMODULE module);
  /// The table inside a module file read as plain data (see ReadExportedData); `storage`
  /// receives the bytes the view points into.
  static ResourceTable FromModuleFile(std::span<const std::uint8_t> file, std::vector<std::uint8_t>* storage);

  bool valid() const { return !bytes_.empty(); }
  std::size_t size() const { return count_; }
  ResourceEntry At(std::size_t index) const;
  /// The payload of (type, id); false when absent.
  bool Find(WORD type, WORD id, std::span<const std::uint8_t>* data) const;

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t count_ = 0;
};

struct MenuItem {
  UINT flags = 0;
  UINT id = 0;
  std::u16string text;
  std::vector<MenuItem> items;  // filled for MF_POPUP items
};

struct MenuTemplate {
  std::vector<MenuItem> items;
};

struct MenuBarButton {
  WORD image = I_IMAGENONE;
  WORD command = 0;
  WORD state = 0;
  WORD style = 0;
  WORD labelId = 0;
  WORD popupIndex = NOMENU;  // index into the top-level items of the menu
};

struct MenuBarRecord {
  WORD menuId = 0;
  std::vector<MenuBarButton> buttons;
};

struct DialogControl {
  std::u16string className;  // "STATIC", "EDIT", "BUTTON", "LISTBOX", "msctls_updown32", ...
  WORD id = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::u16string text;
  WORD ordinal = 0;  // icon id of an icon control
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  WORD pointSize = 0;
  std::u16string face;
  std::u16string caption;
  std::vector<DialogControl> controls;
};

/// A decoded bitmap or icon: top-down rows of 0xAARRGGBB pixels (not premultiplied).
struct ResourceImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

struct VersionRecord {
  WORD fileVersion[4] = {0, 0, 0, 0};
  WORD productVersion[4] = {0, 0, 0, 0};
  std::vector<std::pair<std::u16string, std::u16string>> values;
  /// "a.b.c.d" of the file version.
  std::u16string FileVersionText() const;
};

// Payload parsers; each returns false for a damaged payload and may leave `out` partly filled.
bool ParseMenu(std::span<const std::uint8_t> data, MenuTemplate* out);
bool ParseMenuBar(std::span<const std::uint8_t> data, MenuBarRecord* out);
bool ParseDialog(std::span<const std::uint8_t> data, DialogTemplate* out);
bool ParseVersion(std::span<const std::uint8_t> data, VersionRecord* out);
/// Decodes a PNG payload; false for anything that is not a PNG within kMaxImageSide.
bool DecodeImage(std::span<const std::uint8_t> data, ResourceImage* out);

// Lookups on a table; each returns false when the resource is absent or damaged.
bool LoadStringText(const ResourceTable& table, UINT id, std::u16string* out);
bool LoadMenuTemplate(const ResourceTable& table, UINT id, MenuTemplate* out);
bool LoadMenuBarRecord(const ResourceTable& table, UINT id, MenuBarRecord* out);
bool LoadDialogTemplate(const ResourceTable& table, UINT id, DialogTemplate* out);
bool LoadBitmapImage(const ResourceTable& table, UINT id, ResourceImage* out);
bool LoadIconImage(const ResourceTable& table, UINT id, ResourceImage* out);
bool QueryVersion(const ResourceTable& table, VersionRecord* out);

// The same lookups on a module handle.
bool LoadMenuTemplate(HMODULE module, UINT id, MenuTemplate* out);
bool LoadMenuBarRecord(HMODULE module, UINT id, MenuBarRecord* out);
bool LoadDialogTemplate(HMODULE module, UINT id, DialogTemplate* out);
bool LoadBitmapImage(HMODULE module, UINT id, ResourceImage* out);
bool LoadIconImage(HMODULE module, UINT id, ResourceImage* out);
bool QueryVersion(HMODULE module, VersionRecord* out);

/// Builds a table; used by the resource compiler and by tests.
class ResourceTableWriter {
 public:
  /// Adds a resource; false when (type, id) is already present.
  bool Add(WORD type, WORD id, std::vector<std::uint8_t> payload);
  std::vector<std::uint8_t> Finish() const;

  static std::vector<std::uint8_t> EncodeMenu(const MenuTemplate& menu);
  static std::vector<std::uint8_t> EncodeMenuBar(const MenuBarRecord& bar);
  static std::vector<std::uint8_t> EncodeDialog(const DialogTemplate& dialog);
  static std::vector<std::uint8_t> EncodeVersion(const VersionRecord& version);
  static std::vector<std::uint8_t> EncodeString(std::u16string_view text);

 private:
  struct Item {
    WORD type;
    WORD id;
    std::vector<std::uint8_t> payload;
  };
  std::vector<Item> items_;
  std::set<std::uint32_t> keys_;  // (type << 16) | id of every item
};

}  // namespace platform
