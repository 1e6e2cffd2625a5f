// mmstool: the MMS encapsulation from the command line.
//
//   mmstool decode FILE
//   mmstool classify FILE
//   mmstool parts FILE.pdu
//   mmstool extract FILE.pdu DIR
//   mmstool encode send-req --to LIST [options] OUT
//   mmstool encode notifyresp-ind --transaction-id T --status 0x81|0x83 OUT
//   mmstool encode acknowledge-ind --transaction-id T OUT
//   mmstool package build OUT [--root SMILFILE] FILE[:CONTENT-TYPE[:CONTENT-ID]]...
//   mmstool package list FILE
//   mmstool package extract FILE DIR

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mms/charset.h"
#include "mms/mms_pdu.h"
#include "mms/multipart.h"
#include "mms/wsp.h"
#include "platform/text.h"
#include "slides.h"
#include "toolargs/toolargs.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage:\n"
    "  mmstool decode FILE\n"
    "  mmstool classify FILE\n"
    "  mmstool parts FILE.pdu\n"
    "  mmstool extract FILE.pdu DIR\n"
    "  mmstool encode send-req --to LIST [--cc LIST] [--bcc LIST] [--from ADDR] [--subject TEXT]\n"
    "          [--subject-charset N] [--date N] [--expiry N [--absolute]] [--delivery-report]\n"
    "          [--read-reply] [--priority 0x80..0x82] [--class 0x80..0x83]\n"
    "          [--content-type TYPE [--type T] [--start S] | --body PACKAGE] [--transaction-id T] OUT\n"
    "  mmstool encode notifyresp-ind --transaction-id T --status 0x81|0x83 OUT\n"
    "  mmstool encode acknowledge-ind --transaction-id T OUT\n"
    "  mmstool package build OUT [--root SMILFILE] FILE[:CONTENT-TYPE[:CONTENT-ID]]...\n"
    "  mmstool package list FILE\n"
    "  mmstool package extract FILE DIR\n"
    "  mmstool slides PACKAGE\n"
    "  mmstool compose OUT.pkg [--slide] FILE...\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "mmstool: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "mmstool: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Reads a whole regular file; a folder, a missing file or a read error is "cannot read".
bool ReadFile(const std::string& path, std::vector<std::uint8_t>* out) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  std::uint8_t chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteFile(const std::string& path, const mms::ByteBuffer& data) {
  if (std::string error; !toolargs::MakeOutputFolder(path, &error)) {
    std::fprintf(stderr, "mmstool: %s\n", error.c_str());
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data.data(), 1, static_cast<std::size_t>(data.length()), f) ==
                  static_cast<std::size_t>(data.length());
  return std::fclose(f) == 0 && ok;
}

// Octets are printed with every octet outside printable ASCII as \xNN.
std::string Escape(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c <= 0x7E) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// UTF-8 text is printed as it is, with control characters and octets that are not part of a
// valid sequence as \xNN.
std::string Readable(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (c >= 0x80 && (n > text.size() - i || !mms::IsValidUtf8(text.substr(i, n)))) n = 0;
    if (c >= 0x20 && c != 0x7F && n > 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += Escape(text.substr(i, 1));
      ++i;
    }
  }
  return out;
}

// A received text as readable UTF-8 by its charset; an unknown charset keeps escaped octets.
std::string ReadableText(const mms::StringValue& value) {
  std::string utf8;
  if (!mms::ConvertToUtf8(value.text, value.charset, &utf8)) return Escape(value.text);
  return Readable(utf8);
}

std::string Hex(std::uint8_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

bool ParseNumber(std::string_view text, std::uint32_t* value) {
  std::string s(text);
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno != 0 || *end != 0 || v > 0xFFFFFFFFull) return false;
  *value = static_cast<std::uint32_t>(v);
  return true;
}

// ---- decode / classify ----------------------------------------------------------------------

