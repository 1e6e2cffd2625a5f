// The list of MMSC profiles in the registry: an index record in the mm1 key, values "1".."n"
// naming the subkeys, one subkey per profile with a random decimal name.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/registry.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "transport/mm1_engine.h"

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

namespace transport {
namespace {

class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool Open(HKEY parent, const std::u16string& path) {
    return RegOpenKeyEx(parent, path.c_str(), 0, KEY_ALL_ACCESS, &h_) == ERROR_SUCCESS;
  }
  // Returns the disposition through *created.
  bool Create(HKEY parent, const std::u16string& path, bool* created = nullptr) {
    DWORD disposition = 0;
    if (RegCreateKeyEx(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                       &h_, &disposition) != ERROR_SUCCESS)
      return false;
    if (created) *created = disposition == REG_CREATED_NEW_KEY;
    return true;
  }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

bool ReadDword(HKEY key, const char16_t* name, std::uint32_t* out) {
  DWORD value = 0;
  if (!config::reg::QueryDword(key, name, &value)) return false;
  *out = value;
  return true;
}

bool WriteDword(HKEY key, const char16_t* name, std::uint32_t value) {
  return config::reg::SetDwordValue(key, name, value);
}

bool ReadString(HKEY key, const char16_t* name, std::u16string* out) {
  return config::reg::QueryString(key, name, out);
}

bool WriteString(HKEY key, const char16_t* name, const std::u16string& text) {
  return config::reg::SetStringValue(key, name, text);
}

constexpr char kUnusableProxy[] = "-";

std::u16string Wide(std::string_view s) {
  return Utf8ToUtf16(s);
}
std::u16string IndexName(int i) {
  return Wide(std::to_string(i));
}

ProfileIndex ReadIndex(HKEY mm1) {
  ProfileIndex index;
  std::uint32_t def = 0;
  std::uint32_t total = 0;
  if (ReadDword(mm1, u"DefaultSetting", &def) && ReadDword(mm1, u"TotalSettings", &total)) {
    index.defaultSetting = static_cast<std::uint8_t>(def);
    index.totalSettings = static_cast<std::uint8_t>(total);
    index.mark = 'w';
  }
  return index;
}

bool WriteIndex(HKEY mm1, const ProfileIndex& index) {
  return WriteDword(mm1, u"DefaultSetting", index.defaultSetting) &&
         WriteDword(mm1, u"TotalSettings", index.totalSettings);
}

// The transport and the proxy sit beside the four original values, so a profile written
// before they existed reads as a gateway profile.
bool WriteProfileValues(HKEY key, const Mm1Profile& p) {
  return WriteString(key, u"Name", Wide(p.name.view())) &&
         WriteString(key, u"Gateway", Wide(p.gateway.view())) &&
         WriteString(key, u"MmscURI", Wide(p.mmscUri.view())) &&
         WriteDword(key, u"GatewayPort", p.gatewayPort) &&
         WriteDword(key, u"Transport", static_cast<std::uint32_t>(p.transport)) &&
         WriteString(key, u"Proxy", Wide(p.proxy.view()));
}

void ReadTransportValues(HKEY key, Mm1Profile* p) {
  std::uint32_t transport = 0;
  p->transport = ReadDword(key, u"Transport", &transport) && transport == static_cast<std::uint32_t>(Mm1Transport::Http)
                     ? Mm1Transport::Http
                     : Mm1Transport::Wsp;
  std::u16string proxy;
  // A proxy too long for the field is not cut (a cut "host:8080" could read as "host:80"): it
  // becomes one that never parses, so transfers are refused rather than sent elsewhere.
  if (ReadString(key, u"Proxy", &proxy) && !p->proxy.Assign(Utf16ToUtf8(proxy))) p->proxy.Assign(kUnusableProxy);
}

std::uint32_t RandomBelow(std::uint32_t n) {
  static thread_local std::mt19937 random{std::random_device{}()};
  return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
}

}  // namespace

static bool LoadProfile(int index, Mm1Profile* out, int mode, bool withLimits);

ProfileIndex Mm1ReadProfileIndex() {
  Key mm1;
  if (!mm1.Open(HKEY_LOCAL_MACHINE, kMm1ProfileKey)) return {};
  return ReadIndex(mm1.get());
}

int Mm1DefaultProfileIndex() {
  const ProfileIndex index = Mm1ReadProfileIndex();
  return index.valid() ? index.defaultSetting : 0;
}

int Mm1ProfileCount() {
  const ProfileIndex index = Mm1ReadProfileIndex();
  return index.valid() ? index.totalSettings : 0;
}

bool Mm1LoadProfile(int index, Mm1Profile* out, int mode) {
  return LoadProfile(index, out, mode, true);
}

bool Mm1ReadProfileEntry(int index, Mm1Profile* out) {
  return LoadProfile(index, out, kLoadByIndex, false);
}

static bool LoadProfile(int index, Mm1Profile* out, int mode, bool withLimits) {
  if (!out) return false;
  Key mm1;
  if (!mm1.Open(HKEY_LOCAL_MACHINE, kMm1ProfileKey)) return false;
  const ProfileIndex record = ReadIndex(mm1.get());
  if (!record.valid()) return false;
  if (mode == kLoadDefault) index = record.defaultSetting;
  if (index < 1 || index > record.totalSettings) return false;
  std::u16string subkeyName;
  if (!ReadString(mm1.get(), IndexName(index).c_str(), &subkeyName) || subkeyName.empty()) return false;
  Key sub;
  if (!sub.Open(mm1.get(), subkeyName)) return false;

  Mm1Profile p;
  std::u16string name, gateway, uri;
  if (!ReadString(sub.get(), u"Name", &name) || !ReadString(sub.get(), u"Gateway", &gateway) ||
      !ReadString(sub.get(), u"MmscURI", &uri) || !ReadDword(sub.get(), u"GatewayPort", &p.gatewayPort))
    return false;
  p.name.Assign(Utf16ToUtf8(name));
  p.gateway.Assign(Utf16ToUtf8(gateway));
  p.mmscUri.Assign(Utf16ToUtf8(uri));
  ReadTransportValues(sub.get(), &p);

  std::uint32_t delayed = 0;
  p.notifyRespAfterRetrieval =
      ReadDword(mm1.get(), u"SendDelayedNotifyResp", &delayed) ? (delayed == 0 ? 1 : 0) : 1;

  if (!withLimits) {
    *out = p;
    return true;
  }
  Key sizes, tries;
  if (!sizes.Open(HKEY_LOCAL_MACHINE, kSizeLimitKey) || !tries.Open(HKEY_LOCAL_MACHINE, kTryLimitKey))
    return false;
  if (!ReadDword(sizes.get(), u"SendDefault", &p.sendLimit) ||
      !ReadDword(sizes.get(), u"RecvDefault", &p.recvLimit) ||
      !ReadDword(tries.get(), u"TryDefault", &p.tryCount))
    return false;
  *out = p;
  return true;
}

int Mm1AddProfile(const Mm1Profile& profile, bool makeDefault) {
  Key mm1;
  if (!mm1.Create(HKEY_LOCAL_MACHINE, kMm1ProfileKey)) return -1;
  ProfileIndex index = ReadIndex(mm1.get());
  if (!index.valid()) index = ProfileIndex{1, 0, 'w'};
  if (index.defaultSetting == 0) index.defaultSetting = 1;
  // The count is an octet in the record; a 256th profile would wrap it to 0.
  if (index.totalSettings == 0xFF) return -1;
  const std::uint8_t newIndex = static_cast<std::uint8_t>(index.totalSettings + 1);
  if (makeDefault) index.defaultSetting = newIndex;

  std::u16string subkeyName;
  Key sub;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 100000) return -1;
    subkeyName = Wide(std::to_string(RandomBelow(100000)));
    bool created = false;
    Key candidate;
    if (!candidate.Create(mm1.get(), subkeyName, &created)) return -1;
    if (created) break;
  }
  if (!sub.Open(mm1.get(), subkeyName)) {
    RegDeleteKey(mm1.get(), subkeyName.c_str());
    return -1;
  }
  if (!WriteProfileValues(sub.get(), profile) ||
      !WriteString(mm1.get(), IndexName(newIndex).c_str(), subkeyName)) {
    RegDeleteKey(mm1.get(), subkeyName.c_str());
    return -1;
  }
  index.totalSettings = newIndex;
  if (!WriteIndex(mm1.get(), index)) return -1;
  RegFlushKey(mm1.get());
  return newIndex;
}

