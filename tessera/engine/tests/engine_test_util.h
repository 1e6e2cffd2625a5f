#pragma once
// Shared by the engine tests: a store and the engine behind a real window on this thread,
// with the MM1 operations replaced by scripted ones.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/transfer_host.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/window.h"
#include "platform_testing/device_root.h"
#include "store/store_window.h"

namespace engine::testing {

inline constexpr const char16_t* kUiKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI";
inline constexpr const char16_t* kMm1Key = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1";
inline constexpr const char16_t* kTryKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\TryLimit";

inline void SetDword(const char16_t* key, const char16_t* name, DWORD value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
  RegSetValueEx(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(k);
}

inline void SetText(const char16_t* key, const char16_t* name, std::u16string_view text) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
  std::u16string data(text);
  RegSetValueEx(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                static_cast<DWORD>((data.size() + 1) * 2));
  RegCloseKey(k);
}

inline std::string ReadAll(const std::u16string& path) {
  std::string text;
  platform::ReadFile(path, text);
  return text;
}

/// Counts connection requests (one watching thread each).
class CountingBearer : public NotifyingBearer {
 public:
  CountingBearer(HWND window, UINT message, std::atomic<int>* starts)
      : NotifyingBearer(window, message), starts_(starts) {}
  ~CountingBearer() override { StopAndWait(); }
  int OnStarted() override {
    ++*starts_;
    return 0;
  }

 private:
  std::atomic<int>* starts_;
};

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASS wc{};
    wc.lpfnWndProc = &EngineFixture::Proc;
    wc.lpszClassName = u"EngineTestFrame";
    RegisterClass(&wc);
    window_ = CreateWindowEx(0, u"EngineTestFrame", u"", WS_POPUP, 0, 0, 176, 180, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(window_, nullptr);
    current_ = this;
    logDir_ = platform::Utf8ToUtf16(root_.path()) + u"/logs";
    platform::CreateDirectories(logDir_);
    store_.SetFrameWindow(window_);
    ASSERT_TRUE(host_.Start(window_));
    host_.Worker()->SetLogDirectory(logDir_);
    host_.Queue()->bearerFactory = [this](HWND w, UINT m) {
      return std::make_unique<CountingBearer>(w, m, &connects_);
    };
    host_.onEvent = [this](const TransferEvent& e) { events_.push_back(e); };
    ASSERT_TRUE(store_.Open(platform::Utf8ToUtf16(root_.path()) + u"/store/"));
  }
  void TearDown() override {
    host_.Shutdown();
    current_ = nullptr;
    DestroyWindow(window_);
  }

  static LRESULT Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (current_) {
      if (current_->host_.HandleMessage(hwnd, message, wParam, lParam, &result)) return result;
      if (store::HandleStoreMessage(current_->store_, hwnd, message, wParam, lParam, &result)) return result;
    }
    return DefWindowProc(hwnd, message, wParam, lParam);
  }

  template <typename F>
  bool PumpUntil(F done, DWORD ms = 10000) {
    const DWORD start = GetTickCount();
    for (;;) {
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
      if (done()) return true;
      if (GetTickCount() - start > ms) return false;
      Sleep(2);
    }
  }
  void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
  }

  /// A Draft message with one text file, then moved to the Outbox and queued.
  std::uint32_t ComposeAndSend(const std::u16string& subject, const std::u16string& to) {
    const std::u16string text = platform::Utf8ToUtf16(root_.path()) + u"/note.txt";
    std::ofstream(platform::NativePath(text)) << "hello";
    store::ComposeRequest request;
    request.recipients = to;
    request.text = text;
    std::uint32_t id = store_.NewComposedMessage(request, 176, 180);
    EXPECT_NE(id, 0u);
    store::MessageEntry* entry = store_.Folder(store::FolderId::Draft)->CheckOut(id);
    if (entry) {
      entry->Summary().SetSubject(subject);
      store_.Folder(store::FolderId::Draft)->Release(entry);
    }
    EXPECT_TRUE(store_.SendFromDraft(id));
    return id;
  }

  store::MessageSummary Summary(store::FolderId folder, std::uint32_t id) {
    store::MessageSummary s(nullptr);
    store_.Folder(folder)->CopySummary(id, s);
    return s;
  }
  /// The entry itself (its retry record is reachable only through it).
  store::MessageEntry* Entry(store::FolderId folder, std::uint32_t id) {
    store::MessageEntry* found = nullptr;
    store_.Folder(folder)->ForEach([&](store::MessageEntry& e) {
      if (e.Id() == id) found = &e;
      return found == nullptr;
    });
    return found;
  }
  bool Holds(store::FolderId folder, std::uint32_t id) {
    store::MessageSummary s(nullptr);
    return store_.Folder(folder)->CopySummary(id, s);
  }
  int Finished(int jobKind) const {
    int n = 0;
    for (const auto& e : events_) n += e.kind == TransferEvent::Kind::JobFinished && e.jobKind == jobKind;
    return n;
  }

  platform_testing::ScopedDeviceRoot root_;
  std::u16string logDir_;
  HWND window_ = nullptr;
  store::MessageStore store_;
  TransferHost host_{&store_};
  std::atomic<int> connects_{0};
  std::vector<TransferEvent> events_;
  static inline EngineFixture* current_ = nullptr;
};

inline void AppendText(std::vector<std::uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

/// An m-notification-ind announcing `location` with transaction `tid`.
inline std::vector<std::uint8_t> Notification(std::string_view tid, std::string_view location) {
  std::vector<std::uint8_t> pdu = {0x8C, 0x82, 0x98};  // X-Mms-Message-Type notification; Transaction-ID
  AppendText(pdu, tid);
  pdu.insert(pdu.end(), {0x8D, 0x90});                    // X-Mms-MMS-Version 1.0
  pdu.insert(pdu.end(), {0x8A, 0x80});                    // X-Mms-Message-Class personal
  pdu.insert(pdu.end(), {0x8E, 0x02, 0x02, 0x00});        // X-Mms-Message-Size 512
  pdu.insert(pdu.end(), {0x88, 0x03, 0x81, 0x01, 0x10});  // X-Mms-Expiry relative, 16 s
  pdu.push_back(0x83);                                    // X-Mms-Content-Location
  AppendText(pdu, location);
  return pdu;
}

}  // namespace engine::testing
