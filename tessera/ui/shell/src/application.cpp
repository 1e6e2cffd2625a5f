#include "ui/shell/application.h"

#include <cwctype>

#include "audio/clip_player.h"
#include "imaging/image.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/menubar.h"
#include "platform/paths.h"
#include "presentation/message_document.h"
#include "store/store_window.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "contacts/contacts_session.h"
#include "gallery/gallery.h"
#include "recorder/recorder.h"
#include "texteditor/text_editor.h"
#include "ui/shell/main_frame.h"
#include "viewer/duration_probe.h"
#include "viewer/video_playback.h"

namespace ui {
namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string Trim(std::u16string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::u16string(text.substr(begin, end - begin));
}

BOOL PostToWindow(void* window, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostMessage(static_cast<HWND>(window), message, wParam, lParam);
}

}  // namespace

Application::Application() {
  Context().application = this;
}

Application::~Application() {
  if (Context().application == this) Context().application = nullptr;
}

int Application::Run() {
  MSG msg{};
  while (GetMessage(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  return static_cast<int>(msg.wParam);
}

int Application::Start(HINSTANCE, const std::u16string& commandLine, int show) {
  AppContext& context = Context();
  context.programDirectory = platform::ProgramDirectory();
  if (!context.programDirectory.empty() && context.programDirectory.back() != u'/') context.programDirectory += u'/';
  if (HWND running = FindWindow(kMainFrameClass, nullptr)) {
    ForwardCommandLine(running, commandLine);
    SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(running) | 1));
    return 0;
  }
  resources_ = std::make_unique<ResourceLibrary>();
  if (!resources_->Load(context.programDirectory + u"Wren.dll")) return 0;
  context.resources = resources_.get();
  title_ = resources_->LoadText(kStrCaption);
  // The main list's picture; without the file the list keeps its plain background.
  background_ = LoadBackground(context.programDirectory + u"mmsbkimg.jpg");
  contacts_ = std::make_unique<ContactsSession>();
  if (!contacts_->Open()) {
    contacts_.reset();
    return 0;
  }
  context.contacts = contacts_.get();
  config_ = std::make_unique<config::Config>();
  context.config = config_.get();
  // Without a SIM the program goes on without its contacts.
  sim_ = std::make_unique<SimPhonebook>();
  if (!sim_->Open()) sim_.reset();
  frame_ = std::make_unique<MainFrame>();
  context.mainFrame = frame_.get();
  if (!frame_->CreateFrame(title_)) {
    context.mainFrame = nullptr;
    frame_.reset();
    return 0;
  }
  // The sound clip player loads its decoders from "AudioDecPath"; video playback is the
  // process's one object. New documents ask both for playing times.
  audio_ = std::make_unique<audio::AudioClipLoader>(config_->GetAudioDecPath(true), &PostToWindow);
  config_->GetVideoDecPath(true);
  viewer::VideoPlayback::Get();
  viewer::InstallMediaHooks(audio_.get());
  // The text editor picks canned texts in the gallery, which plays sounds with the player.
  gallery::SetAudioLoader(audio_.get());
  recorder::SetAudioLoader(audio_.get());
  texteditor::SetCannedTextPicker(&gallery::RunGallery);
  ShowWindow(frame_->Handle(), show);
  UpdateWindow(frame_->Handle());
  return 1;
}

int Application::Shutdown() {
  AppContext& context = Context();
  if (frame_) frame_->List().SetBackground(nullptr);
  if (background_) DeleteObject(background_);
  background_ = nullptr;
  context.mainFrame = nullptr;
  if (frame_ && frame_->Handle()) DestroyWindow(frame_->Handle());
  frame_.reset();
  if (audio_) {
    // The playing-time hooks must not keep the player about to go.
    viewer::InstallMediaHooks(nullptr);
    gallery::SetAudioLoader(nullptr);
    recorder::SetAudioLoader(nullptr);
    texteditor::SetCannedTextPicker(nullptr);
    audio_.reset();
  }
  context.contacts = nullptr;
  if (contacts_) contacts_->Close();
  contacts_.reset();
  context.config = nullptr;
  config_.reset();
  context.resources = nullptr;
  if (resources_) resources_->Unload();
  resources_.reset();
  context.instance = nullptr;
  if (sim_) sim_->Close();
  sim_.reset();
  return 0;
}

