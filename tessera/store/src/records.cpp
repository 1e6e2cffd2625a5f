// Index files, the options file and the state rules: pure functions over bytes and values.
#include <algorithm>
#include <cstring>

#include "store/message_store.h"
#include "store_internal.h"

namespace store {
namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kFixedSize = 60;

std::uint32_t GetU32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A string of the string area: UTF-16LE up to its terminator or the end of its length.
std::u16string TakeString(const unsigned char* p, std::size_t bytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    char16_t c = static_cast<char16_t>(p[i] | p[i + 1] << 8);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

// How many characters of `text` go into a record with room for `room`: never half of a
// surrogate pair, and in an address list ("+1;+2", "a@b, c@d") never part of an address.
std::size_t FittingChars(const std::u16string& text, std::size_t room, bool addresses) {
  if (text.size() <= room) return text.size();
  std::size_t n = room;
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  if (!addresses) return n;
  // Up to the last separator that fits, without it.
  while (n > 0 && text[n] != u';' && text[n] != u',') --n;
  return n;
}

}  // namespace

bool SummaryFits(const MessageSummary& s) {
  const std::size_t chars = s.From().size() + s.To().size() + s.Subject().size() + s.ContentLocation().size() +
                            s.TransactionId().size() + s.MmsMessageId().size();
  return chars <= kRecordStringBytes / 2 - 6;
}

bool ParseIndex(std::string_view bytes, const std::u16string& storeDirectory,
                std::vector<std::unique_ptr<MessageEntry>>& entries, std::uint32_t& maxId) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t size = bytes.size();
  if (size < kHeaderSize || GetU32(data) != 1) return false;
  std::uint32_t count = GetU32(data + 8);
  std::size_t offset = GetU32(data + 12);
  // Every record takes at least its fixed part, so a count the file cannot hold is bad.
  if (offset > size || count > (size - offset) / kFixedSize) return false;
  std::vector<std::unique_ptr<MessageEntry>> read;
  read.reserve(count);
  std::uint32_t highest = maxId;
  for (std::uint32_t n = 0; n < count; ++n) {
    if (size - offset < kFixedSize) return false;
    const unsigned char* fixed = data + offset;
    offset += kFixedSize;
    std::uint32_t length = GetU32(fixed);
    if (length < kFixedSize) return false;
    std::uint32_t id = GetU32(fixed + 4);
    auto entry = std::make_unique<MessageEntry>(id, storeDirectory);
    MessageSummary& s = entry->Summary();
    highest = std::max(highest, id);
    s.SetStateFlags(GetU32(fixed + 12));
    s.SetExtraFlags(GetU32(fixed + 16));
    s.SetMessageType(GetU32(fixed + 8));
    s.SetSize(GetU32(fixed + 20));
    s.SetDate(GetU32(fixed + 24));
    if (length - kFixedSize > 1) {
      std::size_t area = (length - kFixedSize) & ~std::size_t{1};
      if (size - offset < area) return false;
      const unsigned char* strings = data + offset;
      offset += area;
      // Lengths in the order the strings follow each other in the area.
      const std::uint32_t lengths[6] = {GetU32(fixed + 28), GetU32(fixed + 32), GetU32(fixed + 36),
                                        GetU32(fixed + 40), GetU32(fixed + 52), GetU32(fixed + 56)};
      std::u16string texts[6];
      std::size_t at = 0;
      for (int i = 0; i < 6; ++i) {
        if (lengths[i] == 0) continue;
        at &= ~std::size_t{1};
        if (lengths[i] > area - at) return false;
        texts[i] = TakeString(strings + at, lengths[i]);
        at += lengths[i];
      }
      s.SetFrom(std::move(texts[0]));
      s.SetTo(std::move(texts[1]));
      s.SetSubject(std::move(texts[2]));
      s.SetContentLocation(std::move(texts[3]));
      s.SetTransactionId(std::move(texts[4]));
      s.SetMmsMessageId(std::move(texts[5]));
    }
    read.push_back(std::move(entry));
  }
  maxId = highest;
  for (auto& entry : read) entries.push_back(std::move(entry));
  return true;
}

std::string BuildIndex(FolderId folderId, const std::vector<const MessageSummary*>& entries) {
  std::string out;
  PutU32(out, 1);
  PutU32(out, static_cast<std::uint32_t>(folderId));
  PutU32(out, static_cast<std::uint32_t>(entries.size()));
  PutU32(out, kHeaderSize);
  for (const MessageSummary* s : entries) {
    // What the store took in was checked to fit (SummaryFits); texts from elsewhere that do not
    // are cut so that the six strings and their terminators fit the record's string buffer,
    // the budget going to the strings in their stored order, at whole characters and, for
    // the address fields, at whole addresses.
    const std::u16string* source[6] = {
        &s->From(), &s->To(), &s->Subject(), &s->ContentLocation(), &s->TransactionId(), &s->MmsMessageId()};
    std::size_t budget = kRecordStringBytes / 2 - 6;
    std::uint32_t lengths[6] = {};
    std::string area;
    for (int i = 0; i < 6; ++i) {
      std::size_t chars = FittingChars(*source[i], budget, i <= 1);
      budget -= chars;
      if (chars == 0) continue;
      lengths[i] = static_cast<std::uint32_t>((chars + 1) * 2);
      for (std::size_t c = 0; c < chars; ++c) {
        char16_t ch = (*source[i])[c];
        area.push_back(static_cast<char>(ch & 0xFF));
        area.push_back(static_cast<char>(ch >> 8));
      }
      area.append(2, '\0');
    }
    std::uint32_t state = s->StateFlags();
    if (folderId != FolderId::Outbox) state = (state & 0xFFFF) | kStateComplete;
    PutU32(out, static_cast<std::uint32_t>(kFixedSize + area.size()));
    PutU32(out, s->MessageId());
    PutU32(out, s->MessageType());
    PutU32(out, state);
    PutU32(out, s->ExtraFlags());
    PutU32(out, s->Size());
    PutU32(out, s->Date());
    PutU32(out, lengths[0]);
    PutU32(out, lengths[1]);
    PutU32(out, lengths[2]);
    PutU32(out, lengths[3]);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, lengths[4]);
    PutU32(out, lengths[5]);
    out += area;
  }
  return out;
}

