#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "presentation/smil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  presentation::MessageDocument document;
  for (const char16_t* name : {u"a.jpg", u"b.txt", u"c.amr", u"d.3gp"}) {
    auto item = std::make_unique<presentation::MediaItem>();
    item->fileName = name;
    item->kind = presentation::KindFromFileName(name);
    item->contentId = std::u16string(u"<") + name + u">";
    document.AppendMedia(std::move(item));
  }
  if (presentation::ReadSmilText(std::string_view(reinterpret_cast<const char*>(data), size), document)) {
    (void)presentation::SmilText(document);
  }
  return 0;
}
