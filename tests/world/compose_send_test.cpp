// A message composed on phone A's composer by keys (three slides of picture, text and sound
// from the sample media of the local world, picked in the gallery; the texts are canned texts
// inserted from the text editor; the recipient picked from the contacts on the send page),
// sent through the WAP gateway to phone B, whose fetched copy holds every part byte for byte.
// The keys follow the screen descriptions: an item is reached by moving until it is selected.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../tessera/ui/texteditor/tests/key_script.h"
#include "composer/composer_frame.h"
#include "contacts/contacts_session.h"
#include "gallery/gallery.h"
#include "composer/composer_ids.h"
#include "config/config.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "store/message_store.h"
#include "texteditor/canned_texts.h"
#include "texteditor/text_editor.h"
#include "texteditor/texteditor_ids.h"
#include "ui/common/app_context.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = std::string(TESSERA_BINARY_DIR) + "/bin";
const std::string kWorld = std::string(TESSERA_SOURCE_DIR) + "/scripts/world";
std::string g_self;

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

/// True when the screen's line holding `item` is the selected one.
bool Selected(const std::string& screen, const std::string& item) {
  std::istringstream lines(screen);
  for (std::string line; std::getline(lines, line);)
    if (line.find(item) != std::string::npos && line.find(" selected") != std::string::npos) return true;
  return false;
}

/// What a test that cannot go on stops before it ends the process.
std::function<void()> g_abandon;

/// Presses `open` (none when null), then `move` until the line holding `item` is selected,
/// then Enter. An item never reached ends the test with the screen it stayed on.
void Choose(uitest::KeyScript& script, const std::string& item, const char* move, const char* open = nullptr) {
  if (open) script.Key(open);
  auto tries = std::make_shared<int>(0);
  script.WaitUntil([=] {
    const std::string screen = platform::testdriver::DescribeScreen();
    if (Selected(screen, item)) return true;
    if (++*tries > 40) {
      std::fprintf(stderr, "never selected: %s\n%s\n", item.c_str(), screen.c_str());
      if (g_abandon) g_abandon();
      std::_Exit(1);
    }
    platform::testdriver::PressKey(platform::testdriver::KeyFromName(move));
    return false;
  });
  script.Key("Enter");
}