void PrintHeaders(const mms::MmsHeaders& h, const std::optional<mms::ByteBuffer>& body) {
  using F = mms::MmsField;
  const auto line = [](const char* name, const std::string& value) {
    std::printf("%s: %s\n", name, value.c_str());
  };
  const auto text = [&](F field, const char* name, std::string_view value) {
    if (h.Decoded(field)) line(name, Readable(value));
  };
  const auto octet = [&](F field, const char* name, std::uint8_t value) {
    if (h.Decoded(field)) line(name, Hex(value));
  };
  const auto time = [&](F field, const char* name, std::uint32_t value, bool absolute) {
    if (h.Decoded(field)) line(name, std::to_string(value) + (absolute ? " (absolute)" : " (relative)"));
  };
  const auto encoded = [&](F field, const char* name, const std::optional<mms::StringValue>& value,
                           bool withCharset) {
    if (!h.Decoded(field)) return;
    if (!value)
      line(name, "");
    else if (withCharset)
      line(name, ReadableText(*value) + " (charset " + std::to_string(value->charset) + ")");
    else
      line(name, ReadableText(*value));
  };
  octet(F::MessageType, "message-type", h.messageType);
  text(F::TransactionId, "transaction-id", h.transactionId.view());
  octet(F::MmsVersion, "mms-version", h.mmsVersion);
  if (h.Decoded(F::Date)) line("date", std::to_string(h.date));
  text(F::From, "from", h.from.view());
  text(F::To, "to", h.to.view());
  text(F::Cc, "cc", h.cc.view());
  text(F::Bcc, "bcc", h.bcc.view());
  encoded(F::Subject, "subject", h.subject, true);
  if (h.Decoded(F::ContentType)) {
    line("content-type", Escape(h.contentType.view()));
    if (!h.typeParam.empty()) line("type", Escape(h.typeParam.view()));
    if (!h.startParam.empty()) line("start", Escape(h.startParam.view()));
  }
  text(F::ContentLocation, "content-location", h.contentLocation.view());
  text(F::MessageId, "message-id", h.messageId.view());
  if (h.Decoded(F::MessageSize)) line("message-size", std::to_string(h.messageSize));
  time(F::Expiry, "expiry", h.expiry, h.expiryAbsolute);
  time(F::DeliveryTime, "delivery-time", h.deliveryTime, h.deliveryTimeAbsolute);
  if (h.Decoded(F::DeliveryReport)) line("delivery-report", h.deliveryReport ? "1" : "0");
  if (h.Decoded(F::ReportAllowed)) line("report-allowed", h.reportAllowed ? "1" : "0");
  if (h.Decoded(F::ReadReply)) line("read-reply", h.readReply ? "1" : "0");
  if (h.Decoded(F::MessageClass) && !h.messageClassText.empty())
    line("message-class", Readable(h.messageClassText.view()));
  else
    octet(F::MessageClass, "message-class", h.messageClass);
  octet(F::Priority, "priority", h.priority);
  octet(F::SenderVisibility, "sender-visibility", h.senderVisibility);
  octet(F::Status, "status", h.status);
  octet(F::ResponseStatus, "response-status", h.responseStatus);
  encoded(F::ResponseText, "response-text", h.responseText, false);
  octet(F::RetrieveStatus, "retrieve-status", h.retrieveStatus);
  encoded(F::RetrieveText, "retrieve-text", h.retrieveText, false);
  octet(F::ReadStatus, "read-status", h.readStatus);
  text(F::PreviouslySentBy, "previously-sent-by", h.previouslySentBy.view());
  if (h.Decoded(F::PreviouslySentDate)) line("previously-sent-date", std::to_string(h.previouslySentDate));
  if (body) line("body-length", std::to_string(body->length()));
}

