// Connection manager over an always-connected host, the own number and the network error
// display.
#include "platform/connmgr.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace {

struct Destination {
  GUID guid;
  std::u16string description;
};

// FNV-1a over the name's code units, spread over the GUID's sixteen octets, so a name that
// is not itself a GUID still gives the same GUID on every call.
GUID GuidFromName(std::u16string_view name) {
  GUID g{};
  std::uint64_t h1 = 1469598103934665603ull, h2 = 1099511628211ull;
  for (char16_t c : name) {
    h1 = (h1 ^ c) * 1099511628211ull;
    h2 = (h2 ^ (c + 0x9E37u)) * 1469598103934665603ull;
  }
  g.Data1 = static_cast<std::uint32_t>(h1);
  g.Data2 = static_cast<std::uint16_t>(h1 >> 32);
  g.Data3 = static_cast<std::uint16_t>(h1 >> 48);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(h2 >> (8 * i));
  return g;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
bool ParseGuid(std::u16string_view text, GUID* out) {
  if (text.size() != 38 || text[0] != u'{' || text[37] != u'}') return false;
  std::uint8_t octets[16];
  int n = 0;
  for (std::size_t i = 1; i < 37;) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i] != u'-') return false;
      ++i;
      continue;
    }
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0 || n >= 16) return false;
    octets[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  if (n != 16) return false;
  out->Data1 = (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) |
               (std::uint32_t{octets[2]} << 8) | octets[3];
  out->Data2 = static_cast<std::uint16_t>((octets[4] << 8) | octets[5]);
  out->Data3 = static_cast<std::uint16_t>((octets[6] << 8) | octets[7]);
  std::memcpy(out->Data4, octets + 8, 8);
  return true;
}

std::vector<Destination> ReadDestinations() {
  std::vector<Destination> list;
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kConnMgrDestinationsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    for (const char16_t* name : {u"The Internet", u"WAP Network"}) list.push_back({GuidFromName(name), name});
    return list;
  }
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD nameLength = 256;
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValue(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    std::vector<BYTE> data(size + 2, 0);
    nameLength = 256;
    if (RegEnumValue(key, index, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    std::u16string valueName(name, nameLength);
    std::u16string description;
    const auto* chars = reinterpret_cast<const char16_t*>(data.data());
    for (std::size_t i = 0; i < size / 2 && chars[i] != 0; ++i) description.push_back(chars[i]);
    Destination d;
    if (!ParseGuid(valueName, &d.guid)) d.guid = GuidFromName(valueName);
    d.description = description.empty() ? valueName : description;
    list.push_back(std::move(d));
  }
  RegCloseKey(key);
  return list;
}

// Open connections: the event handle handed out and the status it reports.
std::mutex g_lock;
std::unordered_map<HANDLE, DWORD>& Connections() {
  static auto* map = new std::unordered_map<HANDLE, DWORD>();
  return *map;
}

}  // namespace

HRESULT ConnMgrEnumDestinations(int index, CONNMGR_DESTINATION_INFO* info) {
  if (!info || index < 0) return E_INVALIDARG;
  std::vector<Destination> list = ReadDestinations();
  if (static_cast<std::size_t>(index) >= list.size()) return E_FAIL;
  const Destination& d = list[static_cast<std::size_t>(index)];
  info->guid = d.guid;
  std::size_t n = std::min(d.description.size(), CONNMGR_MAX_DESC - 1);
  std::memcpy(info->szDescription, d.description.data(), n * sizeof(WCHAR));
  info->szDescription[n] = 0;
  return S_OK;
}

HRESULT ConnMgrEstablishConnection(const CONNMGR_CONNECTIONINFO* info, HANDLE* connection) {
  if (!info || !connection) return E_INVALIDARG;
  *connection = nullptr;
  if ((info->dwParams & CONNMGR_PARAM_GUIDDESTNET) != 0) {
    bool known = false;
    for (const Destination& d : ReadDestinations()) known = known || d.guid == info->guidDestNet;
    if (!known) return E_INVALIDARG;
  }
  // Auto-reset: a watcher sees each change once.
  HANDLE event = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  if (!event) return E_OUTOFMEMORY;
  std::lock_guard<std::mutex> guard(g_lock);
  Connections()[event] = CONNMGR_STATUS_CONNECTED;
  *connection = event;
  return S_OK;
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
  if (!status) return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(g_lock);
  auto it = Connections().find(connection);
  if (it == Connections().end()) return E_INVALIDARG;
  *status = it->second;
  return S_OK;
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG /*cache*/) {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (Connections().erase(connection) == 0) return E_INVALIDARG;
  }
  CloseHandle(connection);
  return S_OK;
}

HRESULT SmsGetPhoneNumber(SMS_ADDRESS* address) {
  if (!address) return E_INVALIDARG;
  address->smsatAddressType = SMSAT_UNKNOWN;
  address->ptsAddress[0] = 0;
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kPhoneKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return E_FAIL;
  DWORD size = 0;
  DWORD type = 0;
  LONG e = RegQueryValueEx(key, u"OwnNumber", nullptr, &type, nullptr, &size);
  std::vector<BYTE> data(size + sizeof(WCHAR), 0);
  if (e == ERROR_SUCCESS && type == REG_SZ) e = RegQueryValueEx(key, u"OwnNumber", nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  if (e != ERROR_SUCCESS || type != REG_SZ) return E_FAIL;
  // A longer value is cut to the address's room.
  std::size_t n = 0;
  const auto* chars = reinterpret_cast<const char16_t*>(data.data());
  while (n < size / 2 && n < SMS_MAX_ADDRESS_LENGTH - 1 && chars[n] != 0) {
    address->ptsAddress[n] = chars[n];
    ++n;
  }
  address->ptsAddress[n] = 0;
  if (n == 0) return E_FAIL;
  address->smsatAddressType = address->ptsAddress[0] == u'+' ? SMSAT_INTERNATIONAL : SMSAT_UNKNOWN;
  return S_OK;
}

BOOL ShellExecuteEx(SHELLEXECUTEINFO* info) {
  if (!info || !info->lpFile) return FALSE;
  if (std::u16string_view(info->lpFile) != u":MSREMNET") return FALSE;
  std::string parameters = info->lpParameters ? platform::Utf16ToUtf8(info->lpParameters) : std::string();
  std::fprintf(stderr, "network error: %s\n", parameters.c_str());
  return TRUE;
}
