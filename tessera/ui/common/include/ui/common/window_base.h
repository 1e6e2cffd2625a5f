#pragma once
/// The window framework every window and dialog of the program is built on: a window object
/// owns its handle, and messages reach its handlers through static message tables that chain
/// to the base class's table.
#include <string>

#include "platform/gdi.h"
#include "platform/window.h"

namespace ui {

class WindowBase;

/// A handler bound to a window class: takes wParam and lParam, returns the result.
using MessageHandler = LRESULT (WindowBase::*)(WPARAM, LPARAM);

/// Row kinds of a message table.
inline constexpr int kEntryMessage = 1;  ///< matches the message number
inline constexpr int kEntryEnd = 2;      ///< ends the table
inline constexpr int kEntryCommand = 3;  ///< matches WM_COMMAND by the low word of wParam

struct MessageMapEntry {
  int kind;
  UINT id;
  MessageHandler handler;
};

/// A class's rows and the table of its base class (null for the root).
struct MessageTable {
  const MessageTable* base;
  const MessageMapEntry* entries;
};

/// Binds a derived class's handler to a table row.
template <typename T>
constexpr MessageHandler Bind(LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return static_cast<MessageHandler>(handler);
}

class WindowBase {
 public:
  WindowBase() = default;
  virtual ~WindowBase();
  WindowBase(const WindowBase&) = delete;
  WindowBase& operator=(const WindowBase&) = delete;

  HWND Handle() const { return hwnd_; }

  virtual BOOL PostMessage(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam);
  /// BeginPaint, OnDraw, EndPaint.
  virtual LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
  /// Looks the command up in the command rows of the tables, else the default handling.
  virtual LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
  virtual std::u16string GetHelpContext() const { return {}; }
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  /// Registers the class unless it is registered already.
  virtual bool RegisterClass(const WCHAR* className, HBRUSH background);
  /// After the window exists; false makes the creation fail.
  virtual bool OnCreated() { return true; }
  virtual void OnDraw(HDC dc) {}
  virtual const MessageTable* GetMessageTable() const { return &kTable; }

  /// Registers the class (style 11, white background unless given) and creates the window
  /// with this object as its creation parameter; false when the window or OnCreated fails
  /// (the window is then destroyed).
  bool Create(const WCHAR* className, const WCHAR* title, DWORD style, int x, int y, int width, int height,
              HWND parent, HBRUSH background = nullptr, int controlId = 0);
  // Each returns 0 when the handle is not a live window.
  BOOL Show(int command);
  BOOL Update();
  BOOL Invalidate();
  UINT_PTR StartTimer(UINT_PTR id, UINT elapseMs);
  BOOL StopTimer(UINT_PTR id);
  BOOL ClientRect(RECT* rect) const;
  BOOL WindowRect(RECT* rect) const;
  HWND Parent() const;
  /// Sends WM_CLOSE.
  LRESULT Destroy();

  /// The procedure of every framework window.
  static LRESULT Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  /// The object of a framework window, or null.
  static WindowBase* FromHandle(HWND hwnd);

 protected:
  /// Runs the first row matching the message, most derived table first; false when none.
  bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  /// Attaches the object to its window (the procedures do this on WM_CREATE/WM_INITDIALOG).
  void Attach(HWND hwnd);
  /// Called when the window is being destroyed; the object forgets its handle.
  virtual void OnDestroyed() {}

  HWND hwnd_ = nullptr;

 private:
  LRESULT OnHelp(WPARAM wParam, LPARAM lParam);
  static const MessageMapEntry kEntries[];

 public:
  static const MessageTable kTable;
};

}  // namespace ui
