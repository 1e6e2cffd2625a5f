#include "settings/settings_rules.h"

#include <string>

#include "contacts/contacts_session.h"
#include "platform/text.h"
#include "sendpage/ids.h"
#include "transport/http_session.h"

namespace ui {

namespace {

std::u16string Number(unsigned long v) {
  std::u16string out;
  for (char c : std::to_string(v)) out.push_back(static_cast<char16_t>(c));
  return out;
}

/// The leading decimal number of `text`, -1 when it does not start with a digit.
long long LeadingNumber(std::u16string_view text) {
  long long v = -1;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    v = (v < 0 ? 0 : v) * 10 + (c - u'0');
    if (v > 0xFFFFFFFFll) return -1;
  }
  return v;
}

}  // namespace

GeneralSettingsPage FillGeneralSettings(const GeneralSettings& values, const std::vector<DWORD>& sendLimits,
                                        const std::vector<std::u16string>& destinations,
                                        std::u16string_view kilobyteSuffix) {
  GeneralSettingsPage page;
  page.sortEntry = values.sort >= 1 && values.sort <= kSortEntries ? static_cast<int>(values.sort) - 1 : 2;
  for (std::size_t i = 0; i < sendLimits.size(); ++i) {
    page.sizeEntries.push_back(Number(sendLimits[i] / 1024) + std::u16string(kilobyteSuffix));
    if (page.sizeEntry < 0 && sendLimits[i] == values.sendDefault) page.sizeEntry = static_cast<int>(i);
  }
  for (int i = 1; i <= kMaxAttempts; ++i) page.attemptEntries.push_back(Number(static_cast<unsigned long>(i)));
  int attempt = static_cast<int>(values.tryDefault > kMaxAttempts ? kMaxAttempts : values.tryDefault) - 1;
  page.attemptEntry = attempt < 0 ? 0 : attempt;
  page.networkEntries = destinations;
  for (std::size_t i = 0; i < destinations.size(); ++i) {
    if (EqualsIgnoreCase(destinations[i], values.connectionVia)) {
      page.networkEntry = static_cast<int>(i);
      break;
    }
  }
  page.saveSentBox = values.saveSentMessage;
  page.receiveNowBox = values.sendDelayedNotifyResp == 0;
  return page;
}

GeneralSettings SaveGeneralSettings(const GeneralSettingsPage& page, const GeneralSettings& current) {
  GeneralSettings out = current;
  out.saveSentMessage = page.saveSentBox;
  out.sendDelayedNotifyResp = page.receiveNowBox ? 0 : 1;
  out.sort = page.sortEntry >= 0 && page.sortEntry < kSortEntries ? static_cast<DWORD>(page.sortEntry) + 1 : 3;
  if (page.sizeEntry >= 0 && static_cast<std::size_t>(page.sizeEntry) < page.sizeEntries.size()) {
    // The entry's number; its suffix is not part of it.
    long long kb = LeadingNumber(page.sizeEntries[static_cast<std::size_t>(page.sizeEntry)]);
    if (kb >= 0 && kb <= 0xFFFFFFFFll / 1024) out.sendDefault = static_cast<DWORD>(kb * 1024);
  }
  long long tries = -1;
  if (page.attemptEntry >= 0 && static_cast<std::size_t>(page.attemptEntry) < page.attemptEntries.size())
    tries = LeadingNumber(page.attemptEntries[static_cast<std::size_t>(page.attemptEntry)]);
  out.tryDefault = tries < 1 ? 1 : static_cast<DWORD>(tries);
  out.connectionVia =
      page.networkEntry >= 0 && static_cast<std::size_t>(page.networkEntry) < page.networkEntries.size()
          ? page.networkEntries[static_cast<std::size_t>(page.networkEntry)]
          : std::u16string();
  return out;
}

bool ProfileCanBeSelectedOrDeleted(int rowCount, int selectedProfile, int activeProfile) {
  return rowCount > 0 && selectedProfile >= 1 && selectedProfile != activeProfile;
}

transport::Mm1Profile NewProfileFrom(const transport::Mm1Profile& active) {
  transport::Mm1Profile p = active;
  p.name.Assign("");
  p.gateway.Assign("");
  p.mmscUri.Assign("");
  return p;
}

UINT CheckProfile(std::u16string_view name, std::u16string_view url, std::u16string_view gateway,
                  const std::vector<std::u16string>& otherNames, std::u16string_view urlPrefix,
                  transport::Mm1Transport transport, std::u16string_view proxy) {
  if (name.empty()) return ids::kStrNeedName;
  for (const std::u16string& other : otherNames)
    if (other == name) return ids::kStrNameTaken;
  if (url.find(urlPrefix) == std::u16string_view::npos || url == urlPrefix) return ids::kStrNeedUrl;
  bool gatewayOptional = transport == transport::Mm1Transport::Http && gateway.empty();
  if (!gatewayOptional && gateway.find(u'.') == std::u16string_view::npos) return ids::kStrNeedGateway;
  // Only HTTP goes through a proxy: a WAP gateway profile's field is not looked at.
  // Anything outside ASCII turns into '?' in the code page, which the proxy check refuses.
  if (transport == transport::Mm1Transport::Http && !proxy.empty() && (proxy.size() > static_cast<std::size_t>(kProfileProxyLimit) ||
                         !transport::ParseProxy(platform::WideToAnsi(proxy), nullptr, nullptr)))
    return ids::kStrBadProxy;
  return 0;
}

void StoreProfileTexts(std::u16string_view name, std::u16string_view url, std::u16string_view gateway,
                       transport::Mm1Profile* profile) {
  profile->name.Assign(platform::WideToAnsi(name));
  profile->mmscUri.Assign(platform::WideToAnsi(url));
  profile->gateway.Assign(platform::WideToAnsi(gateway));
}

void StoreProfileTransport(transport::Mm1Transport transport, std::u16string_view proxy,
                           transport::Mm1Profile* profile) {
  profile->transport = transport;
  // A WAP gateway profile keeps the proxy it had, for when it goes back to HTTP.
  if (transport == transport::Mm1Transport::Http) profile->proxy.Assign(platform::WideToAnsi(proxy));
}

}  // namespace ui