// Reads and decodes a PDU file, bare or in a WSP push; prints the failure and returns false.
bool DecodeFile(const std::string& file, std::vector<std::uint8_t>* data, std::size_t* offset,
                mms::MmsHeaders* headers, std::optional<mms::ByteBuffer>* body) {
  if (!ReadFile(file, data)) {
    Fail("cannot read " + file);
    return false;
  }
  *offset = 0;
  if (!mms::LocateMmsPdu(data->data(), data->size(), offset)) {
    if (data->size() >= 2 && (*data)[1] == 0x06) {
      Fail(file + ": push PDU does not carry an MMS message");
      return false;
    }
    *offset = 0;
  }
  mms::ClearHeaders(*headers);
  if (!mms::DecodePdu(data->data() + *offset, data->size() - *offset, *headers, body)) {
    Fail(file + (data->empty() ? ": empty file" : ": not a valid MMS PDU"));
    return false;
  }
  return true;
}

int Decode(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("decode takes one FILE");
  std::vector<std::uint8_t> data;
  std::size_t offset = 0;
  mms::MmsHeaders headers;
  std::optional<mms::ByteBuffer> body;
  if (!DecodeFile(args[0], &data, &offset, &headers, &body)) return 1;
  PrintHeaders(headers, body);
  return 0;
}

int Classify(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("classify takes one FILE");
  std::vector<std::uint8_t> data;
  if (!ReadFile(args[0], &data)) return Fail("cannot read " + args[0]);
  switch (mms::ClassifyPush(data.data(), data.size())) {
    case mms::PushKind::Notification:
      std::puts("notification");
      break;
    case mms::PushKind::DeliveryReport:
      std::puts("delivery-report");
      break;
    case mms::PushKind::ReadReport:
      std::puts("read-report");
      break;
    case mms::PushKind::Unknown:
      std::puts("unknown");
      break;
    case mms::PushKind::Error:
      std::puts("error");
      return Fail(args[0] + ": shorter than 2 octets");
  }
  return 0;
}

// ---- encode ---------------------------------------------------------------------------------

struct Options {
  std::map<std::string, std::string> values;
  std::vector<std::string> positional;
};

// Splits arguments into --name VALUE pairs, --flags and positionals.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<std::string>& withValue,
                  const std::vector<std::string>& flags, Options* out, std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0) {
      out->positional.push_back(a);
      continue;
    }
    const std::string name = a.substr(2);
    if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
      out->values[name] = "1";
    } else if (std::find(withValue.begin(), withValue.end(), name) != withValue.end()) {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return false;
      }
      out->values[name] = args[++i];
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

bool OctetOption(const Options& o, const char* name, std::uint8_t low, std::uint8_t high, std::uint8_t* value,
                 std::string* error) {
  const auto it = o.values.find(name);
  if (it == o.values.end()) return true;
  std::uint32_t v = 0;
  if (!ParseNumber(it->second, &v) || v < low || v > high) {
    *error = std::string("--") + name + " must be " + Hex(low) + ".." + Hex(high);
    return false;
  }
  *value = static_cast<std::uint8_t>(v);
  return true;
}

bool NumberOption(const Options& o, const char* name, std::uint32_t* value, std::string* error) {
  const auto it = o.values.find(name);
  if (it == o.values.end()) return true;
  if (!ParseNumber(it->second, value)) {
    *error = std::string("--") + name + " must be a number";
    return false;
  }
  return true;
}

std::string Value(const Options& o, const char* name) {
  const auto it = o.values.find(name);
  return it == o.values.end() ? std::string() : it->second;
}

bool Has(const Options& o, const char* name) {
  return o.values.count(name) != 0;
}

