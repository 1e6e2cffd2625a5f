#include "folders/folder_rules.h"

#include <string>

#include "folders/folder_ids.h"
#include "sendpage/address_list.h"

namespace folders {
namespace {

using store::FolderId;

// Entries each folder has no use for.
struct FolderRemoval {
  FolderId folder;
  std::vector<UINT> ids;
};
const FolderRemoval kRemovedByFolder[] = {
    {FolderId::Inbox, {kCmdSend}},
    {FolderId::Outbox, {kCmdDownload, kCmdReply, kCmdReplyAll, kCmdForward}},
    {FolderId::Draft, {kCmdDownload, kCmdReply, kCmdReplyAll, kCmdForward}},
    {FolderId::Sent, {kCmdSend, kCmdDownload}},
};

// Entries disabled for the selected message, by what it is and how its transfer stands.
const std::vector<UINT> kDisabledForNotification = {kCmdForward, kCmdSend, kCmdReply, kCmdOpen, kCmdReplyAll,
                                                    kCmdContents};
const std::vector<UINT> kDisabledForMessage = {kCmdDownload};
const std::vector<UINT> kDisabledWhileBusy = {kCmdDownload};
const std::vector<UINT> kDisabledInProgress = {kCmdForward, kCmdSend,       kCmdReply,
                                               kCmdReplyAll, kCmdProperties, kCmdContents};

void Append(std::vector<UINT>& to, const std::vector<UINT>& more) { to.insert(to.end(), more.begin(), more.end()); }

// The display form of one address, with the contact's or the SIM entry's name.
std::u16string Displayed(const std::u16string& address, ui::ContactsSession* contacts, ui::SimPhonebook* sim) {
  const ui::AddressKind kind = ui::KindOfAddress(address);
  std::u16string shown = ui::DisplayAddress(contacts, kind, address);
  if (shown != address || !sim || kind != ui::AddressKind::Phone) return shown;
  const std::vector<ui::ContactEntry> entries = sim->Entries();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    if (!it->name.empty() && ui::PhoneNumbersMatch(address, it->number)) return it->name + u"(" + address + u")";
  return shown;
}

std::u16string Trimmed(const std::u16string& text) {
  const std::size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string::npos) return {};
  return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

}  // namespace

std::u16string Number(long value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

int SortOrderFor(FolderId folder, int sortSetting) {
  if (folder != FolderId::Inbox && sortSetting == store::kSortFrom) return store::kSortTo;
  if (folder == FolderId::Inbox && sortSetting == store::kSortTo) return store::kSortFrom;
  return sortSetting;
}

bool TransferBusy(std::uint32_t stateFlags) { return (stateFlags & kTransferBusyBits) != 0; }

int IconFor(std::uint32_t messageType, std::uint32_t stateFlags) {
  if (messageType == store::kTypeNotification || (stateFlags & store::kStateNotFetched)) return kIconNotification;
  if (stateFlags & store::kStateQueued) return kIconQueued;
  if (stateFlags & store::kStateInProgress) return kIconInProgress;
  if (stateFlags & store::kStateFailed) return kIconFailed;
  if (stateFlags & store::kStateWaitRetry) return kIconWaitRetry;
  if (!(stateFlags & store::kStateRead)) return kIconUnread;
  return kIconRead;
}

LeftKey LeftKeyFor(std::uint32_t messageType, std::uint32_t stateFlags) {
  if (messageType == store::kTypeNotification) return {kCmdDownload, kStrDownload, !TransferBusy(stateFlags)};
  return {kCmdOpen, kStrOpen, true};
}

MenuChanges MenuChangesFor(FolderId folder, bool hasSelection, std::uint32_t messageType, std::uint32_t stateFlags) {
  MenuChanges changes;
  for (const FolderRemoval& rule : kRemovedByFolder)
    if (rule.folder == folder) Append(changes.removed, rule.ids);
  if (!hasSelection) return changes;
  Append(changes.disabled, messageType == store::kTypeNotification ? kDisabledForNotification : kDisabledForMessage);
  if (TransferBusy(stateFlags)) Append(changes.disabled, kDisabledWhileBusy);
  if (stateFlags & store::kStateInProgress) Append(changes.disabled, kDisabledInProgress);
  return changes;
}

std::u16string TitleFor(FolderId folder, const std::u16string& name, int unread, int rows) {
  if (folder == FolderId::Inbox) {
    if (unread > 0 || rows > 0) return name + u"(" + Number(unread) + u"/" + Number(rows) + u")";
    return name;
  }
  return rows > 0 ? name + u"(" + Number(rows) + u")" : name;
}

std::u16string AddressLine(FolderId folder, const store::MessageSummary& summary, ui::ContactsSession* contacts,
                           ui::SimPhonebook* sim, const std::u16string& alphaTagText, const std::u16string& empty) {
  const std::u16string& addresses = folder == FolderId::Inbox ? summary.From() : summary.To();
  if ((summary.ExtraFlags() & store::kExtraAlphaTag) && !addresses.empty() && !alphaTagText.empty())
    return alphaTagText;
  std::u16string line;
  std::size_t start = 0;
  while (start <= addresses.size()) {
    std::size_t end = addresses.find(u';', start);
    if (end == std::u16string::npos) end = addresses.size();
    const std::u16string address = Trimmed(addresses.substr(start, end - start));
    if (!address.empty()) {
      if (!line.empty()) line += u";";
      line += Displayed(address, contacts, sim);
    }
    start = end + 1;
  }
  return line.empty() ? empty : line;
}

}  // namespace folders
