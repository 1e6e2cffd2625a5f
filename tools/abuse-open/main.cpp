// abuse-open: opens stored messages on the headless screen, the way a user meets them, and
// presses keys on each: the viewer (playing, slide jumps, its menu) and the contents screen
// (moving through the parts, their information dialogs) and the folder view's details dialog
// (address, subject, size, date and presentation length). The virtual clock runs, so a whole
// presentation plays in moments. Whatever a key opens is closed again before the next screen.
//
//   abuse-open [--keys "K1 K2 ..."] [--contents-keys "..."] [--describe] [--no-details] ID...
//
// Keys are the test driver's names; "+N" lets N milliseconds pass on the virtual clock.
// --describe prints each screen's description once its keys have been pressed; the details
// dialog is always described (between "details ID" and "end details ID"), so that a caller
// sees what it showed.
//
// Prints "open ID" before a message and "done ID" after it (flushed), so a caller that sees
// the program die knows which message did it. Exit 0 when every message was opened and every
// screen closed again; 1 when a message could not be checked out; 3 when a screen would not
// close; 4 when the resources or the store cannot be opened.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "audio/clip_player.h"
#include "config/config.h"
#include "contacts/contacts_session.h"
#include "contents/contents_screen.h"
#include "folders/details_dialog.h"
#include "folders/folder_ids.h"
#include "platform/paths.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform/window.h"
#include "store/message_store.h"
#include "toolargs/toolargs.h"
#include "ui/common/app_context.h"
#include "ui/resource_library.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_dialog.h"

namespace {

namespace td = platform::testdriver;

constexpr UINT kMsgStep = WM_USER + 77;
/// How many times the closing step presses Back and Cancel before it gives up on a screen.
constexpr int kCloseAttempts = 60;

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: abuse-open [--keys \"K1 K2 ...\"] [--contents-keys \"...\"] [--describe] [--no-details] "
               "ID...\n");
}

/// One scripted action: a key, a wait on the virtual clock, or a description of the screen.
struct Action {
  UINT key = 0;
  DWORD advanceMs = 0;
};

std::vector<Action> ParseScript(const std::string& text) {
  std::vector<Action> out;
  std::istringstream in(text);
  for (std::string word; in >> word;) {
    if (word.rfind("+", 0) == 0) {
      out.push_back({0, static_cast<DWORD>(std::strtoul(word.c_str() + 1, nullptr, 10))});
    } else if (UINT vk = td::KeyFromName(word)) {
      out.push_back({vk, 0});
    } else {
      std::fprintf(stderr, "abuse-open: unknown key %s\n", word.c_str());
    }
  }
  return out;
}

