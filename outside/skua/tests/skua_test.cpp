#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "skua/skua.h"

namespace {

SkuaDecoder* Create() {
  void* object = nullptr;
  EXPECT_EQ(gCreateGsmAmrDecoder(&object), 0);
  return static_cast<SkuaDecoder*>(object);
}

TEST(Skua, ConsumesWholeFramesThatFitTheOutput) {
  SkuaDecoder* d = Create();
  ASSERT_NE(d, nullptr);
  // Three 12.2 kbit/s frames (header 0x3C, 31 payload bytes) and a NO_DATA frame (0x7C).
  std::vector<std::uint8_t> in;
  for (int f = 0; f < 3; ++f) {
    in.push_back(0x3C);
    for (int i = 0; i < 31; ++i) in.push_back(static_cast<std::uint8_t>(i * 7 + f));
  }
  in.push_back(0x7C);
  std::vector<std::int16_t> out(160 * 8);
  std::uint32_t len = static_cast<std::uint32_t>(in.size()), size = 2 * 320;
  ASSERT_EQ(d->decode(d, in.data(), &len, out.data(), &size), 0);
  EXPECT_EQ(len, 64u);  // two frames: the output held two
  EXPECT_EQ(size, 640u);
  len = static_cast<std::uint32_t>(in.size() - 64);
  size = 8 * 320;
  ASSERT_EQ(d->decode(d, in.data() + 64, &len, out.data(), &size), 0);
  EXPECT_EQ(len, 33u);
  EXPECT_EQ(size, 640u);
  EXPECT_EQ(d->set(d, 1, 1), -5);
  EXPECT_EQ(d->destroy(d), 0);
}

TEST(Skua, TruncatedFrameOrTinyOutputConsumesNothing) {
  SkuaDecoder* d = Create();
  std::vector<std::uint8_t> in(20, 0);
  in[0] = 0x3C;  // needs 32 bytes
  std::vector<std::int16_t> out(160);
  std::uint32_t len = 20, size = 320;
  EXPECT_EQ(d->decode(d, in.data(), &len, out.data(), &size), -1);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(size, 0u);
  in[0] = 0x04;  // 4.75 kbit/s: 13 bytes
  len = 20;
  size = 319;
  EXPECT_EQ(d->decode(d, in.data(), &len, out.data(), &size), -1);
  EXPECT_EQ(d->decode(d, nullptr, &len, out.data(), &size), -1);
  EXPECT_EQ(gCreateGsmAmrDecoder(nullptr), -1);
  d->destroy(d);
}

// Every frame type placed flush against an inaccessible page, so that a decoder reading past
// the frame faults (the library is not instrumented). Types 9..14 are one octet long.
TEST(Skua, EveryFrameTypeStaysInsideItsOctets) {
  constexpr std::uint32_t kSizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  auto* base = static_cast<std::uint8_t*>(map);
  ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
  SkuaDecoder* d = Create();
  std::vector<std::int16_t> out(160);
  for (std::uint32_t type = 0; type < 16; ++type) {
    for (std::uint8_t quality : {0, 4}) {
      std::uint8_t* frame = base + page - kSizes[type];
      frame[0] = static_cast<std::uint8_t>(type << 3 | quality);
      for (std::uint32_t i = 1; i < kSizes[type]; ++i) frame[i] = 0xA5;
      std::uint32_t len = kSizes[type], size = 320;
      ASSERT_EQ(d->decode(d, frame, &len, out.data(), &size), 0) << type;
      EXPECT_EQ(len, kSizes[type]);
      EXPECT_EQ(size, 320u);
    }
  }
  d->destroy(d);
  munmap(map, 2 * page);
}

// A tone encoded by sox's AMR encoder decodes to a second of sound of similar loudness.
TEST(Skua, DecodesASoxEncodedTone) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string amr = (dir / ("skua-tone-" + std::to_string(getpid()) + ".amr")).string();
  const std::string cmd = "sox -n -r 8000 -c 1 -t amr-nb -C 7 '" + amr + "' synth 1 sine 440 vol 0.5 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "sox with an AMR encoder not available";
  std::ifstream f(amr, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
  std::remove(amr.c_str());
  ASSERT_GT(bytes.size(), 6u);
  SkuaDecoder* d = Create();
  std::vector<std::int16_t> pcm;
  std::vector<std::int16_t> out(160 * 4);
  for (size_t at = 6; at < bytes.size();) {  // after the "#!AMR\n" magic
    std::uint32_t len = static_cast<std::uint32_t>(bytes.size() - at), size = 4 * 320;
    ASSERT_EQ(d->decode(d, bytes.data() + at, &len, out.data(), &size), 0);
    pcm.insert(pcm.end(), out.begin(), out.begin() + size / 2);
    at += len;
  }
  d->destroy(d);
  EXPECT_NEAR(static_cast<double>(pcm.size()), 8000.0, 320.0);
  double energy = 0;
  for (size_t i = 2000; i < pcm.size(); ++i) energy += static_cast<double>(pcm[i]) * pcm[i];
  EXPECT_GT(energy / static_cast<double>(pcm.size() - 2000), 1e6);  // a sine of half full scale
}

}  // namespace