int Mm1UpdateProfile(int index, const Mm1Profile& profile, bool makeDefault) {
  Key mm1;
  if (!mm1.Open(HKEY_LOCAL_MACHINE, kMm1ProfileKey)) return -1;
  ProfileIndex record = ReadIndex(mm1.get());
  if (!record.valid() || index < 1 || index > record.totalSettings) return -1;
  if (makeDefault) record.defaultSetting = static_cast<std::uint8_t>(index);
  std::u16string subkeyName;
  if (!ReadString(mm1.get(), IndexName(index).c_str(), &subkeyName) || subkeyName.empty()) return -1;
  Key sub;
  if (!sub.Open(mm1.get(), subkeyName)) return -1;
  if (!WriteProfileValues(sub.get(), profile)) return -1;
  if (!WriteIndex(mm1.get(), record)) return -1;
  RegFlushKey(mm1.get());
  return record.totalSettings;
}

int Mm1DeleteProfile(int index) {
  Key mm1;
  if (!mm1.Open(HKEY_LOCAL_MACHINE, kMm1ProfileKey)) return -1;
  ProfileIndex record = ReadIndex(mm1.get());
  const int n = record.totalSettings;
  if (!record.valid() || index < 1 || index > n) return -1;
  record.totalSettings = static_cast<std::uint8_t>(n - 1);
  if (index == record.defaultSetting)
    record.defaultSetting = record.totalSettings > 0 ? 1 : 0;
  else if (index < record.defaultSetting)
    record.defaultSetting = static_cast<std::uint8_t>(record.defaultSetting - 1);

  std::u16string subkeyName;
  if (ReadString(mm1.get(), IndexName(index).c_str(), &subkeyName) && !subkeyName.empty())
    RegDeleteKey(mm1.get(), subkeyName.c_str());
  for (int i = index; i < n; ++i) {
    std::u16string next;
    if (!ReadString(mm1.get(), IndexName(i + 1).c_str(), &next)) next.clear();
    if (!WriteString(mm1.get(), IndexName(i).c_str(), next)) return -1;
  }
  RegDeleteValue(mm1.get(), IndexName(n).c_str());
  if (!WriteIndex(mm1.get(), record)) return -1;
  RegFlushKey(mm1.get());
  return record.totalSettings;
}

}  // namespace transport
