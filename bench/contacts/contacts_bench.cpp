// A contacts file of 5,000 cards in the mixed styles phones and address books write (2.1
// with quoted-printable names, 3.0 with folded lines and several numbers, 4.0 with tel:
// URIs): the time to read it, the time to open the contact picker's list (read, keep the
// contacts with a number, sort by name) and the time to resolve 20 recipient names on the
// send page. Targets: picker open 100 ms, 20 names 20 ms; printed as ms and as a share of
// the target.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "contacts/contacts_session.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "sendpage/address_list.h"
#include "sendpage/contact_picker_model.h"

namespace {

constexpr int kCards = 5000;

std::string Name(int i) {
  static const char* first[] = {"Anna", "Ben", "Chloe", "David", "Emma", "Felix", "Greta", "Hugo"};
  static const char* last[] = {"Smith", "M\xc3\xbcller", "Garc\xc3\xad" "a", "Durand", "Rossi", "Novak"};
  return std::string(first[i % 8]) + " " + last[(i / 8) % 6] + " " + std::to_string(i);
}

std::string MakeFile() {
  std::string f;
  for (int i = 0; i < kCards; ++i) {
    std::string n = Name(i), num = "+1555" + std::to_string(1000000 + i);
    switch (i % 3) {
      case 0:
        f += "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
        for (unsigned char c : n) {
          char hex[4];
          std::snprintf(hex, sizeof hex, "=%02X", c);
          f += c < 0x80 && c != '=' ? std::string(1, static_cast<char>(c)) : std::string(hex);
        }
        f += ";;;;\r\nTEL;CELL;PREF:" + num + "\r\nTEL;HOME:030 " + std::to_string(i) + "\r\nEND:VCARD\r\n";
        break;
      case 1:
        f += "BEGIN:VCARD\nVERSION:3.0\nFN:" + n + "\nN:x;y;;;\nitem1.EMAIL;type=INTERNET;type=pref:user" +
             std::to_string(i) + "@example.com\nTEL;TYPE=CELL,VOICE:" + num +
             "\nNOTE:a note long enough to be\n  folded over two lines\nEND:VCARD\n";
        break;
      default:
        f += "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:" + n + "\r\nTEL;VALUE=uri;PREF=1;TYPE=\"voice,cell\":tel:" + num +
             "\r\nEMAIL:u" + std::to_string(i) + "@example.org\r\nEND:VCARD\r\n";
    }
  }
  return f;
}

void Setup() {
  static bool done = [] {
    char dir[] = "/tmp/contacts-bench-XXXXXX";
    if (!::mkdtemp(dir)) std::abort();
    setenv("TESSERA_ROOT", dir, 1);
    if (!platform::WriteFile(ui::ContactsSession::DefaultPath(), MakeFile())) std::abort();
    return true;
  }();
  (void)done;
}

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void BM_ReadFile(benchmark::State& state) {
  Setup();
  std::string bytes;
  platform::ReadFile(ui::ContactsSession::DefaultPath(), bytes);
  double total = 0;
  std::int64_t n = 0;
  for (auto _ : state) {
    auto t = std::chrono::steady_clock::now();
    ui::VCardFile f = ui::ReadVCards(bytes);
    total += Ms(std::chrono::steady_clock::now() - t);
    ++n;
    if (f.contacts.size() != kCards) state.SkipWithError("cards lost");
  }
  state.counters["ms"] = total / n;
  state.counters["MB_per_s"] = bytes.size() / 1e3 / (total / n);
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);

// Opening the picker from a cold session: the file is read, the contacts with a number
// are cached and the rows sorted by name.
void BM_PickerOpen(benchmark::State& state) {
  Setup();
  double total = 0;
  std::int64_t n = 0;
  for (auto _ : state) {
    auto t = std::chrono::steady_clock::now();
    ui::ContactsSession s;
    s.Open();
    ui::ContactPickerModel picker(&s, nullptr, ui::AddressKind::Phone);
    picker.Fill();
    total += Ms(std::chrono::steady_clock::now() - t);
    ++n;
    if (picker.Rows().size() != kCards) state.SkipWithError("rows lost");
  }
  state.counters["ms"] = total / n;
  state.counters["of_100ms_target"] = total / n / 100.0;
}
BENCHMARK(BM_PickerOpen)->Unit(benchmark::kMillisecond);

// 20 names typed on the send page, spread over the file, resolved against an open session.
void BM_ResolveTwentyNames(benchmark::State& state) {
  Setup();
  ui::ContactsSession s;
  s.Open();
  std::u16string text;
  for (int i = 0; i < 20; ++i) {
    std::string n = Name(i * 249);
    text += platform::Utf8ToUtf16(n) + u";";
  }
  double total = 0;
  std::int64_t n = 0;
  for (auto _ : state) {
    auto t = std::chrono::steady_clock::now();
    ui::AddressList list(&s, nullptr, ui::AddressKind::Phone);
    bool ok = list.Parse(text);
    total += Ms(std::chrono::steady_clock::now() - t);
    ++n;
    if (!ok) state.SkipWithError("a name did not resolve");
  }
  state.counters["ms"] = total / n;
  state.counters["of_20ms_target"] = total / n / 20.0;
}
BENCHMARK(BM_ResolveTwentyNames)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