int Shell(const std::string& command, std::string* out = nullptr) {
  std::string text;
  int code = -1;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char chunk[1024];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
    const int status = ::pclose(pipe);
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  if (out) *out = text;
  return code;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

template <typename F>
bool WaitFor(F ready, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return ready();
}

/// Starts `args` in the background with its output in `log`; the process id.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log, const std::vector<std::string>& env) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen(log.c_str(), "w", stdout);
    ::dup2(::fileno(stdout), 2);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

std::string Utf16Part(const std::u16string& text) {
  std::string bytes("\xFF\xFE", 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::string PartBytes(const presentation::MessageDocument& doc, const std::optional<presentation::MediaReference>& ref) {
  if (!ref || !ref->item) return "<none>";
  return ReadText(platform::Utf16ToUtf8(platform::JoinPath(doc.partsDirectory(), ref->item->fileName)));
}

}  // namespace

TEST(WorldCompose, ThreeSlidesComposedOnAReachBByteForByte) {
  if (::access("/usr/sbin/bearerbox", X_OK) != 0 || ::access("/usr/sbin/wapbox", X_OK) != 0)
    GTEST_SKIP() << "Kannel (bearerbox, wapbox) is not installed";
  if (!std::getenv("TESSERA_NETNS")) {
    // A network of its own: the gateway's fixed UDP ports never meet another test's.
    const int status = std::system(("unshare -rn env TESSERA_NETNS=1 " + Quote(g_self) +
                                    " --gtest_filter=WorldCompose.ThreeSlidesComposedOnAReachBByteForByte")
                                       .c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the test inside the network namespace failed";
    return;
  }
  char pattern[] = "/tmp/tessera-compose-world-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  struct Cleanup {
    std::string dir;
    std::vector<pid_t> pids;
    void Run() {
      for (auto it = pids.rbegin(); it != pids.rend(); ++it) Stop(*it);
      pids.clear();
      if (!dir.empty()) fs::remove_all(dir);
      dir.clear();
    }
    ~Cleanup() { Run(); }
  } cleanup{dir, {}};
  g_abandon = [&cleanup] { cleanup.Run(); };
  const std::string worldDir = dir + "/world", rootA = worldDir + "/phone-a", rootB = worldDir + "/phone-b";
  const std::string options = " --bin " + Quote(kBin) + " --dir " + Quote(worldDir) + " --media " +
                              Quote(std::string(TESSERA_BINARY_DIR) + "/demo-media");
  std::string out;
  ASSERT_EQ(Shell(Quote(kWorld) + " setup --fresh" + options, &out), 0) << out;
  // The services only: the gateway, mmsc-lite and the push routers.
  std::vector<std::string> up{kWorld, "up", "--phones", "none", "--bin", kBin, "--dir", worldDir, "--media",
                              std::string(TESSERA_BINARY_DIR) + "/demo-media"};
  cleanup.pids.push_back(Spawn(up, dir + "/world.out", {}));
  ASSERT_TRUE(WaitFor([&] { return ReadText(worldDir + "/world.env").find("READY=1") != std::string::npos; }, 180))
      << ReadText(dir + "/world.out");

  // Phone A's composer, in this process, on A's device root.
  ::setenv("TESSERA_ROOT", rootA.c_str(), 1);
  ::setenv("TESSERA_DISPLAY", "headless", 1);
  platform::testdriver::Enable();
  platform::RegisterControlClasses();
  ui::ResourceLibrary resources;
  ASSERT_TRUE(resources.Load(platform::Utf8ToUtf16(kBin + "/Wren.dll")));
  ui::Context().resources = &resources;
  const std::string pictures = rootA + "/My Documents/My Pictures/", sounds = rootA + "/My Documents/My Sounds/";
  struct SlideMedia {
    std::string pictureName, soundName;
    std::u16string text;
    std::string picture, sound;
  } slides[3] = {{"Harbour.jpg", "Chime.wav", u"One: the harbour", {}, {}},
                 {"Badge.png", "Doorbell.amr", u"Two: a badge", {}, {}},
                 {"Spinner.gif", "Tune.mid", u"Three \u00e9t\u00e9", {}, {}}};
  for (SlideMedia& s : slides) {
    s.picture = pictures + s.pictureName;
    s.sound = sounds + s.soundName;
  }
  config::Config configA;
  ui::Context().config = &configA;
  // The texts are canned texts, picked in the gallery from the text editor as a user would.
  ASSERT_TRUE(texteditor::SaveCannedTexts(configA.GetCannedtextFile(), {slides[0].text, slides[1].text, slides[2].text}));
  texteditor::SetCannedTextPicker(&gallery::RunGallery);
  ui::ContactsSession contacts;
  ASSERT_TRUE(contacts.Open());
  ui::Context().contacts = &contacts;
  std::uint32_t id = 0;
  {
    store::MessageStore store;
    ASSERT_TRUE(store.Open(config::Config().GetUAContentsPath(true)));
    auto entry = store.NewEntry();
    entry->Summary().SetMessageType(store::kTypeMultimedia);
    id = entry->Id();
    ASSERT_TRUE(store.Folder(store::FolderId::Draft)->Add(std::move(entry)));
    composer::ComposerHost host;
    host.store = &store;
    // What the main frame does once the send page has sent.
    bool sent = false;
    host.sendFromDrafts = [&](std::uint32_t messageId) {
      sent = store.Move(messageId, store::FolderId::Draft, store::FolderId::Outbox);
      return sent;
    };
    uitest::KeyScript script;
    std::string pageScreen;
    ASSERT_TRUE(composer::OpenComposer(script.owner(), host, id, composer::ids::kModeNew, 7));
    for (int i = 0; i < 3; ++i) {
      if (i > 0) {
        Choose(script, "\"Slide\"", "Down", "SoftRight");
        Choose(script, "id=" + std::to_string(composer::ids::kCmdAddSlide), "Down");
      }
      script.Key("Enter");  // the gallery, on the pictures
      Choose(script, "\"" + slides[i].pictureName + "\"", "Right");
      script.Key("Down");
      script.Key("Enter");  // the text editor
      Choose(script, "id=" + std::to_string(texteditor::ids::kCmdInsertCanned), "Down", "SoftRight");
      Choose(script, "\"" + platform::Utf16ToUtf8(slides[i].text) + "\"", "Down");
      script.Key("SoftLeft");  // the text is done
      script.Key("Down");
      script.Key("Enter");  // the gallery, on the sounds
      Choose(script, "\"" + slides[i].soundName + "\"", "Down");
      script.Key("Down");
    }
    Choose(script, "id=" + std::to_string(composer::ids::kCmdSend), "Down", "SoftRight");
    // The send page: the action key in the phone edit opens the contacts, where B is picked.
    script.Key("Enter");
    Choose(script, "\"Bo Marchetti\"", "Down");
    script.Describe(&pageScreen);
    script.Key("SoftLeft");  // send
    script.Then([] { PostQuitMessage(0); });
    script.Start();
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
    texteditor::SetCannedTextPicker(nullptr);
    ASSERT_TRUE(sent) << pageScreen << platform::testdriver::DescribeScreen();
    EXPECT_NE(pageScreen.find("+15550101"), std::string::npos) << pageScreen;
    ASSERT_TRUE(store.SaveAll());
  }
  ui::Context().contacts = nullptr;
  contacts.Close();
  ui::Context().config = nullptr;
  ui::Context().resources = nullptr;

  // B's push client fetches what its push router hears; A's store sends the Outbox message.
  const std::string clientLog = dir + "/phone-b-cli.log";
  cleanup.pids.push_back(Spawn({kBin + "/tessera-cli", "run"}, clientLog,
                               {"TESSERA_ROOT=" + rootB, "TESSERA_PUSHROUTER_AUTOSTART=0"}));
  ASSERT_TRUE(WaitFor([&] { return ("\n" + ReadText(clientLog)).find("\nrunning") != std::string::npos; }, 20)) << ReadText(clientLog);
  ASSERT_EQ(Shell("TESSERA_ROOT=" + Quote(rootA) + " TESSERA_PUSHROUTER_AUTOSTART=0 " + Quote(kBin + "/tessera-cli") +
                      " send " + std::to_string(id),
                  &out),
            0)
      << out;
  ASSERT_TRUE(WaitFor([&] {
    const std::string log = "\n" + ReadText(clientLog);
    return log.find("\nfetched") != std::string::npos || log.find("\nfetch failed") != std::string::npos;
  }, 90))
      << ReadText(clientLog) << ReadText(worldDir + "/logs/mmsc.log");
  Stop(cleanup.pids.back());
  cleanup.pids.pop_back();

  // B's Inbox: the fetched message, slide by slide.
  ::setenv("TESSERA_ROOT", rootB.c_str(), 1);
  store::MessageStore storeB;
  ASSERT_TRUE(storeB.Open(config::Config().GetUAContentsPath(true)));
  store::MessageFolder* inbox = storeB.Folder(store::FolderId::Inbox);
  std::uint32_t received = 0;
  std::string seen;
  inbox->ForEach([&](store::MessageEntry& e) {
    seen += std::to_string(e.Id()) + " type " + std::to_string(e.Summary().MessageType()) + " state " +
            std::to_string(e.Summary().StateFlags()) + " body " + platform::Utf16ToUtf8(e.BodyPath()) + "\n";
    if (e.Summary().MessageType() == store::kTypeMultimedia) received = e.Id();
    return true;
  });
  ASSERT_NE(received, 0u) << seen << ReadText(clientLog) << ReadText(worldDir + "/logs/mmsc.log");
  store::MessageEntry* entry = inbox->CheckOut(received);
  ASSERT_NE(entry, nullptr);
  presentation::MessageDocument* doc = entry->OpenDocument();
  ASSERT_NE(doc, nullptr) << seen << ReadText(platform::Utf16ToUtf8(entry->BodyPath())).size();
  ASSERT_EQ(doc->slideCount(), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const presentation::Slide* slide = doc->slide(i);
    EXPECT_EQ(PartBytes(*doc, slide->image), ReadText(slides[i].picture));
    EXPECT_EQ(PartBytes(*doc, slide->audio), ReadText(slides[i].sound));
    EXPECT_EQ(PartBytes(*doc, slide->text), Utf16Part(slides[i].text));
  }
  entry->DropDocument();
  inbox->Release(entry);
}

int main(int argc, char** argv) {
  g_self = fs::canonical("/proc/self/exe").string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
