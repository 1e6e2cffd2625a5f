#pragma once
// Collects the messages the audio code posts, so tests can wait for them.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/types.h"

namespace audio_test {

struct Posted {
  void* window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

class PostLog {
 public:
  static PostLog& Get() {
    static PostLog log;
    return log;
  }
  static BOOL Post(void* window, UINT message, WPARAM wParam, LPARAM lParam) {
    PostLog& log = Get();
    std::lock_guard lock(log.mutex_);
    log.posted_.push_back({window, message, wParam, lParam});
    log.cv_.notify_all();
    return 1;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    posted_.clear();
  }
  /// Waits until `done(posted)` holds; false on time-out.
  bool WaitFor(const std::function<bool(const std::vector<Posted>&)>& done, int seconds) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(seconds), [&] { return done(posted_); });
  }
  std::vector<Posted> Snapshot() {
    std::lock_guard lock(mutex_);
    return posted_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Posted> posted_;
};

/// The one WAV file the file backend wrote under <root>/audio-out/ ("" when not one).
inline std::string OnlyOutputFile(const std::string& root) {
  std::string found;
  int count = 0;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(root + "/audio-out", ec)) {
    found = e.path().string();
    ++count;
  }
  return count == 1 ? found : std::string();
}

}  // namespace audio_test