int EncodeSendReq(const std::vector<std::string>& args) {
  Options o;
  std::string error;
  if (!ParseOptions(args,
                    {"to", "cc", "bcc", "from", "subject", "subject-charset", "date", "expiry", "priority",
                     "class", "content-type", "type", "start", "transaction-id", "body"},
                    {"absolute", "delivery-report", "read-reply"}, &o, &error))
    return Usage(error);
  if (o.positional.size() != 1) return Usage("encode send-req takes one OUT file");
  if (!Has(o, "to")) return Usage("encode send-req needs --to");

  mms::SendRequest req;
  req.to = Value(o, "to");
  req.cc = Value(o, "cc");
  req.bcc = Value(o, "bcc");
  req.from = Value(o, "from");
  req.deliveryReport = Has(o, "delivery-report");
  req.readReply = Has(o, "read-reply");
  req.expiryAbsolute = Has(o, "absolute");
  if (!NumberOption(o, "date", &req.date, &error) || !NumberOption(o, "expiry", &req.expiry, &error) ||
      !OctetOption(o, "priority", 0x80, 0x82, &req.priority, &error) ||
      !OctetOption(o, "class", 0x80, 0x83, &req.messageClass, &error))
    return Usage(error);
  if (Has(o, "subject")) {
    // The subject is typed in UTF-8 and goes out in the charset asked for.
    const std::string typed = Value(o, "subject");
    if (!mms::IsValidUtf8(typed)) return Fail("--subject is not UTF-8 text");
    const bool ascii =
        std::all_of(typed.begin(), typed.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    std::uint32_t charset = ascii ? mms::kCharsetUsAscii : mms::kCharsetUtf8;
    if (!NumberOption(o, "subject-charset", &charset, &error)) return Usage(error);
    if (charset == 0 || charset > 0x7FFFFFFF) return Usage("--subject-charset must be a MIBenum number");
    mms::StringValue subject;
    subject.charset = static_cast<std::int32_t>(charset);
    if (!mms::CharsetName(subject.charset, nullptr))
      return Fail("--subject-charset " + std::to_string(charset) + " is not a charset mmstool can write");
    if (!mms::ConvertFromUtf8(typed, subject.charset, &subject.text))
      return Fail("the subject cannot be written in charset " + std::to_string(charset));
    req.subject = subject;
  }

  mms::MmsHeaders headers;
  mms::ClearHeaders(headers);
  if (!mms::LoadSendRequest(headers, req))
    return Fail("an address list or the sender does not fit its field");
  // With --body the PDU carries a package file: its Content-Type becomes the PDU's last
  // header and its entries follow as the body.
  std::vector<std::uint8_t> body;
  if (Has(o, "body")) {
    if (Has(o, "content-type") || Has(o, "type") || Has(o, "start"))
      return Usage("--body takes the content type from the package");
    const std::string file = Value(o, "body");
    auto in = mms::ByteStream::OpenFileUtf8(file.c_str(), mms::ByteStream::kRead);
    mms::ContentTypeValue ct;
    if (!in) return Fail("cannot read " + file);
    if ((in->ReadOctet() & 0x7F) != 0x04 || in->AtEnd() || !mms::StreamDecodeContentType(*in, ct) ||
        ct.mediaType.empty())
      return Fail(file + ": not a package file");
    const std::int64_t rest = in->Size() - in->Tell();
    body.resize(static_cast<std::size_t>(rest));
    if (in->Read(body.data(), rest) != rest) return Fail("cannot read " + file);
    headers.contentType = ct.mediaType;
    headers.typeParam = ct.typeParam;
    headers.startParam = ct.startParam;
  } else {
    const std::string type =
        Has(o, "content-type") ? Value(o, "content-type") : std::string(mms::kMultipartMixed);
    if (!headers.contentType.Assign(type) || !headers.typeParam.Assign(Value(o, "type")) ||
        !headers.startParam.Assign(Value(o, "start")))
      return Fail("content type, --type or --start longer than 127 octets");
  }
  if (Has(o, "transaction-id")) {
    if (!headers.transactionId.Assign(Value(o, "transaction-id")) || headers.transactionId.empty())
      return Fail("--transaction-id must be 1..127 octets");
  } else if (!mms::GenerateTransactionId(headers)) {
    return Fail("cannot generate a transaction id");
  }
  auto pdu = mms::EncodePdu(headers);
  if (!pdu) return Fail("the PDU cannot be encoded");
  if (!body.empty() && !pdu->Append(body.data(), static_cast<std::int32_t>(body.size())))
    return Fail("the body does not fit in memory");
  if (!WriteFile(o.positional[0], *pdu)) return Fail("cannot write " + o.positional[0]);
  return 0;
}

int EncodeShort(const std::vector<std::string>& args, std::uint8_t messageType) {
  Options o;
  std::string error;
  const bool notifyResp = messageType == mms::kNotifyRespInd;
  std::vector<std::string> withValue = {"transaction-id"};
  if (notifyResp) withValue.push_back("status");
  if (!ParseOptions(args, withValue, {}, &o, &error)) return Usage(error);
  if (o.positional.size() != 1) return Usage("encode takes one OUT file");
  mms::MmsHeaders headers;
  mms::ClearHeaders(headers);
  headers.messageType = messageType;
  if (!headers.transactionId.Assign(Value(o, "transaction-id")) || headers.transactionId.empty())
    return Usage("--transaction-id must be 1..127 octets");
  if (notifyResp) {
    if (!Has(o, "status")) return Usage("encode notifyresp-ind needs --status");
    if (!OctetOption(o, "status", 0x80, 0x84, &headers.status, &error)) return Usage(error);
  }
  const auto pdu = mms::EncodePdu(headers);
  if (!pdu) return Fail("the PDU cannot be encoded");
  if (!WriteFile(o.positional[0], *pdu)) return Fail("cannot write " + o.positional[0]);
  return 0;
}

int Encode(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("encode needs a PDU kind");
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "send-req") return EncodeSendReq(rest);
  if (args[0] == "notifyresp-ind") return EncodeShort(rest, mms::kNotifyRespInd);
  if (args[0] == "acknowledge-ind") return EncodeShort(rest, mms::kAcknowledgeInd);
  return Usage("unknown PDU kind " + args[0]);
}