/// A hidden top-level window that owns the screens and runs the script, one step per posted
/// message, so that the steps go on inside whatever modal loop a key opened.
class Host {
 public:
  Host() {
    WNDCLASS wc{};
    wc.lpfnWndProc = &Host::Proc;
    wc.lpszClassName = u"AbuseOpenHost";
    RegisterClass(&wc);
    hwnd = CreateWindowEx(0, u"AbuseOpenHost", u"abuse-open", WS_VISIBLE, 0, 0, 176, 180, nullptr, nullptr, nullptr,
                          nullptr);
    SetWindowLong(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Host() { DestroyWindow(hwnd); }

  /// Runs `open` (which enters the screen's modal loop) with the script going on inside it;
  /// false when the screen did not close after the script.
  bool Run(const std::vector<Action>& script, const std::function<void()>& open, bool describeThis = false) {
    describeThis_ = describeThis;
    script_ = script;
    next_ = 0;
    closing_ = 0;
    running_ = true;
    PostMessage(hwnd, kMsgStep, 0, 0);
    open();
    running_ = false;
    // Steps still queued belong to this screen.
    td::RunUntilIdle();
    return !gaveUp_;
  }
  HWND hwnd = nullptr;
  /// Prints the screen's description once the script has run.
  bool describe = false;

 private:
  void Step() {
    if (!running_) return;
    if (next_ < script_.size()) {
      const Action a = script_[next_++];
      if (a.key) {
        // The key is handled by whichever loop runs next; if it opens a modal loop, that loop
        // carries the script on. The empty step lets it settle before any wait.
        td::PressKey(a.key);
        script_.insert(script_.begin() + static_cast<std::ptrdiff_t>(next_), Action{});
      }
      if (a.advanceMs) td::RunFor(a.advanceMs);
      PostMessage(hwnd, kMsgStep, 0, 0);
      return;
    }
    // Closing: cancel whatever is in front until the screen's loop has returned.
    if (closing_ == 0 && (describe || describeThis_)) std::printf("%s\n", td::DescribeScreen().c_str());
    HWND front = GetForegroundWindow();
    if (front == hwnd || front == nullptr) {
      // The screen is not in front (yet, or any more): the active window gets the cancel.
      front = GetActiveWindow();
      if (front == hwnd || front == nullptr) {
        PostMessage(hwnd, kMsgStep, 0, 0);
        if (++closing_ > kCloseAttempts * 4) {
          std::fprintf(stderr, "abuse-open: no screen in front to close:\n%s\n", td::DescribeScreen().c_str());
          std::fflush(stderr);
          std::_Exit(3);
        }
        return;
      }
    }
    if (++closing_ > kCloseAttempts) {
      gaveUp_ = true;
      std::fprintf(stderr, "abuse-open: a screen does not close:\n%s\n", td::DescribeScreen().c_str());
      std::fflush(stderr);
      std::_Exit(3);
    }
    // No waiting here: a wait dispatches messages, and the loop being closed must get back
    // control to see that it is done.
    PostMessage(front, WM_COMMAND, IDCANCEL, 0);
    if (closing_ % 2 == 0) td::PressKey(td::KeyFromName("Back"));
    PostMessage(hwnd, kMsgStep, 0, 0);
  }
  static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<Host*>(GetWindowLong(h, GWL_USERDATA));
    if (self && m == kMsgStep) {
      self->Step();
      return 0;
    }
    return DefWindowProc(h, m, w, l);
  }

  std::vector<Action> script_;
  std::size_t next_ = 0;
  int closing_ = 0;
  bool running_ = false;
  bool gaveUp_ = false;
  bool describeThis_ = false;
};

std::u16string WithSeparator(std::u16string folder) {
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "abuse-open", &PrintUsage); rc >= 0) return rc;
  // Plays through the virtual clock into no sound device.
  ::setenv("TESSERA_AUDIO", "null", 0);
  td::Enable();
  std::string viewerKeys = "+500 Right +300 Right +300 Left SoftLeft +2000 SoftLeft +200 SoftRight +200 Down Enter +300";
  std::string contentsKeys = "+200 Down Down Enter +300 Back Down SoftRight +200 Down Enter +300 Up Up";
  std::vector<std::uint32_t> ids;
  bool describeScreens = false;
  bool details = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--keys" && i + 1 < argc) {
      viewerKeys = argv[++i];
    } else if (a == "--no-details") {
      details = false;
    } else if (a == "--describe") {
      describeScreens = true;
    } else if (a == "--contents-keys" && i + 1 < argc) {
      contentsKeys = argv[++i];
    } else {
      char* end = nullptr;
      const unsigned long id = std::strtoul(a.c_str(), &end, 10);
      if (a.empty() || *end || id == 0 || id > 0xFFFFFFFFul) {
        PrintUsage(stderr);
        return 2;
      }
      ids.push_back(static_cast<std::uint32_t>(id));
    }
  }
  if (ids.empty()) {
    PrintUsage(stderr);
    return 2;
  }

  ui::ResourceLibrary resources;
  if (!resources.Load(platform::JoinPath(platform::ProgramDirectory(), u"Wren.dll"))) {
    std::fprintf(stderr, "abuse-open: cannot load Wren.dll beside the program\n");
    return 4;
  }
  const config::Config config;
  // The details dialog reaches the resources (its menu bar, the date's format) through the
  // program's context.
  ui::Context().resources = &resources;
  // Its addresses are looked up in the contacts, as in the program; without them it goes on.
  ui::ContactsSession contacts;
  if (contacts.Open()) ui::Context().contacts = &contacts;
  store::MessageStore messageStore;
  Host host;
  host.describe = describeScreens;
  messageStore.SetFrameWindow(host.hwnd);
  if (!messageStore.Open(config.GetUAContentsPath(true))) {
    std::fprintf(stderr, "abuse-open: cannot open the message store\n");
    return 4;
  }
  audio::AudioClipLoader audio(u"", nullptr);
  viewer::ViewerContext ctx;
  ctx.resources = &resources;
  ctx.audio = &audio;
  ctx.video = &viewer::VideoPlayback::Get();
  ctx.picturePath = WithSeparator(config.GetPicturePath(true));
  ctx.soundPath = WithSeparator(config.GetSoundPath(true));
  ctx.videoPath = WithSeparator(config.GetVideoPath(true));
  ctx.unknownPath = WithSeparator(config.GetUnknownPath(true));

  const std::vector<Action> viewerScript = ParseScript(viewerKeys);
  const std::vector<Action> contentsScript = ParseScript(contentsKeys);
  const std::vector<Action> detailsScript = ParseScript("+100 Down Down Up");
  int rc = 0;
  for (std::uint32_t id : ids) {
    std::printf("open %u\n", id);
    std::fflush(stdout);
    store::MessageFolder* folder = nullptr;
    store::MessageEntry* entry = nullptr;
    store::FolderId where = store::FolderId::Inbox;
    for (store::FolderId f : {store::FolderId::Inbox, store::FolderId::Sent, store::FolderId::Draft,
                              store::FolderId::Outbox}) {
      folder = messageStore.Folder(f);
      where = f;
      if (folder && (entry = folder->CheckOut(id)) != nullptr) break;
    }
    if (!entry) {
      std::printf("missing %u\n", id);
      rc = 1;
      continue;
    }
    host.Run(viewerScript, [&] { viewer::RunViewer(host.hwnd, entry, ctx); });
    host.Run(contentsScript, [&] { viewer::RunContentsList(host.hwnd, entry, ctx); });
    if (details) {
      std::printf("details %u\n", id);
      host.Run(
          detailsScript,
          [&] {
            folders::DetailsDialog dialog(where, entry);
            dialog.DoModal(resources.module(), folders::kDialogDetails, host.hwnd);
          },
          true);
      std::printf("end details %u\n", id);
    }
    folder->Release(entry);
    std::printf("done %u\n", id);
    std::fflush(stdout);
  }
  ui::Context().contacts = nullptr;
  ui::Context().resources = nullptr;
  return rc;
}
