#pragma once
/// The settings screens' decisions without their screens: what the general settings page
/// shows for the stored values and what it stores back, which profile-list commands are
/// enabled, and the checks a message centre profile passes before it is saved.

#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "transport/mm1_engine.h"

namespace ui {

/// The stored values the general settings page shows and changes.
struct GeneralSettings {
  bool saveSentMessage = true;
  DWORD sendDelayedNotifyResp = 0;
  DWORD sort = 3;
  DWORD sendDefault = 0;
  DWORD tryDefault = 0;
  std::u16string connectionVia;
};

/// The page's controls: two boxes and four lists with their selected entries (-1: none).
struct GeneralSettingsPage {
  bool saveSentBox = false;
  bool receiveNowBox = false;
  int sortEntry = 0;
  std::vector<std::u16string> sizeEntries;
  int sizeEntry = -1;
  std::vector<std::u16string> attemptEntries;
  int attemptEntry = 0;
  std::vector<std::u16string> networkEntries;
  int networkEntry = -1;
};

inline constexpr int kSortEntries = 4;
inline constexpr int kMaxAttempts = 5;
/// Kilobyte suffix of the size entries.
inline constexpr UINT kStrKilobyteSuffix = 1069;

/// Fills the page: sort entry "Sort" - 1; one size entry per send limit ("%d" of the limit
/// divided by 1024, then `kilobyteSuffix`), the one equal to "SendDefault" selected; the
/// attempts 1-5 with "TryDefault" - 1 selected (0 when below); the destinations with the one
/// equal to "ConnectionVia" ignoring case selected; the boxes from "SaveSentMessage" and
/// "SendDelayedNotifyResp" (receive at once when 0).
GeneralSettingsPage FillGeneralSettings(const GeneralSettings& values, const std::vector<DWORD>& sendLimits,
                                        const std::vector<std::u16string>& destinations,
                                        std::u16string_view kilobyteSuffix);

/// The values saved from the page. "SendDefault" is the number of the size entry times
/// 1024; with no size entry selected the stored limit is kept (`current`). "TryDefault" is
/// at least 1. An unselected network list saves the empty text.
GeneralSettings SaveGeneralSettings(const GeneralSettingsPage& page, const GeneralSettings& current);

/// Select and delete are offered only for a selected row that is not the active profile.
bool ProfileCanBeSelectedOrDeleted(int rowCount, int selectedProfile, int activeProfile);

/// A new profile starts from the active one with its name, gateway and URL emptied.
transport::Mm1Profile NewProfileFrom(const transport::Mm1Profile& active);

/// Longest texts of the profile editor's edits.
inline constexpr int kProfileNameLimit = 25;
inline constexpr int kProfileUrlLimit = 63;
inline constexpr int kProfileGatewayLimit = 63;
/// The gateway port every saved profile gets.
inline constexpr std::uint32_t kProfileGatewayPort = 9201;

inline constexpr int kProfileProxyLimit = 63;

/// The check that fails first, as the string to show: 40123 empty name, 40125 a name that
/// another stored profile has (compared exactly), 109 a URL that does not contain
/// `urlPrefix` or is nothing else, 110 a gateway without "." (an HTTP profile may leave the
/// gateway empty), 116 an HTTP profile's proxy that is neither empty (direct) nor host:port
/// (a WAP gateway profile's proxy is not looked at); 0 when all pass.
UINT CheckProfile(std::u16string_view name, std::u16string_view url, std::u16string_view gateway,
                  const std::vector<std::u16string>& otherNames, std::u16string_view urlPrefix,
                  transport::Mm1Transport transport = transport::Mm1Transport::Wsp,
                  std::u16string_view proxy = {});

/// Puts the edited texts into the working copy (in the system code page).
void StoreProfileTexts(std::u16string_view name, std::u16string_view url, std::u16string_view gateway,
                       transport::Mm1Profile* profile);
/// Puts the chosen transport into the working copy, and the proxy text when the transport
/// is HTTP; a WAP gateway profile keeps its stored proxy.
void StoreProfileTransport(transport::Mm1Transport transport, std::u16string_view proxy,
                           transport::Mm1Profile* profile);

}  // namespace ui
