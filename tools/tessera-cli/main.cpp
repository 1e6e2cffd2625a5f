// tessera-cli: the store and the transfer engine of the main program without a screen, for
// scripts and tests. It runs the platform's message loop on a hidden main window of the
// main program's class, so a running `tessera` and a running tessera-cli of one device root
// exclude each other.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <csignal>

#include "engine/push_listener.h"
#include "engine/window_push.h"
#include "engine/transfer_host.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window.h"
#include "contacts/contacts_session.h"
#include "presentation/message_document.h"
#include "sendpage/ids.h"
#include "sendpage/send_rules.h"
#include "store/message_store.h"
#include "store/store_window.h"
#include "config/config.h"
#include "transport/mm1_engine.h"
#include "toolargs/toolargs.h"

namespace {

constexpr const char16_t* kMainClass = u"RIR_WndCls_MainFrme";
/// A push body handed from the listener thread; lParam owns a std::vector<std::uint8_t>.
using engine::kMsgPushBody;
constexpr UINT_PTR kSignalTimerId = 1;
/// While a transfer runs, a line every this many milliseconds says that it still does.
constexpr UINT_PTR kProgressTimerId = 2;
constexpr UINT kProgressIntervalMs = 10000;
volatile std::sig_atomic_t g_stop = 0;

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: tessera-cli compose --to LIST [--subject S] FILE...\n"
               "       tessera-cli send ID\n"
               "       tessera-cli queue ID        (Draft to Outbox for the running program to send)\n"
               "       tessera-cli list inbox|outbox|draft|sent\n"
               "       tessera-cli show ID\n"
               "       tessera-cli fetch ID\n"
               "       tessera-cli push FILE       (hand one WAP push body to the store)\n"
               "       tessera-cli delete FOLDER ID\n"
               "       tessera-cli run             (stay up as the push client until interrupted)\n");
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

int Fail(const char* format, const std::string& text = {}) {
  std::fprintf(stderr, "tessera-cli: ");
  std::fprintf(stderr, format, text.c_str());
  std::fprintf(stderr, "\n");
  return 1;
}

std::optional<std::uint32_t> ParseId(const char* text) {
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || v == 0 || v >= 0xFFFFFFFFul || text[0] == '-') return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

std::optional<store::FolderId> ParseFolder(std::string_view name) {
  if (name == "inbox") return store::FolderId::Inbox;
  if (name == "outbox") return store::FolderId::Outbox;
  if (name == "draft") return store::FolderId::Draft;
  if (name == "sent") return store::FolderId::Sent;
  return std::nullopt;
}

const char* FolderName(store::FolderId id) {
  switch (id) {
    case store::FolderId::Inbox:
      return "inbox";
    case store::FolderId::Outbox:
      return "outbox";
    case store::FolderId::Draft:
      return "draft";
    case store::FolderId::Sent:
      return "sent";
  }
  return "?";
}