std::string EncodeOptionsFile(const SendOptionsRecord& r) {
  std::string out;
  out.push_back(static_cast<char>(kOptionsMarker));
  out.push_back(static_cast<char>(r.status));
  out.push_back(static_cast<char>(r.messageClass));
  out.push_back(static_cast<char>(r.priority));
  out.push_back(static_cast<char>(r.senderVisibility));
  for (std::uint32_t v :
       {r.deliveryReport, r.readReply, r.expiryForm, r.deliveryTimeForm, r.date, r.expiry, r.deliveryTime})
    PutU32(out, v);
  PutU32(out, kOptionsFileSize);
  return out;
}

std::optional<SendOptionsRecord> DecodeOptionsFile(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 5 || p[0] != kOptionsMarker || GetU32(p + bytes.size() - 4) != bytes.size() ||
      bytes.size() < 1 + kOptionsRecordSize)
    return std::nullopt;
  SendOptionsRecord r;
  r.status = p[1];
  r.messageClass = p[2];
  r.priority = p[3];
  r.senderVisibility = p[4];
  r.deliveryReport = GetU32(p + 5);
  r.readReply = GetU32(p + 9);
  r.expiryForm = GetU32(p + 13);
  r.deliveryTimeForm = GetU32(p + 17);
  r.date = GetU32(p + 21);
  r.expiry = GetU32(p + 25);
  r.deliveryTime = GetU32(p + 29);
  return r;
}

DWORD RetrySettings::Interval(DWORD n) const {
  if (n >= 1 && n <= intervals.size()) return intervals[n - 1];
  return 60;
}

RetrySettings RetrySettings::Read() {
  const char16_t* kKey = config::kTryLimitKey;
  RetrySettings settings;
  settings.tryDefault = std::min<DWORD>(internal::ReadDword(kKey, u"TryDefault", 0), 5);
  for (DWORD n = 1; n <= settings.tryDefault; ++n) {
    std::u16string name = u"Interval";
    for (char c : std::to_string(n)) name.push_back(static_cast<char16_t>(c));
    settings.intervals.push_back(internal::ReadDword(kKey, name.c_str(), 60));
  }
  return settings;
}

std::uint32_t StateAfter(StateEvent event) {
  switch (event) {
    case StateEvent::StoredComposed:
      return kStateComplete;
    case StateEvent::QueuedSend:
      return kStateQueued;
    case StateEvent::RequeuedSend:
      return kStateQueued;
    case StateEvent::RequeuedFetch:
      return kStateNotFetched | kStateQueued;
    case StateEvent::QueuedFetch:
      return kStateNotFetched | kStateQueued;
    case StateEvent::StartedSend:
      return kStateInProgress;
    case StateEvent::StartedFetch:
      return kStateNotFetched | kStateInProgress;
    case StateEvent::Sent:
      return kStateComplete;
    case StateEvent::SendFailedRetry:
      return kStateWaitRetry;
    case StateEvent::SendFailedFinal:
      return kStateFailed;
    case StateEvent::Fetched:
      return kStateComplete;
    case StateEvent::FetchFailed:
      return kStateNotFetched | kStateComplete;
    case StateEvent::NotifyResponseFinished:
      return kStateNotFetched | kStateComplete;
    case StateEvent::BackToDraft:
      return 0;
  }
  return 0;
}

SendFailure AfterSendFailure(DWORD priority, DWORD minute, const RetrySettings& settings) {
  SendFailure result;
  result.minute = minute;
  if (priority < settings.tryDefault) result.minute = settings.Interval(priority + 1);
  result.priority = priority + 1;
  result.final = result.priority >= settings.tryDefault;
  return result;
}

OutboxAction OutboxPassAction(std::uint32_t state, bool autoResend, DWORD tryDefault) {
  OutboxAction action;
  bool failed = (state & kStateFailed) != 0;
  if (autoResend) {
    action.queue = true;
    if (failed) {
      action.priority = tryDefault;
      action.minute = 0;
      action.plainState = kStateQueued | (state & 0xFFFF);
      action.keepState = true;
    } else if ((state & kStateInProgress) || (state & kStateComplete) ||
               !(state & (kStateQueued | kStateWaitRetry))) {
      action.keepState = false;  // queued afresh: Priority 0, Minute 0, queued, new form
    } else {
      action.keepState = true;
    }
    return action;
  }
  if (failed) return action;
  action.queue = true;
  action.keepState = true;
  action.plainState = kStateWaitRetry | (state & 0xFFFF);
  action.minute = 1;
  return action;
}

}  // namespace store
