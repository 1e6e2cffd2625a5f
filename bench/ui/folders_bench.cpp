// The folder view over a folder of 1,000 messages: opening it (load, sort, first paint), one
// key move (selection, left key, off-screen redraw of the page), and deleting all of them
// (confirmed, every message's files gone, the empty folder shown again). Headless, on a fresh
// device root; figures print in milliseconds against the targets.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "folders/folder_frame.h"
#include "folders/folder_ids.h"
#include "platform/files.h"
#include "platform/test_driver.h"
#include "platform/window.h"
#include "store/message_store.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"
#include "ui/shell/main_frame.h"
#include "ui_figures.h"

namespace {

constexpr int kMessages = 1000;
constexpr double kOpenTargetMs = 50;
constexpr double kKeyMoveTargetMs = 2;
constexpr double kDeleteAllTargetMs = 1000;

// Fills the Inbox with messages from different senders on different days, a third unread.
bool FillInbox(ui::MainFrame& frame) {
  store::MessageStore& s = frame.Store();
  store::MessageFolder* inbox = s.Folder(store::FolderId::Inbox);
  for (int i = 0; i < kMessages; ++i) {
    auto entry = s.NewEntry();
    if (!entry || !platform::WriteFile(entry->BodyPath(), "body")) return false;
    store::MessageSummary& m = entry->Summary();
    m.SetStateFlags(store::kStateComplete | (i % 3 == 0 ? store::kStateUnread : store::kStateRead));
    const std::string n = std::to_string((i * 7919) % kMessages);
    m.SetFrom(u"+1555" + std::u16string(n.begin(), n.end()));
    m.SetSubject(u"Subject " + std::u16string(n.begin(), n.end()));
    m.SetDate(1000000u + static_cast<std::uint32_t>((i * 7919) % kMessages) * 60u);
    m.SetSize(1000u + static_cast<std::uint32_t>(i));
    if (!inbox->Add(std::move(entry))) return false;
  }
  return inbox->Save();
}

struct Program {
  ui::Application app;
  bool Start() {
    uibench::UseFreshRoot("folders");
    if (!app.Start(nullptr, u"", SW_SHOW) || !FillInbox(*app.Frame())) return false;
    platform::testdriver::RunUntilIdle();
    return true;
  }
  ~Program() {
    app.Shutdown();
    platform::testdriver::RunUntilIdle();
  }
};

void BM_OpenFolderOf1000(benchmark::State& state) {
  Program program;
  if (!program.Start()) {
    state.SkipWithError("the program did not start");
    return;
  }
  ui::MainFrame& frame = *program.app.Frame();
  for (auto _ : state) {
    if (!frame.SwitchView(ui::kViewFolder, 0)) {
      state.SkipWithError("the Inbox did not open");
      break;
    }
    platform::testdriver::RunUntilIdle();  // the first paint
    state.PauseTiming();
    frame.SwitchView(ui::kViewMainList, 0);
    platform::testdriver::RunUntilIdle();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenFolderOf1000)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_KeyMoveInFolderOf1000(benchmark::State& state) {
  Program program;
  if (!program.Start() || !program.app.Frame()->SwitchView(ui::kViewFolder, 0)) {
    state.SkipWithError("the Inbox did not open");
    return;
  }
  platform::testdriver::RunUntilIdle();
  for (auto _ : state) {
    platform::testdriver::PressKey(VK_DOWN);
    platform::testdriver::RunUntilIdle();
  }
}
BENCHMARK(BM_KeyMoveInFolderOf1000)->Unit(benchmark::kMicrosecond);

void BM_DeleteAllOf1000(benchmark::State& state) {
  Program program;
  if (!program.Start()) {
    state.SkipWithError("the program did not start");
    return;
  }
  ui::MainFrame& frame = *program.app.Frame();
  bool first = true;
  for (auto _ : state) {
    state.PauseTiming();
    if (!first && !FillInbox(frame)) {
      state.SkipWithError("the Inbox could not be filled");
      break;
    }
    first = false;
    frame.SwitchView(ui::kViewFolder, 0);
    platform::testdriver::RunUntilIdle();
    HWND view = frame.FolderView()->Handle();
    state.ResumeTiming();
    // The command, then Yes on the question it asks.
    PostMessage(view, WM_COMMAND, folders::kCmdDeleteAll, 0);
    platform::testdriver::PressKey(VK_TSOFT1);
    platform::testdriver::RunUntilIdle();
    state.PauseTiming();
    if (frame.Store().Folder(store::FolderId::Inbox)->Count() != 0) {
      state.SkipWithError("the messages were not deleted");
      break;
    }
    frame.SwitchView(ui::kViewMainList, 0);
    platform::testdriver::RunUntilIdle();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DeleteAllOf1000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  return uibench::RunWithFigures(argc, argv,
                                 {{"Open", "open a folder of 1,000 (load, sort, first paint)", kOpenTargetMs},
                                  {"KeyMove", "key move in a folder of 1,000", kKeyMoveTargetMs},
                                  {"", "delete all of 1,000", kDeleteAllTargetMs}});
}
