// The navigation requests other screens send the main frame.
#include <cerrno>
#include <ctime>

#include "platform/dialogs.h"
#include "platform/text.h"
#include "presentation/message_document.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"
#include "ui/shell/main_frame.h"

namespace ui {
namespace {

// How a new draft is addressed from the message it comes from.
constexpr int kAddressNone = 0, kAddressSender = 1, kAddressAll = 2;

void AppendList(std::u16string& list, const std::u16string& more) {
  if (more.empty()) return;
  if (!list.empty() && list.back() != u';') list.push_back(u';');
  list += more;
}

}  // namespace

std::uint32_t MainFrame::NewEmptyDraft() {
  store::MessageFolder* draft = store_.Folder(store::FolderId::Draft);
  auto entry = store_.NewEntry();
  if (!draft || !entry) return 0;
  store::MessageSummary& s = entry->Summary();
  s.SetMessageType(store::kTypeMultimedia);
  s.SetStateFlagsNew(store::StateAfter(store::StateEvent::StoredComposed));
  s.SetExtraFlags(s.ExtraFlags() | store::kExtraComposed);
  s.SetDate(store::LocalNow());
  if (entry->Options()) entry->SaveOptions();
  const std::uint32_t id = entry->Id();
  if (!draft->Add(std::move(entry)) || !draft->Save()) {
    if (auto back = draft->Remove(id)) back->DeleteFiles();
    return 0;
  }
  return id;
}

std::uint32_t MainFrame::MakeDraftFrom(store::FolderId from, std::uint32_t id, UINT prefix, int addressing) {
  store::MessageFolder* source = store_.Folder(from);
  store::MessageFolder* draft = store_.Folder(store::FolderId::Draft);
  if (!source || !draft) return 0;
  store::MessageEntry* entry = source->CheckOut(id);
  if (!entry) return 0;
  const store::MessageSummary old = entry->Summary();
  std::uint32_t newId = 0;
  if (addressing == kAddressNone) {
    auto copy = store_.Copy(*entry);  // forwarding keeps the media
    source->Release(entry);
    if (!copy) return 0;
    newId = copy->Id();
    if (!draft->Add(std::move(copy))) return 0;
  } else {
    source->Release(entry);
    newId = NewEmptyDraft();
    if (newId == 0) return 0;
  }
  store::MessageEntry* made = draft->CheckOut(newId);
  if (!made) return 0;
  store::MessageSummary& s = made->Summary();
  s.SetSubject(LoadUiText(prefix) + old.Subject());
  std::u16string to;
  if (addressing == kAddressSender || addressing == kAddressAll) to = old.From();
  if (addressing == kAddressAll) {
    AppendList(to, old.To());
    if (!to.empty() && to.back() != u';') to.push_back(u';');
  }
  s.SetTo(to);
  s.SetFrom(u"");
  s.SetStateFlagsNew(store::StateAfter(store::StateEvent::StoredComposed));
  s.SetExtraFlags(s.ExtraFlags() | store::kExtraComposed);
  draft->Release(made);
  if (!draft->Save()) {
    if (auto back = draft->Remove(newId)) back->DeleteFiles();
    return 0;
  }
  return newId;
}

void MainFrame::DraftFailed() {
  const int error = store::LastFailure().error;
  const UINT text = error == ENOSPC || error == EDQUOT ? kStrDiskFull : kStrNotDone;
  if (Context().application) Context().application->ShowMessage(hwnd_, text, MB_ICONEXCLAMATION);
}

LRESULT MainFrame::OnNavigate(WPARAM code, LPARAM lParam) {
  const auto id = static_cast<std::uint32_t>(lParam);
  store::FolderId folder{};
  const bool found = Locate(id, &folder);
  switch (code) {
    case kNavNew: {
      composerMode_ = kOpenNew;
      store::ClearLastFailure();
      const std::uint32_t fresh = NewEmptyDraft();
      if (fresh)
        SwitchView(kViewComposer, fresh);
      else
        DraftFailed();
      return fresh;
    }
    case kNavForward: {
      if (!found) return 0;
      store::MessageEntry* entry = store_.Folder(folder)->CheckOut(id);
      const bool locked = entry && entry->HasProtectedContent();
      if (entry) store_.Folder(folder)->Release(entry);
      if (locked) {
        if (Context().application) Context().application->ShowMessage(hwnd_, kStrNotForwardable, 0);
        return 0;
      }
      store::ClearLastFailure();
      const std::uint32_t copy = MakeDraftFrom(folder, id, kStrForwardPrefix, kAddressNone);
      composerMode_ = kOpenForward;
      if (copy)
        SwitchView(kViewComposer, copy);
      else
        DraftFailed();
      return copy;
    }
    case kNavReply:
    case kNavReplyAll: {
      if (!found) return 0;
      store::ClearLastFailure();
      const std::uint32_t reply =
          MakeDraftFrom(folder, id, kStrReplyPrefix, code == kNavReply ? kAddressSender : kAddressAll);
      composerMode_ = kOpenReply;
      if (reply)
        SwitchView(kViewComposer, reply);
      else
        DraftFailed();
      return reply;
    }
    case kNavEdit: {
      if (!found) return 0;
      std::uint32_t target = id;
      if (folder == store::FolderId::Inbox || folder == store::FolderId::Sent) {
        store::MessageEntry* entry = store_.Folder(folder)->CheckOut(id);
        if (!entry) return 0;
        auto copy = store_.Copy(*entry);
        store_.Folder(folder)->Release(entry);
        if (!copy) return 0;
        copy->Summary().SetStateFlagsNew(store::StateAfter(store::StateEvent::StoredComposed));
        copy->Summary().SetExtraFlags(copy->Summary().ExtraFlags() | store::kExtraComposed);
        target = copy->Id();
        store::MessageFolder* draft = store_.Folder(store::FolderId::Draft);
        if (!draft->Add(std::move(copy)) || !draft->Save()) return 0;
      } else if (folder == store::FolderId::Outbox) {
        if (host_.Queue()) host_.Queue()->Withdraw(id);
        if (!store_.Move(id, store::FolderId::Outbox, store::FolderId::Draft)) return 0;
        store::MessageFolder* draft = store_.Folder(store::FolderId::Draft);
        if (store::MessageEntry* moved = draft->CheckOut(id)) {
          moved->Summary().SetStateFlagsNew(store::StateAfter(store::StateEvent::BackToDraft));
          draft->Release(moved);
          draft->Save();
        }
      }
      RefreshLabels();
      composerMode_ = kOpenEdit;
      SwitchView(kViewComposer, target);
      return target;
    }
    case kNavSend:
    case kNavRetrieve:
    case kNavNotifyResponse:
    case kNavCancel:
    case kNavCancelToo: {
      LRESULT result = 0;
      host_.HandleMessage(hwnd_, kMsgNavigate, code, lParam, &result);
      RefreshLabels();
      NotifyFolderView();
      return result;
    }
    case kNavOpenDraft:
      if (!found || folder != store::FolderId::Draft) return 0;
      composerMode_ = kOpenHandOver;
      SwitchView(kViewComposer, id);
      return id;
    default:
      return 0;
  }
}

}  // namespace ui