HBITMAP Application::LoadBackground(const std::u16string& path) {
  if (!platform::FileExists(path)) return nullptr;
  imaging::Box box{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (box.width <= 0 || box.height <= 0) return nullptr;
  std::unique_ptr<imaging::PackedDib> picture = imaging::LoadImageFitted(path, &box, imaging::kTypeJpeg);
  if (!picture || picture->width() <= 0 || picture->height() <= 0) return nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = screen ? CreateCompatibleDC(screen) : nullptr;
  HBITMAP bitmap = memory ? CreateCompatibleBitmap(screen, picture->width(), picture->height()) : nullptr;
  bool drawn = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    drawn = StretchDIBits(memory, 0, 0, picture->width(), picture->height(), 0, 0, picture->width(),
                          picture->height(), picture->bits_data(),
                          reinterpret_cast<const BITMAPINFO*>(picture->data()), DIB_RGB_COLORS, SRCCOPY) > 0;
    SelectObject(memory, old);
  }
  if (memory) DeleteDC(memory);
  if (screen) ReleaseDC(nullptr, screen);
  if (bitmap && !drawn) {
    DeleteObject(bitmap);
    bitmap = nullptr;
  }
  return bitmap;
}

int Application::ForwardCommandLine(HWND target, const std::u16string& commandLine) {
  const std::u16string line = Trim(commandLine);
  if (line.size() < 5 || line.compare(0, 5, u"/rade") != 0) return 0;
  std::u16string path = Trim(std::u16string_view(line).substr(5));
  if (path.size() < 2) return 0;
  path = path.substr(1, path.size() - 2);
  if (path.empty() || !platform::FileExists(path)) return 0;
  store::ComposeRequest request;
  switch (presentation::KindClass(presentation::KindFromFileName(path))) {
    case 1:
      request.image = path;
      break;
    case 2:
      request.audio = path;
      break;
    case 3:
      request.text = path;
      break;
    case 4:
      request.video = path;
      break;
    default:
      return 0;
  }
  std::string record = store::EncodeImportRecord(request);
  COPYDATASTRUCT copy{0, static_cast<DWORD>(record.size()), record.data()};
  SendMessage(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
  return 1;
}

int Application::ShowMessage(HWND owner, UINT textId, UINT flags) {
  std::u16string text;
  const ResourceLibrary* library = Context().resources;
  if (!library || !library->LoadText(textId, &text)) text = u"Load text failed!";
  return ShowMessageText(owner, text, flags);
}

int Application::ShowMessageText(HWND owner, const std::u16string& text, UINT flags) {
  std::u16string caption;
  std::u16string body = text;
  const ResourceLibrary* library = Context().resources;
  if (!library || !library->LoadText(kStrCaption, &caption)) body += u"\nLoad caption failed!";
  modalBox_ = true;
  const int result = MessageBox(owner, body.c_str(), caption.c_str(), flags);
  modalBox_ = false;
  return result;
}

std::u16string Application::CutTitle(const std::u16string& text) {
  if (text.size() < 15) return text;
  return text.substr(0, 14) + u"...";
}

void Application::SetTitle(HWND window, const std::u16string& text) {
  SetWindowText(window, CutTitle(text).c_str());
  if (HWND tray = FindWindow(u"tray", u"tray")) PostMessage(tray, WM_USER, 4, 0);
}

HWND Application::CreateMenuBar(HWND window, UINT menuId) {
  const ResourceLibrary* library = Context().resources;
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = window;
  info.nToolBarId = menuId;
  info.hInstRes = library ? library->module() : nullptr;
  return SHCreateMenuBar(&info) ? info.hwndMB : nullptr;
}

}  // namespace ui
