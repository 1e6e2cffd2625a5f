#pragma once
/// What the folder view shows and allows for a folder and its selected message, without a
/// window: the sort order, the row icon, the left soft key, the menu's removals and
/// disablings, the title and the address line.
#include <cstdint>
#include <string>
#include <vector>

#include "contacts/contacts_session.h"
#include "store/records.h"

namespace folders {

/// The folder's sort order code for the "Sort" setting: From means To outside the Inbox
/// and To means From inside it.
int SortOrderFor(store::FolderId folder, int sortSetting);

/// The row icon for a message's type and state.
int IconFor(std::uint32_t messageType, std::uint32_t stateFlags);

/// True when the state's transfer bits say a job for the message is queued, running or
/// waiting for a retry.
bool TransferBusy(std::uint32_t stateFlags);

struct LeftKey {
  UINT command;
  UINT label;
  bool enabled;
};
/// The left soft key for the selected message: Download for a notification (greyed while
/// its transfer is busy), Open for any other message.
LeftKey LeftKeyFor(std::uint32_t messageType, std::uint32_t stateFlags);

struct MenuChanges {
  std::vector<UINT> removed;
  std::vector<UINT> disabled;
};
/// The menu rules: entries removed in the folder, entries disabled for the selected
/// message (none selected: `hasSelection` false).
MenuChanges MenuChangesFor(store::FolderId folder, bool hasSelection, std::uint32_t messageType,
                           std::uint32_t stateFlags);

/// The view's title: the folder name, then for the Inbox "(unread/rows)" when either is
/// positive and for other folders "(rows)" when there are rows.
std::u16string TitleFor(store::FolderId folder, const std::u16string& name, int unread, int rows);

/// The address line of a message: the sender in the Inbox, the recipients elsewhere, each
/// address in its display form with the contact's name; the own-name text when the message
/// is addressed by it; `empty` when nothing is left.
std::u16string AddressLine(store::FolderId folder, const store::MessageSummary& summary,
                           ui::ContactsSession* contacts, ui::SimPhonebook* sim,
                           const std::u16string& alphaTagText, const std::u16string& empty);

/// "%d" of a number as a text.
std::u16string Number(long value);

}  // namespace folders
