#include "mm1_config.h"

#include <string>

#include "platform/registry.h"
#include "transport/wsp_session.h"
#include "transport/wtp.h"

namespace transport {

namespace detail {

bool ReadMm1Value(const char16_t* name, DWORD* type, std::vector<BYTE>* data) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kMm1Key, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG e = RegQueryValueEx(key, name, nullptr, type, nullptr, &size);
  if (e == ERROR_SUCCESS) {
    data->assign(size, 0);
    e = RegQueryValueEx(key, name, nullptr, type, data->data(), &size);
    data->resize(size);
  }
  RegCloseKey(key);
  return e == ERROR_SUCCESS;
}

}  // namespace detail

int ReadWtpMaxRetryTimes() {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!detail::ReadMm1Value(u"WTPMaxRetryTimes", &type, &data)) return 8;
  if (type == REG_DWORD && data.size() == 4) return data[0];
  if (type == REG_SZ) {
    // Decimal digits, optionally surrounded by blanks; anything else is not a number.
    std::u16string text(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
    while (!text.empty() && text.back() == 0) text.pop_back();
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    std::uint32_t value = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && digits < 9) {
      value = value * 10 + static_cast<std::uint32_t>(text[i] - u'0');
      ++i;
      ++digits;
    }
    while (i < text.size() && text[i] == u' ') ++i;
    if (digits > 0 && i == text.size()) return static_cast<int>(value & 0xFF);
  }
  return 8;
}

std::uint32_t ReadSendAndRecvTimeOut() {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!detail::ReadMm1Value(u"SendAndRecvTimeOut", &type, &data)) return 5000;
  if (type != REG_DWORD || data.size() != 4) return 5000;
  const std::uint32_t v = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
                          (static_cast<std::uint32_t>(data[2]) << 16) |
                          (static_cast<std::uint32_t>(data[3]) << 24);
  return v == 0xFFFFFFFFu ? 5000 : v;
}

WspHeaderList LoadWspHeaderList() {
  WspHeaderList list;
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, detail::kWspHeaderKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return list;
  for (DWORD index = 0; list.size() < kMaxWspHeaders; ++index) {
    char16_t name[256];
    DWORD nameLength = 256;
    DWORD type = 0;
    DWORD size = 0;
    LONG e = RegEnumValue(key, index, name, &nameLength, nullptr, &type, nullptr, &size);
    if (e != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    std::vector<BYTE> data(size + 2, 0);
    nameLength = 256;
    e = RegEnumValue(key, index, name, &nameLength, nullptr, &type, data.data(), &size);
    if (e != ERROR_SUCCESS) break;
    // Names and values are protocol texts: carried as the low octets of their characters.
    std::string headerName;
    for (DWORD i = 0; i < nameLength && headerName.size() < kWspHeaderNameMax; ++i)
      headerName.push_back(static_cast<char>(name[i] & 0xFF));
    std::string text;
    const auto* chars = reinterpret_cast<const char16_t*>(data.data());
    for (std::size_t i = 0; i < size / 2 && chars[i] != 0 && text.size() < kWspHeaderDataMax; ++i)
      text.push_back(static_cast<char>(chars[i] & 0xFF));
    std::size_t start = 0;
    while (start <= text.size() && list.size() < kMaxWspHeaders) {
      std::size_t end = text.find(';', start);
      if (end == std::string::npos) end = text.size();
      if (end > start)
        list.push_back(
            {headerName, text.substr(start, std::min<std::size_t>(end - start, kWspHeaderValueMax))});
      start = end + 1;
    }
  }
  RegCloseKey(key);
  return list;
}

}  // namespace transport