// ---- package --------------------------------------------------------------------------------

std::string GuessContentType(const fs::path& path) {
  static const std::map<std::string, std::string> kByExtension = {{".jpg", "image/jpeg"},
                                                                  {".jpeg", "image/jpeg"},
                                                                  {".gif", "image/gif"},
                                                                  {".png", "image/png"},
                                                                  {".bmp", "image/bmp"},
                                                                  {".wbmp", "image/vnd.wap.wbmp"},
                                                                  {".txt", "text/plain;charset=utf_8"},
                                                                  {".smil", "application/smil"},
                                                                  {".amr", "audio/amr"},
                                                                  {".wav", "audio/wav"},
                                                                  {".mid", "audio/midi"},
                                                                  {".midi", "audio/midi"},
                                                                  {".3gp", "video/3gpp"},
                                                                  {".mp4", "video/mp4"},
                                                                  {".dcf", "application/vnd.oma.drm.content"},
                                                                  {".dm", "application/vnd.oma.drm.message"}};
  std::string ext = path.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto it = kByExtension.find(ext);
  return it == kByExtension.end() ? "application/octet-stream" : it->second;
}

// A text/plain part says its charset: one that is named must be one the package can carry, and an
// unnamed one is found from the file (ASCII stays us-ascii, UTF-8 is labelled so).
bool LabelCharset(const std::string& file, std::string* contentType, std::string* error) {
  std::string media, charset;
  mms::SplitContentType(*contentType, "charset", &media, &charset);
  if (media != "text/plain") return true;
  if (!charset.empty()) {
    if (mms::CharsetFromName(charset) != 0) return true;
    *error = file + ": unknown charset " + charset;
    return false;
  }
  std::vector<std::uint8_t> data;
  if (!ReadFile(file, &data)) {
    *error = "cannot read " + file;
    return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return true;
  if (!mms::IsValidUtf8(text)) {
    *error = file + ": not ASCII or UTF-8; give its charset (" + media + ";charset=NAME)";
    return false;
  }
  *contentType += ";charset=utf_8";
  return true;
}

void SplitPath(const std::string& file, std::u16string* directory, std::u16string* name) {
  const fs::path p = fs::absolute(fs::path(file));
  *directory = platform::Utf8ToUtf16(p.parent_path().string());
  *name = platform::Utf8ToUtf16(p.filename().string());
}

int PackageBuild(const std::vector<std::string>& args) {
  std::string out, root, error;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--root") {
      if (i + 1 >= args.size()) return Usage("--root needs a SMIL file");
      root = args[++i];
    } else if (out.empty()) {
      out = args[i];
    } else {
      files.push_back(args[i]);
    }
  }
  if (out.empty()) return Usage("package build needs OUT");
  if (files.empty() && root.empty()) return Usage("package build needs at least one file");
  auto pkg = mms::MultipartPackage::Create();
  for (const std::string& spec : files) {
    // FILE[:CONTENT-TYPE[:CONTENT-ID]]; the Content-ID may itself hold colons.
    const std::size_t c1 = spec.find(':');
    const std::string file = spec.substr(0, c1);
    mms::PartDescriptor d;
    if (c1 != std::string::npos) {
      const std::size_t c2 = spec.find(':', c1 + 1);
      d.contentType = spec.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
      if (c2 != std::string::npos) d.contentId = spec.substr(c2 + 1);
    }
    if (d.contentType.empty()) d.contentType = GuessContentType(file);
    if (!fs::is_regular_file(file)) return Fail("cannot read " + file);
    if (!LabelCharset(file, &d.contentType, &error)) return Fail(error);
    SplitPath(file, &d.directory, &d.fileName);
    if (!pkg->AddPart(d)) return Fail("cannot add " + file);
  }
  if (!root.empty()) {
    if (!fs::is_regular_file(root)) return Fail("cannot read " + root);
    std::u16string dir, name;
    SplitPath(root, &dir, &name);
    if (!pkg->AddRoot(dir, name)) return Fail("cannot add " + root);
  }
  if (!pkg->Write(platform::Utf8ToUtf16(out))) {
    std::error_code ec;
    fs::remove(out, ec);
    return Fail("cannot write " + out);
  }
  return 0;
}

