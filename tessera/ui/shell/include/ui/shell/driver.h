#pragma once
/// Driving the program from outside: key scripts, the screen description and screenshots,
/// run from the UI thread's own message loop (so they reach modal dialogs too), and the
/// socket "<device root>/run/tessera-drive.sock" through which tessera-drive drives a running
/// instance. Requests are one line: "keys K1 K2 ...", "describe", "screenshot FILE" or
/// "wait-idle" ("advance MS" moves the virtual clock of a script run); the answer is a status line ("ok" or "error TEXT") followed by the output.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/common/window_base.h"

namespace ui {

/// The socket's path for a device root.
std::string DriverSocketPath(const std::u16string& deviceRoot);

class Driver : public WindowBase {
 public:
  Driver();
  ~Driver() override;

  /// The hidden helper window.
  bool Open();
  /// Runs `request` (a request line) on the UI thread once it is idle; `done` gets the
  /// answer's status (true for ok) and output.
  void Submit(std::string request, std::function<void(bool, std::string)> done);
  /// Starts listening on the socket; false when it cannot be made.
  bool Listen(const std::string& path);
  void StopListening();

  const MessageTable* GetMessageTable() const override { return &kTable; }
  static const MessageTable kTable;

 private:
  struct Job;
  LRESULT OnStep(WPARAM wParam, LPARAM lParam);
  LRESULT OnSubmitted(WPARAM wParam, LPARAM lParam);
  void Finish(Job& job, bool ok, std::string output);
  /// Posts the next step unless one is waiting already.
  void PostStep();
  void ServeConnections();
  static const MessageMapEntry kEntries[];

  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::vector<std::unique_ptr<Job>> jobs_;
  bool stepPending_ = false;
};

}  // namespace ui
