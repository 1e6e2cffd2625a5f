// Resource tables from arbitrary octets: validation and every payload parser must hold.
#include <cstdint>

#include "platform/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::ResourceTable table = platform::ResourceTable::FromBytes(data, size);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const platform::ResourceEntry e = table.At(i);
    switch (e.type) {
      case RT_MENU: {
        platform::MenuTemplate menu;
        platform::ParseMenu(e.data, &menu);
        break;
      }
      case RT_RCDATA: {
        platform::MenuBarRecord bar;
        platform::ParseMenuBar(e.data, &bar);
        break;
      }
      case RT_DIALOG: {
        platform::DialogTemplate dialog;
        platform::ParseDialog(e.data, &dialog);
        break;
      }
      case RT_VERSION: {
        platform::VersionRecord version;
        platform::ParseVersion(e.data, &version);
        break;
      }
      case RT_BITMAP:
      case RT_GROUP_ICON: {
        platform::ResourceImage image;
        platform::DecodeImage(e.data, &image);
        break;
      }
      case RT_STRING: {
        std::u16string text;
        platform::LoadStringText(table, e.id, &text);
        break;
      }
      default:
        break;
    }
  }
  return 0;
}
