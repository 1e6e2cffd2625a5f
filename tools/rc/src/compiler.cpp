#include "rc/compiler.h"

#include <cctype>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <set>

#include "platform/resources.h"
#include "platform/text.h"

namespace rc {

namespace {

// Style and flag names a script may use, with the platform's values.
struct NamedConstant {
  const char* name;
  std::int64_t value;
};

constexpr NamedConstant kConstants[] = {
    {"WS_OVERLAPPED", 0x00000000},
    {"WS_POPUP", 0x80000000},
    {"WS_CHILD", 0x40000000},
    {"WS_VISIBLE", 0x10000000},
    {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000},
    {"WS_CLIPCHILDREN", 0x02000000},
    {"WS_CAPTION", 0x00C00000},
    {"WS_BORDER", 0x00800000},
    {"WS_DLGFRAME", 0x00400000},
    {"WS_VSCROLL", 0x00200000},
    {"WS_HSCROLL", 0x00100000},
    {"WS_SYSMENU", 0x00080000},
    {"WS_GROUP", 0x00020000},
    {"WS_TABSTOP", 0x00010000},
    {"WS_EX_NOTIFY", 0x80000000},
    {"WS_EX_CLIENTEDGE", 0x200},
    {"WS_EX_STATICEDGE", 0x20000},
    {"DS_ABSALIGN", 0x01},
    {"DS_SETFONT", 0x40},
    {"DS_MODALFRAME", 0x80},
    {"DS_SETFOREGROUND", 0x200},
    {"DS_CONTROL", 0x400},
    {"DS_CENTER", 0x800},
    {"SS_LEFT", 0x0},
    {"SS_CENTER", 0x1},
    {"SS_RIGHT", 0x2},
    {"SS_ICON", 0x3},
    {"SS_BITMAP", 0xE},
    {"SS_LEFTNOWORDWRAP", 0xC},
    {"SS_NOPREFIX", 0x80},
    {"SS_NOTIFY", 0x100},
    {"SS_CENTERIMAGE", 0x200},
    {"ES_LEFT", 0x0},
    {"ES_CENTER", 0x1},
    {"ES_RIGHT", 0x2},
    {"ES_MULTILINE", 0x4},
    {"ES_UPPERCASE", 0x8},
    {"ES_LOWERCASE", 0x10},
    {"ES_PASSWORD", 0x20},
    {"ES_AUTOVSCROLL", 0x40},
    {"ES_AUTOHSCROLL", 0x80},
    {"ES_NOHIDESEL", 0x100},
    {"ES_READONLY", 0x800},
    {"ES_WANTRETURN", 0x1000},
    {"ES_NUMBER", 0x2000},
    {"BS_PUSHBUTTON", 0x0},
    {"BS_DEFPUSHBUTTON", 0x1},
    {"BS_CHECKBOX", 0x2},
    {"BS_AUTOCHECKBOX", 0x3},
    {"BS_GROUPBOX", 0x7},
    {"BS_LEFT", 0x100},
    {"BS_RIGHT", 0x200},
    {"BS_CENTER", 0x300},
    {"LBS_NOTIFY", 0x1},
    {"LBS_SORT", 0x2},
    {"LBS_NOINTEGRALHEIGHT", 0x100},
    {"CBS_DROPDOWNLIST", 0x3},
    {"UDS_WRAP", 0x1},
    {"UDS_SETBUDDYINT", 0x2},
    {"UDS_ALIGNRIGHT", 0x4},
    {"UDS_ALIGNLEFT", 0x8},
    {"UDS_AUTOBUDDY", 0x10},
    {"UDS_ARROWKEYS", 0x20},
    {"UDS_HORZ", 0x40},
    {"UDS_NOTHOUSANDS", 0x80},
    {"UDS_EXPANDABLE", 0x200},
    {"LVS_REPORT", 0x1},
    {"LVS_SINGLESEL", 0x4},
    {"LVS_OWNERDRAWFIXED", 0x400},
    {"LVS_NOCOLUMNHEADER", 0x4000},
    {"I_IMAGENONE", -2},
    {"NOMENU", 0xFFFF},
    {"TBSTATE_ENABLED", 0x04},
    {"TBSTYLE_BUTTON", 0x00},
    {"TBSTYLE_DROPDOWN", 0x08},
    {"TBSTYLE_AUTOSIZE", 0x10},
    {"IDOK", 1},
    {"IDCANCEL", 2},
    {"IDC_STATIC", -1},
    {"VS_VERSION_INFO", 1},
    {"VS_FF_DEBUG", 1},
    {"VOS__WINDOWS32", 4},
    {"VOS_WINDOWSCE", 0x50000},
    {"VFT_APP", 1},
    {"VFT_DLL", 2},
    {"VFT2_UNKNOWN", 0},
};

constexpr const char* kMemoryOptions[] = {"DISCARDABLE", "MOVEABLE", "PURE",   "IMPURE",   "LOADONCALL",
                                          "PRELOAD",     "FIXED",    "SHARED", "NONSHARED"};

enum class Tok {
  End,
  Ident,
  Number,
  String,
  Comma,
  Pipe,
  Plus,
  Minus,
  Tilde,
  LParen,
  RParen,
  Begin,
  EndBlock,
  Directive
};

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifier (upper-cased copy in `upper`) or directive line
  std::string upper;
  std::int64_t number = 0;
  std::u16string str;
  int line = 0;
};

class CompileError {
 public:
  int line;
  std::string message;
};

// Script parsing reports the first error and stops; the error travels by this flag and
// message rather than by exceptions.
class Compiler {
 public:
  Compiler(std::string_view script, std::string_view name, const FileReader& reader)
      : src_(script), name_(name), reader_(reader) {}

