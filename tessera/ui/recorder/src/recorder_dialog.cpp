#include <memory>
#include <string>

#include "audio/capture.h"
#include "audio/clip_player.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/menubar.h"
#include "platform/text.h"
#include "recorder/recorder.h"
#include "recorder/recorder_ids.h"
#include "ui/common/app_context.h"
#include "ui/common/dialog_base.h"
#include "viewer/viewer_context.h"

namespace recorder {
namespace {

audio::AudioClipLoader*& Loader() {
  static audio::AudioClipLoader* loader = nullptr;
  return loader;
}

BOOL PostToWindow(void* window, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostMessage(static_cast<HWND>(window), message, wParam, lParam);
}

std::u16string Number(long n) {
  return platform::Utf8ToUtf16(std::to_string(n));
}

/// The dialog's face: the limit text at the top and the progress strip at the bottom.
class RecorderCanvas : public ui::WindowBase {
 public:
  std::u16string text;
  std::uint64_t position = 0;
  std::uint64_t duration = 0;
  int state = ids::kStateReady;

  void OnDraw(HDC dc) override {
    RECT client{};
    ClientRect(&client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    RECT top = client;
    InflateRect(&top, -ids::kTextInset, -ids::kTextInset);
    DrawText(dc, text.c_str(), static_cast<int>(text.size()), &top, DT_LEFT | DT_TOP | DT_WORDBREAK);
    viewer::DrawProgressBar(dc, viewer::ProgressBarRect(client), position, duration);
  }
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 private:
  LRESULT OnDescribe(WPARAM, LPARAM lParam) {
    if (auto* out = reinterpret_cast<std::string*>(lParam))
      *out += "recorder state=" + std::to_string(state) + " text=\"" + platform::Utf16ToUtf8(text) +
              "\" progress=" + std::to_string(position) + "/" + std::to_string(duration) + "\n";
    return 1;
  }
  static const ui::MessageMapEntry kEntries[];
};

const ui::MessageMapEntry RecorderCanvas::kEntries[] = {
    {ui::kEntryMessage, WM_PLATFORM_DESCRIBE, ui::Bind(&RecorderCanvas::OnDescribe)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable RecorderCanvas::kTable = {&ui::WindowBase::kTable, RecorderCanvas::kEntries};

class RecorderDialog : public ui::DialogBase {
 public:
  RecorderDialog(const std::u16string& folder, int number, std::u16string* result)
      : result_(result),
        wavPath_(folder + u"Rec_" + Number(number) + u".wav"),
        amrPath_(folder + u"Rec_" + Number(number) + u".amr") {}
  ~RecorderDialog() override { StopAll(); }

  bool OnInitDialog() override;
  LRESULT OnCancel(WPARAM wParam, LPARAM lParam) override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 private:
  LRESULT OnKey(WPARAM wParam, LPARAM lParam);
  LRESULT OnProgress(WPARAM wParam, LPARAM lParam);
  LRESULT OnDestroy(WPARAM, LPARAM) {
    if (!finished_) {
      StopAll();
      platform::DeleteFile(workingPath_);
    }
    return 0;
  }
  void SetKey(UINT textId);
  void StopAll();
  void Finish();
  static const ui::MessageMapEntry kEntries[];

  std::u16string* result_;
  std::u16string wavPath_, amrPath_, workingPath_;
  audio::AmrEncoderLibrary encoder_;
  std::unique_ptr<audio::CaptureEngine> engine_;
  RecorderCanvas canvas_;
  int state_ = ids::kStateReady;
  int maxMs_ = 1000;
  bool playing_ = false;
  bool finished_ = false;
};

const ui::MessageMapEntry RecorderDialog::kEntries[] = {
    {ui::kEntryCommand, ids::kCmdKey, ui::Bind(&RecorderDialog::OnKey)},
    {ui::kEntryMessage, ids::kMsgProgress, ui::Bind(&RecorderDialog::OnProgress)},
    {ui::kEntryMessage, WM_DESTROY, ui::Bind(&RecorderDialog::OnDestroy)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable RecorderDialog::kTable = {&ui::DialogBase::kTable, RecorderDialog::kEntries};

bool RecorderDialog::OnInitDialog() {
  const ui::ResourceLibrary* resources = ui::Context().resources;
  if (!resources) return false;
  const config::Config* config = ui::Context().config;
  maxMs_ = audio::MaxRecordingMs(config ? config->GetSendDefault() : 0, config ? config->GetRecordFileRatio() : 0);
  workingPath_ = wavPath_;
  if (config) encoder_.Load(config->GetAudioDecPath(false));
  engine_ = std::make_unique<audio::CaptureEngine>(hwnd_, &PostToWindow, &encoder_);

  SHINITDLGINFO info{SHIDIM_FLAGS, hwnd_, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&info);
  SHMENUBARINFO mb{};
  mb.cbSize = sizeof mb;
  mb.hwndParent = hwnd_;
  mb.nToolBarId = ids::kMenuBar;
  mb.hInstRes = resources->module();
  SHCreateMenuBar(&mb);
  SetWindowText(hwnd_, resources->LoadText(ids::kStrRecord).c_str());
  SetKey(ids::kStrRecord);

  RECT client{};
  ClientRect(&client);
  canvas_.text = resources->LoadText(ids::kStrLimit) + u" " + Number(maxMs_ / 1000) + u" " +
                 resources->LoadText(ids::kStrSeconds);
  canvas_.duration = static_cast<std::uint64_t>(maxMs_);
  canvas_.Create(u"TesseraRecorderCanvas", u"", WS_CHILD | WS_VISIBLE, 0, 0, client.right, client.bottom, hwnd_);
  return true;
}

void RecorderDialog::SetKey(UINT textId) {
  viewer::SetSoftKeyLabel(hwnd_, ids::kCmdKey, ui::LoadUiText(textId));
  canvas_.state = state_;
  canvas_.Invalidate();
}

LRESULT RecorderDialog::OnKey(WPARAM, LPARAM) {
  audio::AudioClipLoader* loader = Loader();
  if (playing_) {
    if (loader) loader->StopClip();
    playing_ = false;
    state_ = ids::kStateReviewed;
    SetKey(ids::kStrDone);
    return 0;
  }
  switch (state_) {
    case ids::kStateReady: {
      if (encoder_.RealTime()) {
        workingPath_ = amrPath_;
      } else if (!audio::BeginWavRecording(workingPath_)) {
        return 0;
      }
      if (!engine_->Start(workingPath_, maxMs_)) {
        platform::DeleteFile(workingPath_);
        return 0;  // no microphone: stays ready
      }
      state_ = ids::kStateRecording;
      canvas_.position = 0;
      SetKey(ids::kStrStop);
      return 0;
    }
    case ids::kStateRecording: {
      if (!engine_->recording()) return 0;
      const bool got = engine_->Stop() == 1;
      if (!encoder_.RealTime()) audio::FinishWavRecording(workingPath_);
      state_ = got ? ids::kStateRecorded : ids::kStateReady;
      SetKey(got ? ids::kStrPlay : ids::kStrRecord);
      return 0;
    }
    case ids::kStateRecorded:
      state_ = ids::kStateReviewed;
      if (loader && loader->OpenClip(workingPath_, hwnd_) >= 0 && loader->PlayClip() == 0) {  // 0: playing
        playing_ = true;
        SetKey(ids::kStrStop);
      } else {
        SetKey(ids::kStrDone);
      }
      return 0;
    case ids::kStateReviewed:
      Finish();
      return 0;
    default:
      return 0;
  }
}

LRESULT RecorderDialog::OnProgress(WPARAM wParam, LPARAM lParam) {
  canvas_.position = static_cast<std::uint64_t>(static_cast<std::uint32_t>(wParam));
  canvas_.duration = static_cast<std::uint64_t>(static_cast<std::uint32_t>(lParam));
  canvas_.Invalidate();
  // Playback reports its end as position reaching the length.
  if (playing_ && lParam > 0 && static_cast<LPARAM>(wParam) >= lParam) {
    playing_ = false;
    SetKey(ids::kStrDone);
  }
  return 0;
}

void RecorderDialog::Finish() {
  std::u16string result = workingPath_;
  if (!encoder_.RealTime() && encoder_.wav2amr) {
    std::u16string wav = wavPath_, amr = amrPath_;
    wav.resize(ids::kConversionPathChars, u'\0');
    amr.resize(ids::kConversionPathChars, u'\0');
    if (wavPath_.size() < ids::kConversionPathChars && amrPath_.size() < ids::kConversionPathChars &&
        encoder_.wav2amr(wav.c_str(), amr.c_str(), 0, 0) == 0) {
      platform::DeleteFile(wavPath_);
      result = amrPath_;
    } else {
      const std::u16string text = ui::LoadUiText(ids::kStrFailed), caption = ui::LoadUiText(ids::kStrCaption);
      MessageBox(hwnd_, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
    }
  }
  if (result_) *result_ = result;
  finished_ = true;
  End(1);
}

void RecorderDialog::StopAll() {
  if (engine_ && engine_->recording()) engine_->Stop();
  if (playing_ && Loader()) Loader()->StopClip();
  if (Loader() && state_ >= ids::kStateRecorded) Loader()->CloseClip();
  playing_ = false;
}

LRESULT RecorderDialog::OnCancel(WPARAM, LPARAM) {
  StopAll();
  platform::DeleteFile(workingPath_);
  finished_ = true;
  End(0);
  return 0;
}

}  // namespace

int RunRecorder(HWND owner, const std::u16string& folder, std::u16string* result, int number) {
  const ui::ResourceLibrary* resources = ui::Context().resources;
  if (!resources || !resources->loaded()) return 0;
  RecorderDialog dialog(folder, number, result);
  return dialog.DoModal(resources->module(), ids::kDialog, owner) == 1 ? 1 : 0;
}

void SetAudioLoader(audio::AudioClipLoader* loader) {
  Loader() = loader;
}

}  // namespace recorder
