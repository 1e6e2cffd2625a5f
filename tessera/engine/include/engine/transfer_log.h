#pragma once
/// The plain-text logs of the last transfer attempt: "Send.txt" for send jobs and "Recv.txt"
/// for fetch jobs, beside the program in its data folder of the device. A job's first line creates its log anew, so
/// each log holds the latest attempt only; the later lines append. Lines end in CR LF.
#include <string>
#include <string_view>

namespace engine {

inline constexpr const char16_t* kSendLogName = u"Send.txt";
inline constexpr const char16_t* kRecvLogName = u"Recv.txt";
/// Longest line, in characters, before the line end.
inline constexpr std::size_t kLogLineMax = 1024;

class TransferLog {
 public:
  /// A log named `name` in `directory` (platform::ProgramDataDirectory() when empty).
  explicit TransferLog(std::u16string_view name, std::u16string_view directory = {});
  /// Writes the job's first line, replacing the file.
  void First(std::u16string_view line);
  /// Appends a line (creating the file when it is missing).
  void Line(std::u16string_view line);
  /// "<label>%s": label followed by a text.
  void Text(std::u16string_view label, std::u16string_view value) { Line(std::u16string(label) + std::u16string(value)); }
  void Text(std::u16string_view label, std::string_view value);
  /// "<label>%d".
  void Number(std::u16string_view label, int value);
  const std::u16string& Path() const { return path_; }

 private:
  void Write(std::u16string_view line, bool fresh);
  std::u16string path_;
};

}  // namespace engine