std::unique_ptr<mms::MultipartPackage> OpenPackage(const std::string& file) {
  return mms::MultipartPackage::Open(platform::Utf8ToUtf16(file));
}

void ListParts(const mms::MultipartPackage& pkg) {
  std::printf("content-type: %s\n", Escape(pkg.contentType()).c_str());
  const auto& parts = pkg.parts();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const mms::PackagePart& p = parts[i];
    std::printf("%zu\t%s\t%s\t%s\t%lld\t%lld\t%d%s\n", i, Escape(p.contentType).c_str(),
                p.contentId ? Readable(*p.contentId).c_str() : "-", p.name ? Readable(*p.name).c_str() : "-",
                static_cast<long long>(p.dataOffset), static_cast<long long>(p.dataLength), p.drm ? 1 : 0,
                static_cast<int>(i) == pkg.rootIndex() ? "\troot" : "");
  }
}

int ExtractParts(mms::MultipartPackage& pkg, const std::string& target) {
  std::error_code ec;
  fs::create_directories(target, ec);
  if (!fs::is_directory(target)) return Fail("cannot create " + target);
  const std::u16string dir = platform::Utf8ToUtf16(target);
  // Nothing already in the folder is overwritten: a name that is taken gets a free "%d%s" name.
  std::vector<std::u16string> used;
  pkg.SetNameCallback([&](std::u16string& name) {
    const auto taken = [&](const std::u16string& n) {
      std::error_code e;
      return fs::exists(fs::path(platform::Utf16ToUtf8(mms::JoinPath(dir, n))), e) ||
             std::find(used.begin(), used.end(), n) != used.end();
    };
    if (taken(name)) {
      const std::size_t dot = name.rfind(u'.');
      const std::u16string ext = dot == std::u16string::npos ? std::u16string() : name.substr(dot);
      for (int n = 1;; ++n) {
        std::u16string candidate = platform::Utf8ToUtf16(std::to_string(n)) + ext;
        if (!taken(candidate)) {
          name = std::move(candidate);
          break;
        }
      }
    }
    used.push_back(name);
  });
  if (pkg.RootIsPresentation()) {
    std::u16string smil = u"mms.smil";
    for (int n = 1; fs::exists(fs::path(platform::Utf16ToUtf8(mms::JoinPath(dir, smil))), ec); ++n)
      smil = platform::Utf8ToUtf16(std::to_string(n)) + u".smil";
    if (!pkg.ExtractRoot(dir, smil)) return Fail("cannot extract the presentation");
    used.push_back(smil);
    std::printf("%s\t%s\n", Readable(platform::Utf16ToUtf8(smil)).c_str(),
                Escape(pkg.root()->contentType).c_str());
  }
  for (int i = 0; i < pkg.ExtractableCount(); ++i) {
    mms::ExtractedPart part;
    part.directory = dir;
    if (!pkg.ExtractPart(i, part)) return Fail("cannot extract part " + std::to_string(i));
    std::printf("%s\t%s\n", Readable(platform::Utf16ToUtf8(part.name)).c_str(),
                Escape(part.contentType).c_str());
  }
  return 0;
}

