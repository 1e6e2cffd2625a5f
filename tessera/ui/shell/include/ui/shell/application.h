#pragma once
/// The application object: start-up in its fixed order, the message loop, shut-down in the
/// reverse order, the hand-over of a file to a running instance, message boxes, titles and
/// menu bars.
#include <memory>
#include <string>

#include "config/config.h"
#include "platform/window.h"
#include "ui/resource_library.h"

namespace audio {
class AudioClipLoader;
}

namespace ui {

class MainFrame;
class ContactsSession;
class SimPhonebook;

class Application {
 public:
  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  /// The message loop; returns the quit code.
  virtual int Run();
  /// Non-zero when the program is to run. A running instance (the main frame's class, also
  /// tessera-cli's) is brought to the front and, with a "/rade" command line, handed the file.
  virtual int Start(HINSTANCE previous, const std::u16string& commandLine, int show);
  /// Frees everything in the reverse order of Start; returns 0.
  virtual int Shutdown();
  /// 1 when `commandLine` is a file hand-over ("/rade" and a quoted path of an image, sound,
  /// text or video file that exists) and was sent to `target` as an import record, else 0.
  virtual int ForwardCommandLine(HWND target, const std::u16string& commandLine);

  /// Message boxes with caption 40063; the box's result.
  int ShowMessage(HWND owner, UINT textId, UINT flags);
  int ShowMessageText(HWND owner, const std::u16string& text, UINT flags);
  bool ModalBoxUp() const { return modalBox_; }

  /// A title of 15 characters or more becomes its first 14 and "..."; the tray is told.
  static std::u16string CutTitle(const std::u16string& text);
  static void SetTitle(HWND window, const std::u16string& text);
  /// The soft-key bar of `window` from menu resource `menuId` of the resource library.
  static HWND CreateMenuBar(HWND window, UINT menuId);

  /// A screen-sized bitmap of the picture file at `path` (JPEG), or null when it is missing
  /// or unreadable. The caller deletes it.
  static HBITMAP LoadBackground(const std::u16string& path);
  /// The main list's background picture ("mmsbkimg.jpg"); null when the program has none.
  HBITMAP Background() const { return background_; }

  MainFrame* Frame() const { return frame_.get(); }
  /// The process's sound clip player; null before start-up.
  audio::AudioClipLoader* AudioLoader() const { return audio_.get(); }

 private:
  std::unique_ptr<ResourceLibrary> resources_;
  std::unique_ptr<ContactsSession> contacts_;
  std::unique_ptr<SimPhonebook> sim_;
  std::unique_ptr<config::Config> config_;
  std::unique_ptr<MainFrame> frame_;
  std::unique_ptr<audio::AudioClipLoader> audio_;
  std::u16string title_;
  HBITMAP background_ = nullptr;
  bool modalBox_ = false;
};

}  // namespace ui