std::string Date(std::uint32_t seconds) {
  // Stored dates are seconds of the local clock, so they are shown without a zone shift.
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string U8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

class App {
 public:
  ~App() {
    host_.Shutdown();
    if (opened_ && !readOnly_) store_.SaveAll();
    if (window_) {
      current_ = nullptr;
      DestroyWindow(window_);
    }
  }

  /// The hidden main window and the store; false (with a message) when another program
  /// holds the device root. `readOnly` commands run beside it instead, without a window of
  /// their own and without saving anything.
  bool Open(bool withEngine, bool readOnly = false) {
    if (HWND running = FindWindow(kMainClass, nullptr)) {
      if (!readOnly) {
        Fail("%s", HolderText(running) + "; only list and show run beside it");
        return false;
      }
      readOnly_ = true;
      store_.SetReadOnly(true);
      std::u16string root = config::Config().GetUAContentsPath(false);
      if (!store_.Open(root)) {
        Fail("cannot open the message store at %s", U8(root));
        return false;
      }
      opened_ = true;
      ReportRecoveries();
      return true;
    }
    WNDCLASS wc{};
    wc.lpfnWndProc = &App::Proc;
    wc.lpszClassName = kMainClass;
    RegisterClass(&wc);
    window_ = CreateWindowEx(0, kMainClass, u"Tessera", WS_POPUP, 0, 0, 176, 180, nullptr, nullptr, nullptr, nullptr);
    if (!window_) {
      Fail("cannot create the main window");
      return false;
    }
    current_ = this;
    store_.SetFrameWindow(window_);
    if (withEngine && !host_.Start(window_)) {
      Fail("cannot start the transfer engine");
      return false;
    }
    host_.onEvent = [this](const engine::TransferEvent& e) { events_.push_back(e); };
    std::u16string root = config::Config().GetUAContentsPath(true);
    if (!store_.Open(root)) {
      Fail("cannot open the message store at %s", U8(root));
      return false;
    }
    opened_ = true;
    ReportRecoveries();
    return true;
  }

  /// Says which folders had to be rebuilt from the message files.
  void ReportRecoveries() {
    static const char* const kNames[] = {"Inbox", "Outbox", "Draft", "Sent"};
    for (const store::IndexRecovery& r : store_.Recoveries()) {
      std::fprintf(stderr, "tessera-cli: the %s index and its backup could not be read; ",
                   kNames[static_cast<int>(r.folder)]);
      if (r.damagedAside.empty())
        std::fprintf(stderr, "it was rebuilt from the message files in memory only (%zu messages)\n", r.recovered);
      else
        std::fprintf(stderr, "it was rebuilt from the message files (%zu messages); the damaged file is kept as %s\n",
                     r.recovered, U8(r.damagedAside).c_str());
    }
  }

  /// Runs the message loop until a job of `kind` for `id` has finished; its event. Says
  /// on standard error what it waits for, and again every few seconds.
  engine::TransferEvent WaitFor(int kind, std::uint32_t id) {
    const char* what = kind == store::kJobSend ? "sending" : kind == store::kJobFetch ? "fetching" : "answering";
    const transport::Mm1Engine* engine = host_.Engine();
    const bool web = engine && engine->transport == transport::Mm1Transport::Http;
    std::fprintf(stderr, "tessera-cli: %s %u %s %s; waiting for the answer\n", what, id,
                 web ? "over HTTP to" : "through the WAP gateway", Gateway().c_str());
    SetTimer(window_, kProgressTimerId, kProgressIntervalMs, nullptr);
    unsigned waited = 0;
    for (;;) {
      for (const auto& e : events_)
        if (e.kind == engine::TransferEvent::Kind::JobFinished && e.jobKind == kind && e.messageId == id) {
          KillTimer(window_, kProgressTimerId);
          return e;
        }
      MSG msg;
      if (!GetMessage(&msg, nullptr, 0, 0)) return {};
      if (msg.message == WM_TIMER && msg.hwnd == window_ && msg.wParam == kProgressTimerId) {
        waited += kProgressIntervalMs / 1000;
        std::fprintf(stderr, "tessera-cli: still %s %u, %u s so far\n", what, id, waited);
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }

  /// "host:port" of the gateway the engine uses; over HTTP the MMSC's URL and its proxy.
  std::string Gateway() const {
    const transport::Mm1Engine* e = host_.Engine();
    if (!e) return "?";
    if (e->transport == transport::Mm1Transport::Http)
      return e->mmscUri.str() + (e->proxy.empty() ? "" : " through the proxy " + e->proxy.str());
    return e->gateway.str() + ":" + std::to_string(e->gatewayPort);
  }

  store::MessageStore& Store() { return store_; }
  HWND Window() const { return window_; }
  /// Messages of the front end itself, tried before the engine's and the store's.
  std::function<bool(UINT, WPARAM, LPARAM)> extra;
  engine::TransferHost& Host() { return host_; }

  /// The folder holding `id`, if any.
  std::optional<store::FolderId> Locate(std::uint32_t id) {
    for (int i = 0; i < store::kFolderCount; ++i) {
      store::MessageSummary s(nullptr);
      auto folder = static_cast<store::FolderId>(i);
      if (store_.Folder(folder)->CopySummary(id, s)) return folder;
    }
    return std::nullopt;
  }

 private:
  static LRESULT Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (current_) {
      if (current_->extra && current_->extra(message, wParam, lParam)) return 0;
      if (current_->host_.HandleMessage(hwnd, message, wParam, lParam, &result)) return result;
      if (store::HandleStoreMessage(current_->store_, hwnd, message, wParam, lParam, &result)) return result;
    }
    return DefWindowProc(hwnd, message, wParam, lParam);
  }

  // "Tessera is already running on this device root (another tessera-cli, process 42)".
  static std::string HolderText(HWND running) {
    DWORD pid = 0;
    GetWindowThreadProcessId(running, &pid);
    std::string program;
    if (pid != 0) {
      std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
      std::getline(comm, program);
    }
    std::string text = "Tessera is already running on this device root";
    if (program.empty()) return text;
    text += program == "tessera" ? " (the main program" : " (another " + program;
    return text + ", process " + std::to_string(pid) + ")";
  }

  static inline App* current_ = nullptr;
  bool readOnly_ = false;
  HWND window_ = nullptr;
  store::MessageStore store_;
  engine::TransferHost host_{&store_};
  std::vector<engine::TransferEvent> events_;
  bool opened_ = false;
};

int Compose(int argc, char** argv) {
  store::ComposeRequest request;
  std::u16string subject;
  bool haveTo = false;
  std::vector<std::string> files;
  for (int i = 0; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--to" && i + 1 < argc) {
      request.recipients = platform::Utf8ToUtf16(argv[++i]);
      haveTo = true;
    } else if (a == "--subject" && i + 1 < argc) {
      subject = platform::Utf8ToUtf16(argv[++i]);
    } else if (a.rfind("--", 0) == 0) {
      return Usage();
    } else {
      files.emplace_back(a);
    }
  }
  if (!haveTo || files.empty()) return Usage();
  request.subject = subject;
  // The send page's rules: numbers, e-mail addresses and contact names, nothing else.
  ui::ContactsSession contacts;
  contacts.Open();
  std::u16string bad;
  ui::RecipientCheck check = ui::CheckMixedRecipients(&contacts, request.recipients, &bad);
  if (check.message == ui::ids::kStrListTooLong) return Fail("the recipient list is too long");
  if (check.message == ui::ids::kStrEmailInvalid) return Fail("not a valid e-mail address: \"%s\"", U8(bad));
  if (check.message != 0)
    return Fail("not a valid phone number, e-mail address or contact name: \"%s\"", U8(bad));
  if (check.recipients.empty()) return Fail("no recipient given");
  request.recipients = check.recipients;
  // One slide: a video, or a picture and a sound; and a text.
  for (const std::string& file : files) {
    std::u16string path = platform::Utf8ToUtf16(file);
    if (!platform::FileExists(path)) return Fail("no such file: %s", file);
    std::u16string* slot = nullptr;
    switch (presentation::KindClass(presentation::KindFromFileName(path))) {
      case 1:
        slot = &request.image;
        break;
      case 2:
        slot = &request.audio;
        break;
      case 3:
        slot = &request.text;
        break;
      case 4:
        slot = &request.video;
        break;
      default:
        return Fail("unknown kind of media file: %s", file);
    }
    if (!slot->empty()) return Fail("a slide holds one file of each kind: %s", file);
    *slot = path;
  }
  if (!request.video.empty() && (!request.image.empty() || !request.audio.empty()))
    return Fail("a slide with a video holds no picture or sound");
  App app;
  if (!app.Open(false)) return 1;
  // The subject goes in with the message: it is stored whole or not at all.
  std::uint32_t id = app.Store().NewComposedMessage(request, 176, 180);
  if (id == 0) return Fail("the message could not be stored: %s", store::DescribeLastFailure());
  std::printf("%u\n", id);
  return 0;
}

int Send(std::uint32_t id) {
  App app;
  if (!app.Open(true)) return 1;
  std::optional<store::FolderId> folder = app.Locate(id);
  bool queued = false;
  if (folder == store::FolderId::Draft)
    queued = app.Store().SendFromDraft(id);
  else if (folder == store::FolderId::Outbox)
    queued = app.Host().QueueMessage(store::FolderId::Outbox, id, store::kJobSend);
  else
    return Fail("message %s is in neither the Draft nor the Outbox", std::to_string(id));
  if (!queued) return Fail("message %s could not be queued", std::to_string(id));
  engine::TransferEvent e = app.WaitFor(store::kJobSend, id);
  if (e.success) {
    std::printf("sent %u\n", id);
    return 0;
  }
  store::MessageSummary s(nullptr);
  app.Store().Folder(store::FolderId::Outbox)->CopySummary(id, s);
  std::printf("send failed %u: %s (result %d, state 0x%08x)\n", id,
              transport::Mm1ResultText(e.result, app.Gateway()).c_str(), e.result, s.StateFlags());
  return 1;
}

// Moves a draft to the Outbox, queued, without sending it: the program sends it when it runs
// (or a later `send` does).
int Queue(std::uint32_t id) {
  App app;
  if (!app.Open(false)) return 1;
  if (app.Locate(id) != store::FolderId::Draft) return Fail("no message %s in the Draft", std::to_string(id));
  if (!app.Store().SendFromDraft(id)) return Fail("message %s could not be moved to the Outbox", std::to_string(id));
  std::printf("queued %u\n", id);
  return 0;
}

int Fetch(std::uint32_t id) {
  App app;
  if (!app.Open(true)) return 1;
  store::MessageSummary s(nullptr);
  if (!app.Store().Folder(store::FolderId::Inbox)->CopySummary(id, s)) return Fail("no message %s in the Inbox", std::to_string(id));
  if (s.MessageType() != store::kTypeNotification) return Fail("message %s is not a notification", std::to_string(id));
  if (!app.Host().QueueMessage(store::FolderId::Inbox, id, store::kJobFetch))
    return Fail("message %s could not be queued", std::to_string(id));
  engine::TransferEvent e = app.WaitFor(store::kJobFetch, id);
  if (e.success) {
    std::printf("fetched %u\n", id);
    return 0;
  }
  std::printf("fetch failed %u: %s (result %d)\n", id, transport::Mm1ResultText(e.result, app.Gateway()).c_str(),
              e.result);
  return 1;
}

int Push(const char* file) {
  std::string body;
  if (!platform::ReadFile(platform::Utf8ToUtf16(file), body)) return Fail("cannot read %s", file);
  App app;
  if (!app.Open(true)) return 1;
  bool repeated = false;
  std::uint32_t id =
      app.Store().PushReceived(reinterpret_cast<const std::uint8_t*>(body.data()), body.size(), &repeated);
  if (id == 0) return Fail("not an MMS notification, delivery report or read report: %s", file);
  store::MessageSummary s(nullptr);
  app.Store().Folder(store::FolderId::Inbox)->CopySummary(id, s);
  if (s.MessageType() == store::kTypeDeliveryReport) {
    std::printf("delivery report %u\n", id);
    return 0;
  }
  if (s.MessageType() == store::kTypeReadReport) {
    std::printf("read report %u\n", id);
    return 0;
  }
  // A notification that came again: a message fetched already is answered again, one still
  // waiting is handled as on arrival.
  std::printf(repeated ? "notification again %u\n" : "notification %u\n", id);
  int kind = config::Config().GetSendDelayedNotifyResp() == 0 ? store::kJobFetch : store::kJobNotifyResponse;
  if (repeated && s.MessageType() == store::kTypeMultimedia) kind = engine::kJobAcknowledgeAgain;
  engine::TransferEvent e = app.WaitFor(kind, id);
  const char* done = kind == store::kJobFetch ? "fetched" : kind == store::kJobNotifyResponse ? "deferred" : "answered again";
  const char* job = kind == store::kJobFetch ? "fetch" : kind == store::kJobNotifyResponse ? "notify-response" : "answer";
  if (e.success)
    std::printf("%s %u\n", done, id);
  else
    std::printf("%s failed %u: %s (result %d)\n", job, id, transport::Mm1ResultText(e.result, app.Gateway()).c_str(),
                e.result);
  return e.success ? 0 : 1;
}

int List(store::FolderId folderId) {
  App app;
  if (!app.Open(false, true)) return 1;
  store::MessageFolder* folder = app.Store().Folder(folderId);
  folder->ForEach([&](store::MessageEntry& entry) {
    const store::MessageSummary& s = entry.Summary();
    const std::u16string& who = folderId == store::FolderId::Inbox ? s.From() : s.To();
    std::printf("%u\t%u\t0x%08x\t%u\t%s\t%s\t%s\n", s.MessageId(), s.MessageType(), s.StateFlags(), s.Size(),
                Date(s.Date()).c_str(), U8(who).c_str(), U8(s.Subject()).c_str());
    return true;
  });
  return 0;
}

int Show(std::uint32_t id) {
  App app;
  if (!app.Open(false, true)) return 1;
  std::optional<store::FolderId> folderId = app.Locate(id);
  if (!folderId) return Fail("no message %s", std::to_string(id));
  store::MessageFolder* folder = app.Store().Folder(*folderId);
  store::MessageEntry* entry = folder->CheckOut(id);
  if (!entry) return Fail("message %s is in use", std::to_string(id));
  const store::MessageSummary& s = entry->Summary();
  std::printf("id: %u\nfolder: %s\ntype: %u\nstate: 0x%08x\nsize: %u\ndate: %s\nfrom: %s\nto: %s\nsubject: %s\n",
              s.MessageId(), FolderName(*folderId), s.MessageType(), s.StateFlags(), s.Size(), Date(s.Date()).c_str(),
              U8(s.From()).c_str(), U8(s.To()).c_str(), U8(s.Subject()).c_str());
  std::printf("content-location: %s\ntransaction-id: %s\nmessage-id: %s\nextra-flags: 0x%x\n",
              U8(s.ContentLocation()).c_str(), U8(s.TransactionId()).c_str(), U8(s.MmsMessageId()).c_str(),
              s.ExtraFlags());
  std::printf("attempts: %u\nretry-minutes: %u\n", s.Priority(), s.Minute());
  if (const store::SendOptionsRecord* o = entry->Options()) {
    std::printf("options: status %u class %u priority %u sender-visibility %u delivery-report %u read-reply %u\n",
                o->status, o->messageClass, o->priority, o->senderVisibility, o->deliveryReport, o->readReply);
    std::printf("options: expiry-form %u expiry %u delivery-time-form %u delivery-time %u date %u\n", o->expiryForm,
                o->expiry, o->deliveryTimeForm, o->deliveryTime, o->date);
  } else {
    std::printf("options: none\n");
  }
  entry->DropOptions();
  folder->Release(entry);
  return 0;
}

int Delete(store::FolderId folder, std::uint32_t id) {
  App app;
  if (!app.Open(false)) return 1;
  store::MessageSummary summary(nullptr);
  if (!app.Store().Folder(folder)->CopySummary(id, summary)) return Fail("no message %s in that folder", std::to_string(id));
  if (!app.Store().Delete(folder, id))
    return Fail("%s", "message " + std::to_string(id) + " could not be deleted: " + store::DescribeLastFailure());
  std::printf("deleted %u\n", id);
  return 0;
}

// Hands each body to the main window's thread, which owns the store.
using PushBridge = engine::WindowPushHandler;

void OnSignal(int) {
  g_stop = 1;
}

void PrintEvent(const engine::TransferEvent& e) {
  using Kind = engine::TransferEvent::Kind;
  static const char* const kJobs[] = {"", "send", "fetch", "notify-response", "answer"};
  const char* job = e.jobKind >= 1 && e.jobKind <= engine::kJobAcknowledgeAgain ? kJobs[e.jobKind] : "?";
  switch (e.kind) {
    case Kind::NotificationStored:
      std::printf("notification %u\n", e.messageId);
      break;
    case Kind::NotificationRepeated:
      std::printf("notification again %u\n", e.messageId);
      break;
    case Kind::DeliveryReportStored:
      std::printf("delivery report %u\n", e.messageId);
      break;
    case Kind::JobStarted:
      std::printf("%s started %u\n", job, e.messageId);
      break;
    case Kind::JobFinished:
      if (!e.success)
        std::printf("%s failed %u: %s (result %d)\n", job, e.messageId, transport::Mm1ResultText(e.result).c_str(),
                    e.result);
      else if (e.jobKind == store::kJobSend)
        std::printf("sent %u\n", e.messageId);
      else if (e.jobKind == store::kJobFetch)
        std::printf("fetched %u\n", e.messageId);
      else if (e.jobKind == engine::kJobAcknowledgeAgain)
        std::printf("answered again %u\n", e.messageId);
      else
        std::printf("deferred %u\n", e.messageId);
      break;
  }
  std::fflush(stdout);
}

// Stays up as the push client: every notification is fetched or answered as the settings
// say, and every event is printed, until SIGINT or SIGTERM.
int Run() {
  App app;
  if (!app.Open(true)) return 1;
  app.Host().onEvent = &PrintEvent;
  app.extra = [&app](UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMsgPushBody) {
      const std::size_t size = lParam ? reinterpret_cast<std::vector<std::uint8_t>*>(lParam)->size() : 0;
      if (engine::FilePushBody(app.Store(), lParam) == 0) std::printf("ignored push of %zu octets\n", size);
      std::fflush(stdout);
      return true;
    }
    if (message == WM_TIMER && wParam == kSignalTimerId) {
      if (g_stop) PostQuitMessage(0);
      return true;
    }
    return false;
  };
  PushBridge bridge(app.Window());
  engine::PushListener listener;
  if (!listener.Init(&bridge) || !listener.Start()) return Fail("cannot reach the push router of this device root");
  std::signal(SIGINT, &OnSignal);
  std::signal(SIGTERM, &OnSignal);
  SetTimer(app.Window(), kSignalTimerId, 200, nullptr);
  std::printf("running\n");
  std::fflush(stdout);
  MSG msg;
  while (GetMessage(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  listener.Stop();
  // Bodies the router handed over while stopping are still filed, to be fetched later.
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == kMsgPushBody) {
      std::unique_ptr<std::vector<std::uint8_t>> body(reinterpret_cast<std::vector<std::uint8_t>*>(msg.lParam));
      if (std::uint32_t id = app.Store().PushReceived(body->data(), body->size())) std::printf("notification %u\n", id);
    }
  }
  KillTimer(app.Window(), kSignalTimerId);
  std::printf("stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // No screen: the window system runs headless unless told otherwise.
  ::setenv("TESSERA_DISPLAY", "headless", 0);
  if (int rc = toolargs::HandleCommon(argc, argv, "tessera-cli", &PrintUsage); rc >= 0) return rc;
  std::string_view command = argv[1];
  if (command == "compose") return Compose(argc - 2, argv + 2);
  if (command == "list" && argc == 3) {
    std::optional<store::FolderId> folder = ParseFolder(argv[2]);
    return folder ? List(*folder) : Usage();
  }
  if (command == "delete" && argc == 4) {
    std::optional<store::FolderId> folder = ParseFolder(argv[2]);
    std::optional<std::uint32_t> id = ParseId(argv[3]);
    return folder && id ? Delete(*folder, *id) : Usage();
  }
  if (command == "push" && argc == 3) return Push(argv[2]);
  if (command == "run" && argc == 2) return Run();
  if ((command == "send" || command == "queue" || command == "show" || command == "fetch") && argc == 3) {
    std::optional<std::uint32_t> id = ParseId(argv[2]);
    if (!id) return Usage();
    if (command == "send") return Send(*id);
    if (command == "queue") return Queue(*id);
    if (command == "show") return Show(*id);
    return Fetch(*id);
  }
  return Usage();
}
