// wrendump LIBRARY: prints every resource of a resource library, one resource per line
// (dialog controls and menu items indented below their resource). The file is read as
// data, never loaded, so nothing in it runs; a bare name is looked for in the current
// folder, then in the program directory:
//   string ID TEXT
//   menu ID [bar: key ..., key ...]      then its items
//   dialog ID XxY+WxH "caption" font PT "FACE"   then its controls
//   icon ID WxH / bitmap ID WxH / version A.B.C.D
// Texts are printed with \n, \t, \\ and \" escaped so that each resource stays on its line.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "toolargs/toolargs.h"

namespace {

std::string Quote(const std::u16string& text) {
  std::string out = "\"";
  for (char c : platform::Utf16ToUtf8(text)) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

void PrintItems(const std::vector<platform::MenuItem>& items, int depth) {
  for (const platform::MenuItem& item : items) {
    std::printf("%*s", 2 + depth * 2, "");
    if (item.flags & MF_SEPARATOR) {
      std::printf("separator\n");
    } else if (item.flags & MF_POPUP) {
      std::printf("popup %s\n", Quote(item.text).c_str());
      PrintItems(item.items, depth + 1);
    } else {
      std::printf("item %u %s%s\n", item.id, Quote(item.text).c_str(),
                  (item.flags & MF_GRAYED) ? " grayed" : "");
    }
  }
}

void PrintMenu(const platform::ResourceTable& table, WORD id) {
  platform::MenuTemplate menu;
  platform::MenuBarRecord bar;
  const bool hasMenu = platform::LoadMenuTemplate(table, id, &menu);
  const bool hasBar = platform::LoadMenuBarRecord(table, id, &bar);
  std::printf("menu %u", id);
  if (!hasMenu) std::printf(" (damaged)");
  if (hasBar) {
    std::printf(" bar:");
    for (std::size_t i = 0; i < bar.buttons.size(); ++i) {
      const platform::MenuBarButton& b = bar.buttons[i];
      std::u16string label;
      platform::LoadStringText(table, b.labelId, &label);
      std::printf("%s %s %u label %u %s", i ? "," : "", i == 0 ? "left" : "right", b.command, b.labelId,
                  Quote(label).c_str());
      if (b.popupIndex != NOMENU) std::printf(" popup %u", b.popupIndex);
    }
  }
  std::printf("\n");
  if (hasMenu) PrintItems(menu.items, 0);
}

void PrintDialog(const platform::ResourceTable& table, WORD id) {
  platform::DialogTemplate d;
  if (!platform::LoadDialogTemplate(table, id, &d)) {
    std::printf("dialog %u (damaged)\n", id);
    return;
  }
  std::printf("dialog %u %d,%d %dx%d %s font %u %s, %zu controls\n", id, d.x, d.y, d.cx, d.cy,
              Quote(d.caption).c_str(), d.pointSize, Quote(d.face).c_str(), d.controls.size());
  for (const platform::DialogControl& c : d.controls) {
    std::printf("  control %d %s %d,%d %dx%d style 0x%08X", c.id == 0xFFFF ? -1 : c.id,
                platform::Utf16ToUtf8(c.className).c_str(), c.x, c.y, c.cx, c.cy, c.style);
    if (c.ordinal) std::printf(" icon %u", c.ordinal);
    if (!c.text.empty()) std::printf(" %s", Quote(c.text).c_str());
    std::printf("\n");
  }
}

void PrintImage(const char* kind, const platform::ResourceEntry& e) {
  platform::ResourceImage image;
  if (platform::DecodeImage(e.data, &image))
    std::printf("%s %u %dx%d\n", kind, e.id, image.width, image.height);
  else
    std::printf("%s %u (damaged)\n", kind, e.id);
}

void PrintUsage(std::FILE* to) {
  std::fputs(
      "usage: wrendump LIBRARY\n"
      "  prints every resource of a resource library such as Wren.dll; a name without a\n"
      "  folder is looked for in the current folder, then beside wrendump\n",
      to);
}

// A path with a folder is taken as it is; a bare name comes from the current folder
// first, then from the program directory.
std::string Locate(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  if (platform::FileExists(platform::Utf8ToUtf16(name))) return name;
  std::string beside = platform::Utf16ToUtf8(platform::JoinPath(platform::ProgramDirectory(), platform::Utf8ToUtf16(name)));
  return platform::FileExists(platform::Utf8ToUtf16(beside)) ? beside : name;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "wrendump", &PrintUsage); rc >= 0) return rc;
  if (argc != 2 || argv[1][0] == '-') {
    PrintUsage(stderr);
    return 2;
  }
  const std::string path = Locate(argv[1]);
  std::string file;
  if (!platform::ReadFile(platform::Utf8ToUtf16(path), file)) {
    std::fprintf(stderr, "wrendump: cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<std::uint8_t> storage;
  const platform::ResourceTable table = platform::ResourceTable::FromModuleFile(
      {reinterpret_cast<const std::uint8_t*>(file.data()), file.size()}, &storage);
  if (!table.valid()) {
    std::fprintf(stderr, "wrendump: %s has no valid resource table\n", path.c_str());
    return 1;
  }
  for (std::size_t i = 0; i < table.size(); ++i) {
    const platform::ResourceEntry e = table.At(i);
    switch (e.type) {
      case RT_STRING: {
        std::u16string text;
        platform::LoadStringText(table, e.id, &text);
        std::printf("string %u %s\n", e.id, Quote(text).c_str());
        break;
      }
      case RT_MENU:
        PrintMenu(table, e.id);
        break;
      case RT_DIALOG:
        PrintDialog(table, e.id);
        break;
      case RT_BITMAP:
        PrintImage("bitmap", e);
        break;
      case RT_GROUP_ICON:
        PrintImage("icon", e);
        break;
      case RT_VERSION: {
        platform::VersionRecord v;
        if (platform::ParseVersion(e.data, &v)) {
          std::printf("version %s\n", platform::Utf16ToUtf8(v.FileVersionText()).c_str());
          for (const auto& [key, value] : v.values)
            std::printf("  %s %s\n", platform::Utf16ToUtf8(key).c_str(), Quote(value).c_str());
        } else {
          std::printf("version (damaged)\n");
        }
        break;
      }
      case RT_RCDATA: {
        // Soft-key bars are shown with their menus; other data only by size.
        platform::MenuTemplate menu;
        if (!platform::LoadMenuTemplate(table, e.id, &menu))
          std::printf("data %u %zu bytes\n", e.id, e.data.size());
        break;
      }
      default:
        std::printf("resource type %u id %u %zu bytes\n", e.type, e.id, e.data.size());
        break;
    }
  }
  return 0;
}
