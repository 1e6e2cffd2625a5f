// A message composed on phone A's composer (three slides of picture, text and sound from the
// sample media of the local world), sent through the WAP gateway to phone B, whose fetched
// copy holds every part byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../tessera/ui/texteditor/tests/key_script.h"
#include "composer/composer_frame.h"
#include "composer/composer_ids.h"
#include "config/config.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "store/message_store.h"
#include "texteditor/text_editor.h"
#include "ui/common/app_context.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = std::string(TESSERA_BINARY_DIR) + "/bin";
const std::string kWorld = std::string(TESSERA_SOURCE_DIR) + "/scripts/world";
std::string g_self;

std::string Quote(const std::string& s) {
  return "'" + s + "'";
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
    ~Cleanup() {
      for (auto it = pids.rbegin(); it != pids.rend(); ++it) Stop(*it);
      fs::remove_all(dir);
    }
  } cleanup{dir, {}};
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
    std::string picture, sound;
    std::u16string text;
  } const slides[3] = {{pictures + "Harbour.jpg", sounds + "Chime.wav", u"One: the harbour"},
                       {pictures + "Badge.png", sounds + "Doorbell.amr", u"Two: a badge"},
                       {pictures + "Spinner.gif", sounds + "Tune.mid", u"Three \u00e9t\u00e9"}};
  std::uint32_t id = 0;
  {
    store::MessageStore store;
    ASSERT_TRUE(store.Open(config::Config().GetUAContentsPath(true)));
    auto entry = store.NewEntry();
    entry->Summary().SetMessageType(store::kTypeMultimedia);
    id = entry->Id();
    ASSERT_TRUE(store.Folder(store::FolderId::Draft)->Add(std::move(entry)));
    std::vector<std::u16string> picks;
    for (const SlideMedia& s : slides) {
      picks.push_back(platform::Utf8ToUtf16(s.picture));
      picks.push_back(platform::Utf8ToUtf16(s.sound));
    }
    std::size_t next = 0;
    composer::ComposerHost host;
    host.store = &store;
    host.picker = [&](HWND, std::uint32_t*) -> std::optional<std::u16string> {
      if (next >= picks.size()) return std::nullopt;
      return picks[next++];
    };
    int textsOnA = 0;
    host.sendPage = [&textsOnA](HWND, store::MessageEntry* message, bool* changed, bool) {
      if (presentation::MessageDocument* doc = message->OpenDocument())
        for (int i = 0; i < doc->slideCount(); ++i) textsOnA += doc->slide(i)->text.has_value() ? 1 : 0;
      message->Summary().SetTo(u"+15550101/TYPE=PLMN");
      message->Summary().SetSubject(u"Composed on A");
      *changed = false;
      return 1;
    };
    bool sent = false;
    host.sendFromDrafts = [&](std::uint32_t messageId) {
      sent = store.Move(messageId, store::FolderId::Draft, store::FolderId::Outbox);
      return sent;
    };
    host.cannedTextsFile = platform::Utf8ToUtf16(dir + "/CannedText.txt");
    std::u16string canned;
    texteditor::SetCannedTextPicker([&](HWND, std::uint32_t*) -> std::optional<std::u16string> { return canned; });
    uitest::KeyScript script;
    std::string editorScreen, afterScreen;
    ASSERT_TRUE(composer::OpenComposer(script.owner(), host, id, composer::ids::kModeNew, 7));
    for (int i = 0; i < 3; ++i) {
      if (i > 0) script.Command(composer::ids::kCmdAddSlide);
      script.Key("Enter");  // the picture
      script.Key("Down");
      const std::u16string text = slides[i].text;
      script.Then([&canned, text] { canned = text; });
      script.Key("Enter");  // the text editor
      script.Command(40055);  // insert the text
      if (i == 0) script.Describe(&editorScreen);
      script.Key("SoftLeft");
      if (i == 0) script.Describe(&afterScreen);
      script.Key("Down");
      script.Key("Enter");  // the sound
      script.Key("Down");
    }
    script.Command(composer::ids::kCmdSend);
    script.Then([] { PostQuitMessage(0); });
    script.Start();
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
    texteditor::SetCannedTextPicker(nullptr);
    ASSERT_TRUE(sent);
    EXPECT_EQ(textsOnA, 3) << editorScreen << afterScreen;
    ASSERT_TRUE(store.SaveAll());
  }
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