int PackageList(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("package list takes one FILE");
  if (!fs::is_regular_file(args[0])) return Fail("cannot read " + args[0]);
  auto pkg = OpenPackage(args[0]);
  if (!pkg) return Fail(args[0] + ": not a valid package");
  ListParts(*pkg);
  return 0;
}

int PackageExtract(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("package extract takes FILE and DIR");
  if (!fs::is_regular_file(args[0])) return Fail("cannot read " + args[0]);
  auto pkg = OpenPackage(args[0]);
  if (!pkg) return Fail(args[0] + ": not a valid package");
  return ExtractParts(*pkg, args[1]);
}

// The body of an m-retrieve-conf or m-send-req: its package starts at the Content-Type field.
struct PduBody {
  std::vector<std::uint8_t> data;
  std::unique_ptr<mms::MultipartPackage> package;
};

bool OpenPduBody(const std::string& file, PduBody* out) {
  std::size_t offset = 0;
  mms::MmsHeaders headers;
  std::optional<mms::ByteBuffer> body;
  if (!DecodeFile(file, &out->data, &offset, &headers, &body)) return false;
  if (!headers.Decoded(mms::MmsField::ContentType) || !body) {
    Fail(file + ": not an m-retrieve-conf or m-send-req with a body");
    return false;
  }
  const std::size_t start = offset + headers.contentTypeOffset;
  auto stream = mms::ByteStream::OpenMemory(static_cast<const std::uint8_t*>(out->data.data()) + start,
                                            static_cast<std::int64_t>(out->data.size() - start));
  out->package = mms::MultipartPackage::Parse(std::move(stream));
  if (!out->package) {
    Fail(file + ": the body is not a valid multipart");
    return false;
  }
  return true;
}

int Parts(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("parts takes one FILE.pdu");
  PduBody body;
  if (!OpenPduBody(args[0], &body)) return 1;
  ListParts(*body.package);
  return 0;
}

int Extract(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("extract takes FILE.pdu and DIR");
  PduBody body;
  if (!OpenPduBody(args[0], &body)) return 1;
  return ExtractParts(*body.package, args[1]);
}

int Package(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("package needs build, list or extract");
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "build") return PackageBuild(rest);
  if (args[0] == "list") return PackageList(rest);
  if (args[0] == "extract") return PackageExtract(rest);
  return Usage("unknown package command " + args[0]);
}

}  // namespace

namespace {

int Run(const std::string& command, const std::vector<std::string>& args) {
  if (command == "decode") return Decode(args);
  if (command == "classify") return Classify(args);
  if (command == "parts") return Parts(args);
  if (command == "extract") return Extract(args);
  if (command == "encode") return Encode(args);
  if (command == "package") return Package(args);
  if (command == "slides") return SlidesCommand(args);
  if (command == "compose") return ComposeCommand(args);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return Usage("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "mmstool", [](std::FILE* to) { std::fputs(kUsage, to); });
      rc >= 0)
    return rc;
  // The commands report failures as results; a library exception (a file system error, say)
  // still ends the tool with a message and status 1, never an abort.
  try {
    return Run(argv[1], std::vector<std::string>(argv + 2, argv + argc));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