  CompileResult Run();

 private:
  // Lexer.
  Token Lex();
  bool LexString(Token* t);
  const Token& Peek();
  Token Next();
  bool Accept(Tok kind);
  bool Expect(Tok kind, const char* what);
  bool IsWord(const char* upper);

  // Expressions.
  std::optional<std::int64_t> Expr();
  std::optional<std::int64_t> Term();
  std::optional<std::uint32_t> Style(std::uint32_t defaults);
  std::optional<WORD> Id();
  std::optional<std::int16_t> Coord();
  std::optional<std::u16string> StringLit();

  // Statements.
  void Directive(const Token& t);
  void StringTable();
  void Resource();
  void Menu(WORD id);
  bool MenuItems(std::vector<platform::MenuItem>* items, int depth);
  void MenuBar(WORD id);
  void Dialog(WORD id);
  bool Control(platform::DialogControl* c);
  void Image(WORD type, WORD id);
  void Version(WORD id);
  bool VersionBlock(platform::VersionRecord* v, int depth);

  void Fail(const std::string& message);
  void Fail(int line, const std::string& message);
  bool failed() const { return !error_.empty(); }
  void Add(WORD type, WORD id, std::vector<std::uint8_t> payload, int line);

  std::string_view src_;
  std::size_t pos_ = 0;
  int line_ = 1;
  std::string_view name_;
  const FileReader& reader_;
  std::optional<Token> peeked_;
  std::deque<Token> pending_;  // tokens of an expanded #define
  std::map<std::string, std::vector<Token>> defines_;
  platform::ResourceTableWriter writer_;
  std::string error_;
  int termDepth_ = 0;
};

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9');
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

void Compiler::Fail(const std::string& message) {
  Fail(peeked_ ? peeked_->line : line_, message);
}

void Compiler::Fail(int line, const std::string& message) {
  if (!error_.empty()) return;
  error_ = std::string(name_) + ":" + std::to_string(line) + ": " + message;
}

Token Compiler::Lex() {
  Token t;
  for (;;) {
    if (pos_ >= src_.size()) {
      t.line = line_;
      return t;
    }
    const char c = src_[pos_];
    if (c == '\n') {
      ++line_;
      ++pos_;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++pos_;
    } else if (src_.compare(pos_, 2, "//") == 0) {
      while (pos_ < src_.size() && src_[pos_] != '\n') ++pos_;
    } else if (src_.compare(pos_, 2, "/*") == 0) {
      const std::size_t close = src_.find("*/", pos_ + 2);
      const std::size_t stop = close == std::string_view::npos ? src_.size() : close + 2;
      for (std::size_t i = pos_; i < stop; ++i)
        if (src_[i] == '\n') ++line_;
      if (close == std::string_view::npos) {
        Fail(line_, "unterminated comment");
        pos_ = src_.size();
        t.line = line_;
        return t;
      }
      pos_ = stop;
    } else {
      break;
    }
  }
  t.line = line_;
  const char c = src_[pos_];
  if (c == '#') {
    const std::size_t eol = src_.find('\n', pos_);
    const std::size_t stop = eol == std::string_view::npos ? src_.size() : eol;
    t.kind = Tok::Directive;
    t.text = std::string(src_.substr(pos_ + 1, stop - pos_ - 1));
    pos_ = stop;
    return t;
  }
  if (c == '"' || ((c == 'L' || c == 'l') && pos_ + 1 < src_.size() && src_[pos_ + 1] == '"')) {
    if (c != '"') ++pos_;
    t.kind = Tok::String;
    if (!LexString(&t)) t.kind = Tok::End;
    return t;
  }
  if (c >= '0' && c <= '9') {
    std::int64_t value = 0;
    int base = 10;
    if (c == '0' && pos_ + 1 < src_.size() && (src_[pos_ + 1] == 'x' || src_[pos_ + 1] == 'X')) {
      base = 16;
      pos_ += 2;
    }
    std::size_t digits = 0;
    while (pos_ < src_.size()) {
      const char d = src_[pos_];
      int v;
      if (d >= '0' && d <= '9')
        v = d - '0';
      else if (base == 16 && d >= 'a' && d <= 'f')
        v = d - 'a' + 10;
      else if (base == 16 && d >= 'A' && d <= 'F')
        v = d - 'A' + 10;
      else
        break;
      value = value * base + v;
      if (value > 0xFFFFFFFFll) {
        Fail(line_, "number too large");
        value = 0;
      }
      ++pos_;
      ++digits;
    }
    if (digits == 0) Fail(line_, "malformed number");
    while (pos_ < src_.size() &&
           (src_[pos_] == 'L' || src_[pos_] == 'l' || src_[pos_] == 'U' || src_[pos_] == 'u'))
      ++pos_;
    if (pos_ < src_.size() && IsIdentChar(src_[pos_])) Fail(line_, "malformed number");
    t.kind = Tok::Number;
    t.number = value;
    return t;
  }
  if (IsIdentStart(c)) {
    const std::size_t start = pos_;
    while (pos_ < src_.size() && IsIdentChar(src_[pos_])) ++pos_;
    t.text = std::string(src_.substr(start, pos_ - start));
    t.upper = Upper(t.text);
    if (t.upper == "BEGIN") {
      t.kind = Tok::Begin;
    } else if (t.upper == "END") {
      t.kind = Tok::EndBlock;
    } else {
      t.kind = Tok::Ident;
    }
    return t;
  }
  ++pos_;
  switch (c) {
    case ',':
      t.kind = Tok::Comma;
      return t;
    case '|':
      t.kind = Tok::Pipe;
      return t;
    case '+':
      t.kind = Tok::Plus;
      return t;
    case '-':
      t.kind = Tok::Minus;
      return t;
    case '~':
      t.kind = Tok::Tilde;
      return t;
    case '(':
      t.kind = Tok::LParen;
      return t;
    case ')':
      t.kind = Tok::RParen;
      return t;
    case '{':
      t.kind = Tok::Begin;
      return t;
    case '}':
      t.kind = Tok::EndBlock;
      return t;
    default:
      break;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "unexpected character 0x%02X", static_cast<unsigned char>(c));
  Fail(line_, buf);
  pos_ = src_.size();
  t.kind = Tok::End;
  return t;
}

bool Compiler::LexString(Token* t) {
  ++pos_;  // opening quote
  std::string utf8;
  for (;;) {
    if (pos_ >= src_.size() || src_[pos_] == '\n') {
      Fail(t->line, "unterminated string");
      return false;
    }
    char c = src_[pos_++];
    if (c == '"') {
      if (pos_ < src_.size() && src_[pos_] == '"') {  // "" is a quote inside the text
        utf8 += '"';
        ++pos_;
        continue;
      }
      break;
    }
    if (c != '\\') {
      utf8 += c;
      continue;
    }
    if (pos_ >= src_.size()) {
      Fail(t->line, "unterminated string");
      return false;
    }
    c = src_[pos_++];
    switch (c) {
      case 'n':
        utf8 += '\n';
        break;
      case 't':
        utf8 += '\t';
        break;
      case 'r':
        utf8 += '\r';
        break;
      case 'a':
        utf8 += '\a';
        break;
      case '\\':
        utf8 += '\\';
        break;
      case '"':
        utf8 += '"';
        break;
      case 'x':
      case 'X': {
        // \xhhhh names one UTF-16 unit; it is carried through UTF-8 as a code point.
        unsigned value = 0;
        int n = 0;
        while (n < 4 && pos_ < src_.size() && std::isxdigit(static_cast<unsigned char>(src_[pos_]))) {
          const char d = src_[pos_++];
          value = value * 16 + static_cast<unsigned>(d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
          ++n;
        }
        if (n == 0 || value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
          Fail(t->line, "bad \\x escape");
          return false;
        }
        std::u16string unit(1, static_cast<char16_t>(value));
        utf8 += platform::Utf16ToUtf8(unit);
        break;
      }
      default:
        Fail(t->line, std::string("unknown escape \\") + c);
        return false;
    }
  }
  t->str = platform::Utf8ToUtf16(utf8);
  return true;
}

const Token& Compiler::Peek() {
  while (!peeked_) {
    if (!pending_.empty()) {
      peeked_ = std::move(pending_.front());
      pending_.pop_front();
      break;
    }
    Token t = Lex();
    if (t.kind == Tok::Directive) {
      Directive(t);
      if (failed()) {
        peeked_ = Token{};
        break;
      }
      continue;
    }
    if (t.kind == Tok::Ident) {
      if (auto it = defines_.find(t.text); it != defines_.end()) {
        // Definitions were expanded when they were made, so the tokens are not scanned
        // again; a name defined in terms of itself cannot loop.
        for (Token m : it->second) {
          m.line = t.line;
          pending_.push_back(std::move(m));
        }
        continue;
      }
    }
    peeked_ = std::move(t);
  }
  return *peeked_;
}

Token Compiler::Next() {
  Peek();
  Token t = std::move(*peeked_);
  peeked_.reset();
  if (failed()) t.kind = Tok::End;
  return t;
}

bool Compiler::Accept(Tok kind) {
  if (Peek().kind != kind) return false;
  Next();
  return true;
}

bool Compiler::Expect(Tok kind, const char* what) {
  if (Accept(kind)) return true;
  Fail(std::string("expected ") + what);
  return false;
}

bool Compiler::IsWord(const char* upper) {
  return Peek().kind == Tok::Ident && Peek().upper == upper;
}

void Compiler::Directive(const Token& t) {
  std::string_view rest = t.text;
  auto word = [&rest]() {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    std::size_t n = 0;
    while (n < rest.size() && IsIdentChar(rest[n])) ++n;
    std::string w(rest.substr(0, n));
    rest.remove_prefix(n);
    return w;
  };
  const std::string directive = word();
  if (directive == "pragma") return;
  if (directive != "define") {
    Fail(t.line, "unsupported directive #" + directive);
    return;
  }
  const std::string name = word();
  if (name.empty()) {
    Fail(t.line, "#define without a name");
    return;
  }
  // The replacement is the rest of the line as tokens, with names defined before it
  // already replaced.
  Compiler sub(rest, name_, reader_);
  sub.line_ = t.line;
  std::vector<Token> tokens;
  for (;;) {
    if (tokens.size() > 4096) {
      Fail(t.line, "#define " + name + " is too long");
      return;
    }
    Token token = sub.Lex();
    if (sub.failed() || token.kind == Tok::Directive) {
      Fail(t.line, sub.failed() ? sub.error_.substr(sub.error_.find(": ") + 2) : "bad #define " + name);
      return;
    }
    if (token.kind == Tok::End) break;
    if (token.kind == Tok::Ident) {
      if (auto it = defines_.find(token.text); it != defines_.end()) {
        tokens.insert(tokens.end(), it->second.begin(), it->second.end());
        continue;
      }
    }
    tokens.push_back(std::move(token));
  }
  defines_[name] = std::move(tokens);
}

std::optional<std::int64_t> Compiler::Term() {
  // Bounded nesting of ( ) and unary operators keeps hostile scripts off the stack's end.
  if (termDepth_ > 64) {
    Fail("expression nested too deeply");
    return std::nullopt;
  }
  struct Depth {
    int& d;
    explicit Depth(int& v) : d(v) { ++d; }
    ~Depth() { --d; }
  } depth(termDepth_);
  Token t = Next();
  switch (t.kind) {
    case Tok::Number:
      return t.number;
    case Tok::Minus: {
      auto v = Term();
      if (!v) return std::nullopt;
      return -*v;
    }
    case Tok::Tilde: {
      auto v = Term();
      if (!v) return std::nullopt;
      return static_cast<std::int64_t>(~static_cast<std::uint32_t>(*v));
    }
    case Tok::LParen: {
      auto v = Expr();
      if (!v || !Expect(Tok::RParen, "')'")) return std::nullopt;
      return v;
    }
    case Tok::Ident: {
      for (const NamedConstant& k : kConstants)
        if (t.upper == k.name) return k.value;
      Fail(t.line, "unknown name " + t.text);
      return std::nullopt;
    }
    default:
      Fail(t.line, "expected a number");
      return std::nullopt;
  }
}

std::optional<std::int64_t> Compiler::Expr() {
  auto value = Term();
  while (value) {
    if (Accept(Tok::Pipe)) {
      auto rhs = Term();
      if (!rhs) return std::nullopt;
      value =
          static_cast<std::int64_t>(static_cast<std::uint32_t>(*value) | static_cast<std::uint32_t>(*rhs));
    } else if (Accept(Tok::Plus)) {
      auto rhs = Term();
      if (!rhs) return std::nullopt;
      *value += *rhs;
    } else if (Accept(Tok::Minus)) {
      auto rhs = Term();
      if (!rhs) return std::nullopt;
      *value -= *rhs;
    } else {
      break;
    }
    if (*value > 0xFFFFFFFFll || *value < -0x80000000ll) {
      Fail("value out of range");
      return std::nullopt;
    }
  }
  return value;
}

std::optional<std::uint32_t> Compiler::Style(std::uint32_t defaults) {
  std::uint32_t value = defaults;
  do {
    const bool clear = IsWord("NOT");
    if (clear) Next();
    auto term = Term();
    if (!term) return std::nullopt;
    const auto bits = static_cast<std::uint32_t>(*term);
    value = clear ? (value & ~bits) : (value | bits);
  } while (Accept(Tok::Pipe));
  return value;
}

std::optional<WORD> Compiler::Id() {
  const int line = Peek().line;
  auto v = Expr();
  if (!v) return std::nullopt;
  if (*v < -1 || *v > 0xFFFF) {
    Fail(line, "id " + std::to_string(*v) + " is not a 16-bit number");
    return std::nullopt;
  }
  return static_cast<WORD>(*v);
}

std::optional<std::int16_t> Compiler::Coord() {
  const int line = Peek().line;
  auto v = Expr();
  if (!v) return std::nullopt;
  if (*v < -32768 || *v > 32767) {
    Fail(line, "coordinate out of range");
    return std::nullopt;
  }
  return static_cast<std::int16_t>(*v);
}

std::optional<std::u16string> Compiler::StringLit() {
  if (Peek().kind != Tok::String) {
    Fail("expected a string");
    return std::nullopt;
  }
  std::u16string text;
  while (Peek().kind == Tok::String) text += Next().str;
  if (text.size() > 0xFFFF) {
    Fail("string longer than 65535 characters");
    return std::nullopt;
  }
  return text;
}

void Compiler::Add(WORD type, WORD id, std::vector<std::uint8_t> payload, int line) {
  if (failed()) return;
  if (!writer_.Add(type, id, std::move(payload))) Fail(line, "duplicate resource id " + std::to_string(id));
}

CompileResult Compiler::Run() {
  while (!failed() && Peek().kind != Tok::End) {
    if (IsWord("STRINGTABLE")) {
      Next();
      StringTable();
    } else if (IsWord("LANGUAGE")) {
      Next();
      if (Expr() && Expect(Tok::Comma, "','")) Expr();
    } else {
      Resource();
    }
  }
  CompileResult result;
  if (failed()) {
    result.error = error_;
    return result;
  }
  result.ok = true;
  result.table = writer_.Finish();
  return result;
}

void Compiler::StringTable() {
  while (Peek().kind == Tok::Ident) {
    bool option = false;
    for (const char* o : kMemoryOptions) option = option || Peek().upper == o;
    if (!option) break;
    Next();
  }
  if (!Expect(Tok::Begin, "BEGIN")) return;
  while (!failed() && !Accept(Tok::EndBlock)) {
    const int line = Peek().line;
    auto id = Id();
    if (!id) return;
    Accept(Tok::Comma);
    auto text = StringLit();
    if (!text) return;
    Add(RT_STRING, *id, platform::ResourceTableWriter::EncodeString(*text), line);
  }
}

void Compiler::Resource() {
  const int line = Peek().line;
  auto id = Id();
  if (!id) return;
  if (Peek().kind != Tok::Ident) {
    Fail("expected a resource type");
    return;
  }
  const std::string type = Next().upper;
  while (Peek().kind == Tok::Ident) {
    bool option = false;
    for (const char* o : kMemoryOptions) option = option || Peek().upper == o;
    if (!option) break;
    Next();
  }
  if (type == "MENU")
    Menu(*id);
  else if (type == "SHMENUBAR" || type == "RCDATA")
    MenuBar(*id);
  else if (type == "DIALOG")
    Dialog(*id);
  else if (type == "BITMAP")
    Image(RT_BITMAP, *id);
  else if (type == "ICON")
    Image(RT_GROUP_ICON, *id);
  else if (type == "VERSIONINFO")
    Version(*id);
  else
    Fail(line, "unsupported resource type " + type);
}

void Compiler::Menu(WORD id) {
  const int line = Peek().line;
  platform::MenuTemplate menu;
  if (!Expect(Tok::Begin, "BEGIN") || !MenuItems(&menu.items, 0)) return;
  Add(RT_MENU, id, platform::ResourceTableWriter::EncodeMenu(menu), line);
}

bool Compiler::MenuItems(std::vector<platform::MenuItem>* items, int depth) {
  if (depth >= platform::kMaxMenuDepth) {
    Fail("menus nested too deeply");
    return false;
  }
  while (!failed() && !Accept(Tok::EndBlock)) {
    platform::MenuItem item;
    if (IsWord("MENUITEM")) {
      Next();
      if (IsWord("SEPARATOR")) {
        Next();
        item.flags = MF_SEPARATOR;
      } else {
        auto text = StringLit();
        if (!text || !Expect(Tok::Comma, "','")) return false;
        auto id = Id();
        if (!id) return false;
        item.text = *text;
        item.id = *id;
      }
    } else if (IsWord("POPUP")) {
      Next();
      auto text = StringLit();
      if (!text) return false;
      item.text = *text;
      item.flags = MF_POPUP;
    } else {
      Fail("expected MENUITEM, POPUP or END");
      return false;
    }
    while (Accept(Tok::Comma)) {
      const std::string flag = Peek().kind == Tok::Ident ? Next().upper : "";
      if (flag == "GRAYED")
        item.flags |= MF_GRAYED;
      else if (flag == "INACTIVE")
        item.flags |= MF_DISABLED;
      else if (flag == "CHECKED")
        item.flags |= MF_CHECKED;
      else {
        Fail("unknown menu flag");
        return false;
      }
    }
    if (item.flags & MF_POPUP) {
      if (!Expect(Tok::Begin, "BEGIN") || !MenuItems(&item.items, depth + 1)) return false;
    }
    items->push_back(std::move(item));
    if (items->size() > 0xFFFF) {
      Fail("too many menu items");
      return false;
    }
  }
  return !failed();
}

void Compiler::MenuBar(WORD id) {
  const int line = Peek().line;
  if (!Expect(Tok::Begin, "BEGIN")) return;
  std::vector<WORD> words;
  while (!failed() && !Accept(Tok::EndBlock)) {
    const int wordLine = Peek().line;
    auto v = Expr();
    if (!v) return;
    if (*v < -32768 || *v > 0xFFFF) {
      Fail(wordLine, "word out of range");
      return;
    }
    words.push_back(static_cast<WORD>(*v));
    if (Peek().kind != Tok::EndBlock && !Expect(Tok::Comma, "','")) return;
  }
  // The record is checked here so that a slip in the script fails the build, not the UI.
  if (words.size() < 2 || words[1] < 1 || words[1] > 2 || words.size() != 2u + 7u * words[1]) {
    Fail(line, "soft-key bar record needs: menu id, button count (1 or 2), 7 words per button");
    return;
  }
  std::vector<std::uint8_t> payload;
  for (WORD w : words) {
    payload.push_back(static_cast<std::uint8_t>(w));
    payload.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  Add(RT_RCDATA, id, std::move(payload), line);
}

constexpr std::uint32_t kWsChild = 0x40000000;
constexpr std::uint32_t kWsVisible = 0x10000000;
constexpr std::uint32_t kWsGroup = 0x00020000;
constexpr std::uint32_t kWsTabStop = 0x00010000;
constexpr std::uint32_t kWsBorder = 0x00800000;

void Compiler::Dialog(WORD id) {
  const int line = Peek().line;
  platform::DialogTemplate d;
  auto x = Coord();
  if (!x || !Expect(Tok::Comma, "','")) return;
  auto y = Coord();
  if (!y || !Expect(Tok::Comma, "','")) return;
  auto cx = Coord();
  if (!cx || !Expect(Tok::Comma, "','")) return;
  auto cy = Coord();
  if (!cy) return;
  d.x = *x;
  d.y = *y;
  d.cx = *cx;
  d.cy = *cy;
  while (!failed() && Peek().kind == Tok::Ident) {
    const std::string option = Next().upper;
    if (option == "STYLE") {
      auto s = Style(0);
      if (!s) return;
      d.style = *s;
    } else if (option == "EXSTYLE") {
      auto s = Style(0);
      if (!s) return;
      d.exStyle = *s;
    } else if (option == "CAPTION") {
      auto text = StringLit();
      if (!text) return;
      d.caption = *text;
    } else if (option == "FONT") {
      auto size = Id();
      if (!size || !Expect(Tok::Comma, "','")) return;
      auto face = StringLit();
      if (!face) return;
      d.pointSize = *size;
      d.face = *face;
      d.style |= 0x40;  // DS_SETFONT
    } else {
      Fail(line, "unsupported dialog option " + option);
      return;
    }
  }
  if (!Expect(Tok::Begin, "BEGIN")) return;
  std::set<WORD> controlIds;
  while (!failed() && !Accept(Tok::EndBlock)) {
    platform::DialogControl c;
    if (!Control(&c)) return;
    if (c.id != 0xFFFF && !controlIds.insert(c.id).second) {
      Fail("duplicate control id " + std::to_string(c.id));
      return;
    }
    d.controls.push_back(std::move(c));
    if (d.controls.size() > 0xFFFF) {
      Fail("too many controls");
      return;
    }
  }
  Add(RT_DIALOG, id, platform::ResourceTableWriter::EncodeDialog(d), line);
}

bool Compiler::Control(platform::DialogControl* c) {
  if (Peek().kind != Tok::Ident) {
    Fail("expected a control");
    return false;
  }
  const std::string kind = Next().upper;
  struct TextControl {
    const char* name;
    const char16_t* cls;
    std::uint32_t style;
  };
  static constexpr TextControl kTextControls[] = {
      {"LTEXT", u"STATIC", 0x0 | kWsGroup},           {"CTEXT", u"STATIC", 0x1 | kWsGroup},
      {"RTEXT", u"STATIC", 0x2 | kWsGroup},           {"PUSHBUTTON", u"BUTTON", 0x0 | kWsTabStop},
      {"DEFPUSHBUTTON", u"BUTTON", 0x1 | kWsTabStop}, {"CHECKBOX", u"BUTTON", 0x2 | kWsTabStop},
      {"AUTOCHECKBOX", u"BUTTON", 0x3 | kWsTabStop},  {"GROUPBOX", u"BUTTON", 0x7},
  };
  static constexpr TextControl kPlainControls[] = {
      {"EDITTEXT", u"EDIT", kWsBorder | kWsTabStop},
      {"LISTBOX", u"LISTBOX", 0x1 | kWsBorder},
      {"COMBOBOX", u"COMBOBOX", kWsTabStop},
  };
  auto rect = [&]() {
    auto x = Coord();
    if (!x || !Expect(Tok::Comma, "','")) return false;
    auto y = Coord();
    if (!y || !Expect(Tok::Comma, "','")) return false;
    auto cx = Coord();
    if (!cx || !Expect(Tok::Comma, "','")) return false;
    auto cy = Coord();
    if (!cy) return false;
    c->x = *x, c->y = *y, c->cx = *cx, c->cy = *cy;
    return true;
  };
  auto styles = [&](std::uint32_t defaults) {
    c->style = defaults | kWsChild | kWsVisible;
    if (Accept(Tok::Comma)) {
      auto s = Style(c->style);
      if (!s) return false;
      c->style = *s;
      if (Accept(Tok::Comma)) {
        auto e = Style(0);
        if (!e) return false;
        c->exStyle = *e;
      }
    }
    return true;
  };

  for (const TextControl& t : kTextControls) {
    if (kind != t.name) continue;
    auto text = StringLit();
    if (!text || !Expect(Tok::Comma, "','")) return false;
    auto id = Id();
    if (!id || !Expect(Tok::Comma, "','") || !rect()) return false;
    c->className = t.cls;
    c->text = *text;
    c->id = *id;
    return styles(t.style);
  }
  for (const TextControl& t : kPlainControls) {
    if (kind != t.name) continue;
    auto id = Id();
    if (!id || !Expect(Tok::Comma, "','") || !rect()) return false;
    c->className = t.cls;
    c->id = *id;
    return styles(t.style);
  }
  if (kind == "ICON") {
    if (Peek().kind == Tok::String) {
      auto text = StringLit();
      if (!text) return false;
      c->text = *text;
    } else {
      auto icon = Id();
      if (!icon) return false;
      c->ordinal = *icon;
    }
    if (!Expect(Tok::Comma, "','")) return false;
    auto id = Id();
    if (!id || !Expect(Tok::Comma, "','")) return false;
    auto x = Coord();
    if (!x || !Expect(Tok::Comma, "','")) return false;
    auto y = Coord();
    if (!y) return false;
    c->className = u"STATIC";
    c->id = *id;
    c->x = *x;
    c->y = *y;
    c->style = 0x3 | kWsChild | kWsVisible;  // SS_ICON
    if (Accept(Tok::Comma)) {
      auto cx = Coord();
      if (!cx || !Expect(Tok::Comma, "','")) return false;
      auto cy = Coord();
      if (!cy) return false;
      c->cx = *cx;
      c->cy = *cy;
      return styles(0x3);
    }
    return true;
  }
  if (kind == "CONTROL") {
    auto text = StringLit();
    if (!text || !Expect(Tok::Comma, "','")) return false;
    auto id = Id();
    if (!id || !Expect(Tok::Comma, "','")) return false;
    auto cls = StringLit();
    if (!cls || !Expect(Tok::Comma, "','")) return false;
    auto style = Style(kWsChild | kWsVisible);
    if (!style || !Expect(Tok::Comma, "','") || !rect()) return false;
    c->text = *text;
    c->id = *id;
    c->className = *cls;
    c->style = *style;
    if (Accept(Tok::Comma)) {
      auto e = Style(0);
      if (!e) return false;
      c->exStyle = *e;
    }
    return true;
  }
  Fail("unknown control " + kind);
  return false;
}

void Compiler::Image(WORD type, WORD id) {
  const int line = Peek().line;
  auto name = StringLit();
  if (!name) return;
  const std::string path = platform::Utf16ToUtf8(*name);
  std::vector<std::uint8_t> bytes;
  if (!reader_ || !reader_(path, &bytes)) {
    Fail(line, "cannot read " + path);
    return;
  }
  platform::ResourceImage image;
  if (!platform::DecodeImage(bytes, &image)) {
    Fail(line, path + " is not a PNG image the loader accepts");
    return;
  }
  Add(type, id, std::move(bytes), line);
}

void Compiler::Version(WORD id) {
  const int line = Peek().line;
  platform::VersionRecord v;
  auto quad = [&](WORD* out) {
    for (int i = 0; i < 4; ++i) {
      if (i && !Expect(Tok::Comma, "','")) return false;
      auto n = Id();
      if (!n) return false;
      out[i] = *n;
    }
    return true;
  };
  while (!failed() && Peek().kind == Tok::Ident) {
    const std::string statement = Next().upper;
    if (statement == "FILEVERSION") {
      if (!quad(v.fileVersion)) return;
    } else if (statement == "PRODUCTVERSION") {
      if (!quad(v.productVersion)) return;
    } else if (statement == "FILEFLAGSMASK" || statement == "FILEFLAGS" || statement == "FILEOS" ||
               statement == "FILETYPE" || statement == "FILESUBTYPE") {
      if (!Expr()) return;
    } else {
      Fail(line, "unsupported version statement " + statement);
      return;
    }
  }
  if (!Expect(Tok::Begin, "BEGIN") || !VersionBlock(&v, 0)) return;
  Add(RT_VERSION, id, platform::ResourceTableWriter::EncodeVersion(v), line);
}

bool Compiler::VersionBlock(platform::VersionRecord* v, int depth) {
  if (depth > 4) {
    Fail("version blocks nested too deeply");
    return false;
  }
  while (!failed() && !Accept(Tok::EndBlock)) {
    if (IsWord("BLOCK")) {
      Next();
      if (!StringLit() || !Expect(Tok::Begin, "BEGIN") || !VersionBlock(v, depth + 1)) return false;
    } else if (IsWord("VALUE")) {
      Next();
      auto key = StringLit();
      if (!key || !Expect(Tok::Comma, "','")) return false;
      if (Peek().kind == Tok::String) {
        auto value = StringLit();
        if (!value) return false;
        v->values.emplace_back(*key, *value);
      } else {
        // Numeric values (the translation list) carry nothing the loader reports.
        do {
          if (!Expr()) return false;
        } while (Accept(Tok::Comma));
      }
      if (v->values.size() > 0xFFFF) {
        Fail("too many version values");
        return false;
      }
    } else {
      Fail("expected BLOCK, VALUE or END");
      return false;
    }
  }
  return !failed();
}

}  // namespace

CompileResult Compile(std::string_view script, std::string_view scriptName, const FileReader& readFile) {
  Compiler compiler(script, scriptName, readFile);
  return compiler.Run();
}

std::string EmitCpp(const std::vector<std::uint8_t>& table, std::string_view scriptName) {
  std::string out;
  out.reserve(table.size() * 5 + 512);
  out += "// Resource table compiled from ";
  out += scriptName;
  out += " by tessera-rc. Do not edit.\n\n";
  out += "// Exported as the module's one data symbol; aligned so that strings can be handed out\n";
  out += "// in place.\n";
  out += "extern \"C\" __attribute__((visibility(\"default\"), used, aligned(4))) const unsigned char ";
  out += platform::kResourceTableSymbol;
  out += "[" + std::to_string(table.size() ? table.size() : 1) + "] = {";
  char buf[8];
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (i % 16 == 0) out += "\n   ";
    std::snprintf(buf, sizeof buf, " %u,", table[i]);
    out += buf;
  }
  if (table.empty()) out += "0";
  out += "\n};\n";
  return out;
}

}  // namespace rc
