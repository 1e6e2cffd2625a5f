#include <cstddef>
#include <cstdint>
#include <string_view>

#include "presentation/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  presentation::XmlDocument xml;
  if (!xml.Load(std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
  for (std::uint32_t i = 1; i < xml.nodeCount(); ++i) {
    (void)xml.ElementName(i);
    (void)xml.Attribute(i, "src");
    (void)xml.Content(i);
  }
  while (xml.FindChildElement()) {
    if (!xml.IntoElement()) break;
  }
  while (xml.OutOfElement()) {
  }
  return 0;
}
