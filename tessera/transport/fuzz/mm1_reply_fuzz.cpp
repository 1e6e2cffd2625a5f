// Feeds arbitrary MMSC replies to a retrieval and a send: the first octet picks the WSP status,
// the rest is the reply body typed as an MMS message.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../tests/mm1_scripted_mmsc.h"
#include "platform/text.h"
#include "transport/mm1_engine.h"

namespace {

struct Setup {
  std::string dir;
  Setup() {
    char tmpl[] = "/tmp/mm1-fuzz.XXXXXX";
    dir = mkdtemp(tmpl);
    setenv("TESSERA_ROOT", dir.c_str(), 1);
    std::ofstream(dir + "/p.pkg", std::ios::binary) << std::string("\x84\xA3hello", 7);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup setup;
  if (size < 1) return 0;
  auto script = std::make_shared<transport_test::MmscScript>();
  transport_test::MmscReply reply;
  reply.status = data[0] & 0x7F;
  reply.data = mms::ByteBuffer(data + 1, static_cast<std::int32_t>(size - 1));
  script->handler = [&](const transport_test::MmscRequest&) { return reply; };
  auto engine = transport::Mm1CreateEngine();
  if (!engine) return 0;
  engine->portFactory = [script] { return std::make_unique<transport_test::ScriptedMmscPort>(script); };
  engine->timeoutMs = 1;
  engine->maxRetries = 0;
  const std::u16string out = platform::Utf8ToUtf16(setup.dir + "/in.pkg");
  transport::Mm1Retrieve(engine.get(), "http://m/1", "T", nullptr, out, nullptr);
  std::string id;
  mms::SendRequest request;
  request.to = "+1";
  transport::Mm1Send(engine.get(), platform::Utf8ToUtf16(setup.dir + "/p.pkg"), &request, &id);
  return 0;
}
