// The transfer logs. A log that cannot be written is skipped silently: a transfer never
// fails because of its log.
#include "engine/transfer_log.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace engine {

TransferLog::TransferLog(std::u16string_view name, std::u16string_view directory)
    : path_(platform::JoinPath(directory.empty() ? platform::ProgramDataDirectory() : std::u16string(directory), name)) {}

void TransferLog::First(std::u16string_view line) {
  Write(line, true);
}

void TransferLog::Line(std::u16string_view line) {
  Write(line, false);
}

void TransferLog::Text(std::u16string_view label, std::string_view value) {
  Line(std::u16string(label) + platform::AnsiToWide(value));
}

void TransferLog::Number(std::u16string_view label, int value) {
  Line(std::u16string(label) + platform::Utf8ToUtf16(std::to_string(value)));
}

void TransferLog::Write(std::u16string_view line, bool fresh) {
  std::FILE* f = platform::OpenFile(path_, fresh ? u"wb" : u"ab");
  if (!f) return;
  std::string text = platform::WideToAnsi(line.substr(0, kLogLineMax));
  text += "\r\n";
  if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) std::fflush(f);
  std::fclose(f);
}

}  // namespace engine
