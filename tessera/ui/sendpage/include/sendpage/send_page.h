#pragma once
/// The send page, the contact picker and the sending options dialog. Each runs modally
/// from its template in the resource library and keeps its decisions in the rules of
/// send_rules.h, contact_picker_model.h and page_pictures.h.

#include <string>

#include "contacts/contacts_session.h"
#include "platform/window.h"
#include "sendpage/address_list.h"
#include "store/message_store.h"
#include "ui/resource_library.h"

namespace ui {

/// What the screens need from the program: the resource library, the contacts, and the
/// settings the page reads.
struct SendPageContext {
  const ResourceLibrary* resources = nullptr;
  ContactsSession* contacts = nullptr;
  /// The picker's own SIM phonebook is opened from this path (the device's when empty).
  std::u16string simPath;
  /// "DefaultResolution": 0 160x120, 1 320x240, 2 640x480, 3 pictures as they are.
  int defaultResolution = 3;
  /// "AlphaTagDispTxt": shown instead of the addresses of a message sent by the own name.
  std::u16string alphaTagDisplayText;
  /// The send size limit of the active message centre profile in bytes; 0 reads it from
  /// the default profile.
  std::uint32_t sendLimit = 0;
};

/// The sending options (dialog 152): shows `options` and `*resolution`, and on Done stores
/// the chosen values in `options`; a changed resolution is written back and posted to
/// `page` as message 2030. With `fixedResolution` the resolution list shows "as they are"
/// and cannot be changed. 1 on Done, 0 when cancelled.
int RunSendingOptions(const SendPageContext& context, HWND owner, store::SendOptionsRecord* options,
                      int* resolution, bool fixedResolution);

/// The contact picker (dialog 102) for addresses of `kind`; true with `*chosen` filled when
/// the user picked a row.
bool RunContactPicker(const SendPageContext& context, HWND owner, AddressKind kind, ContactEntry* chosen);

/// The send page (dialog 145) for `message`, whose document is open. 1 when the user sent
/// (recipients, subject and date are then stored in the message), else 0. `changed` is set
/// when the message was saved on the page. With `directSend` the pictures are left alone.
int RunSendPage(const SendPageContext& context, store::MessageEntry* message, HWND owner, bool* changed,
                bool directSend);

}  // namespace ui
