// The exported entry points on streams built bit by bit: stream information, refused layers and
// pictures, the decoder object's slots, output copies and picture activity.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "brindle/brindle.h"
#include "stream_writer.h"

namespace brindle {
namespace {

using testing::BitWriter;
using testing::Coefficient;
using testing::VolOptions;

std::vector<std::uint8_t> Vol(const VolOptions& o) {
  BitWriter w;
  testing::WriteVol(w, o);
  return w.Bytes();
}

struct Frame {
  explicit Frame(int w, int h) : data(static_cast<std::size_t>(w * h * 3 / 2), 0xEE) {
    f.y = data.data();
    f.u = f.y + w * h;
    f.v = f.u + w * h / 4;
    f.width = static_cast<std::uint16_t>(w);
    f.height = static_cast<std::uint16_t>(h);
  }
  std::vector<std::uint8_t> data;
  PlanarFrame f{};
};

TEST(StreamInfo, ReportsTheLayerSizeRoundedUpTo16) {
  StreamInfo info{};
  auto qcif = Vol({});
  ASSERT_EQ(gGetStreamInfo(qcif.data(), static_cast<std::uint32_t>(qcif.size()), &info), 0);
  EXPECT_EQ(info.kind, 1);
  EXPECT_EQ(info.width, 176);
  EXPECT_EQ(info.height, 144);
  VolOptions odd;
  odd.width = 180;
  odd.height = 140;
  auto v = Vol(odd);
  ASSERT_EQ(gGetStreamInfo(v.data(), static_cast<std::uint32_t>(v.size()), &info), 0);
  EXPECT_EQ(info.kind, 1);
  EXPECT_EQ(info.width, 192);
  EXPECT_EQ(info.height, 144);
}

TEST(StreamInfo, FindsTheLayerBehindSequenceObjectAndUserData) {
  BitWriter w;
  w.StartCode(0xB0);
  w.Put(0x03, 8);  // Simple Profile level 3
  w.StartCode(0xB2);
  w.Put(0x41424344, 32);  // user data
  w.StartCode(0xB5);
  w.Put(0, 1);
  w.Put(1, 4);  // video
  w.Put(0, 1);
  w.Stuff();
  w.StartCode(0x00);
  testing::WriteVol(w, {});
  StreamInfo info{};
  ASSERT_EQ(gGetStreamInfo(w.Bytes().data(), static_cast<std::uint32_t>(w.Bytes().size()), &info), 0);
  EXPECT_EQ(info.width, 176);
}

TEST(StreamInfo, ReportsH263PicturesAsKindZeroAndRefusesOtherData) {
  for (int format = 1; format <= 7; ++format) {
    BitWriter w;
    testing::WriteH263PictureHeader(w, format, false, 0, 8);
    w.AlignWithZeros();
    StreamInfo info{};
    int r = gGetStreamInfo(w.Bytes().data(), static_cast<std::uint32_t>(w.Bytes().size()), &info);
    if (format >= 6) {
      EXPECT_EQ(r, -1) << format;
      continue;
    }
    static const int kSizes[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
    ASSERT_EQ(r, 0) << format;
    EXPECT_EQ(info.kind, 0);
    EXPECT_EQ(info.width, kSizes[format][0]);
    EXPECT_EQ(info.height, kSizes[format][1]);
  }
  const std::uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
  StreamInfo info{};
  EXPECT_EQ(gGetStreamInfo(junk, sizeof junk, &info), -1);
  EXPECT_EQ(gGetStreamInfo(junk, 0, &info), -1);
}

TEST(Create, RefusesLayersOutsideTheSimpleProfile) {
  auto refused = [](VolOptions o) {
    auto v = Vol(o);
    std::uint32_t size = static_cast<std::uint32_t>(v.size());
    VideoDecoder* d = nullptr;
    int r = gCreateMP4SPDecoder(&d, v.data(), &size, 0, nullptr);
    if (d != nullptr) d->destroy(d);
    return r == -1 && d == nullptr;
  };
  VolOptions sprite;
  sprite.sprite = 1;
  EXPECT_TRUE(refused(sprite));
  VolOptions qpel;
  qpel.verid = 2;
  qpel.quarterSample = true;
  EXPECT_TRUE(refused(qpel));
  VolOptions binary;
  binary.shape = 1;
  EXPECT_TRUE(refused(binary));
  VolOptions matrices;
  matrices.mpegQuant = true;
  EXPECT_TRUE(refused(matrices));
  VolOptions interlaced;
  interlaced.interlaced = true;
  EXPECT_TRUE(refused(interlaced));
  VolOptions version2;
  version2.verid = 2;
  EXPECT_FALSE(refused(version2));
}

TEST(Create, ReducesTheSizeToTheHeaderBytesAndExposesSixSlots) {
  auto v = Vol({});
  std::vector<std::uint8_t> data = v;
  BitWriter vop;
  ASSERT_TRUE(testing::WriteIntraVop(vop, 99, 4, {}, false, false));
  data.insert(data.end(), vop.Bytes().begin(), vop.Bytes().end());
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  VideoDecoder* d = nullptr;
  ASSERT_EQ(gCreateMP4SPDecoder(&d, data.data(), &size, 0, nullptr), 0);
  EXPECT_EQ(size, v.size());
  // Slot order as callers index them.
  void* const* slots = reinterpret_cast<void* const*>(d);
  EXPECT_EQ(slots[0], reinterpret_cast<void*>(d->decode));
  EXPECT_EQ(slots[5], reinterpret_cast<void*>(d->destroy));
  EXPECT_EQ(d->setParameter(d, 0, 3), 0);
  std::int32_t level = -1;
  EXPECT_EQ(d->control(d, 0, &level), 0);
  EXPECT_EQ(level, 3);
  EXPECT_EQ(d->setParameter(d, 1, 0), -1);
  EXPECT_EQ(d->control(d, 9, &level), -1);
  EXPECT_EQ(d->destroy(d), 0);
}

// Decodes one intra VOP built by the writer and returns the luma of the output copy.
std::vector<std::uint8_t> DecodeIntra(const VolOptions& vol, const std::vector<Coefficient>& ac, int qp,
                                      bool dcInCoefficients = false) {
  BitWriter w;
  testing::WriteVol(w, vol);
  std::size_t headerBytes = w.Bytes().size();
  int mbs = ((vol.width + 15) / 16) * ((vol.height + 15) / 16);
  if (!testing::WriteIntraVop(w, mbs, qp, ac, vol.dataPartitioned, vol.reversibleVlc, dcInCoefficients))
    return {};
  std::vector<std::uint8_t> data = w.Bytes();
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  VideoDecoder* d = nullptr;
  if (gCreateMP4SPDecoder(&d, data.data(), &size, 0, nullptr) != 0) return {};
  EXPECT_EQ(size, headerBytes);
  Frame out(vol.width, vol.height);
  std::uint32_t vopSize = static_cast<std::uint32_t>(data.size() - headerBytes);
  int r = d->decode(d, data.data() + headerBytes, &vopSize, &out.f);
  EXPECT_EQ(vopSize, data.size() - headerBytes);
  d->destroy(d);
  if (r != 0) return {};
  return out.data;
}

TEST(Decode, ReversibleAndPlainCodesOfTheSameCoefficientsGiveTheSamePicture) {
  // Short codes, long codes, runs, the last flag and levels that need escapes in both code sets.
  std::vector<Coefficient> ac = {{0, 0, 3}, {0, 2, -1}, {0, 0, 40}, {0, 5, 2}, {0, 1, -12}, {1, 3, 1}};
  VolOptions plain;
  VolOptions partitioned;
  partitioned.dataPartitioned = true;
  VolOptions reversible = partitioned;
  reversible.reversibleVlc = true;
  auto a = DecodeIntra(plain, ac, 6);
  auto b = DecodeIntra(partitioned, ac, 6);
  auto c = DecodeIntra(reversible, ac, 6);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  ASSERT_FALSE(c.empty());
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
  // The coefficients leave a visible texture, not a flat grey.
  EXPECT_NE(std::count(a.begin(), a.begin() + 176 * 144, a[0]), 176 * 144);
}

TEST(Decode, DcCarriedByCoefficientCodesGivesTheSamePicture) {
  std::vector<Coefficient> ac = {{0, 1, 5}, {0, 0, -2}, {1, 6, 1}};
  for (bool partitioned : {false, true}) {
    VolOptions vol;
    vol.dataPartitioned = partitioned;
    auto separate = DecodeIntra(vol, ac, 7);
    auto carried = DecodeIntra(vol, ac, 7, true);
    ASSERT_FALSE(separate.empty());
    EXPECT_EQ(separate, carried) << partitioned;
  }
}

TEST(Decode, GreyPictureHasActivityZeroAndSummaryCountsIt) {
  VolOptions vol;
  BitWriter w;
  testing::WriteVol(w, vol);
  std::size_t header = w.Bytes().size();
  ASSERT_TRUE(testing::WriteIntraVop(w, 99, 3, {}, false, false));
  std::vector<std::uint8_t> data = w.Bytes();
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  VideoDecoder* d = nullptr;
  ASSERT_EQ(gCreateMP4SPDecoder(&d, data.data(), &size, 0, nullptr), 0);
  std::uint32_t vop = static_cast<std::uint32_t>(data.size() - header);
  ASSERT_EQ(d->decodeNoOutput(d, data.data() + header, &vop), 0);
  std::int32_t activity = -1;
  ASSERT_EQ(d->control(d, 3, &activity), 0);
  EXPECT_EQ(activity, 0);
  Frame out(176, 144);
  ASSERT_EQ(d->control(d, 1, &out.f), 0);
  for (int i = 0; i < 176 * 144; ++i) ASSERT_EQ(out.data[static_cast<std::size_t>(i)], 128);
  PictureSummary s{};
  ASSERT_EQ(d->control(d, 2, &s), 0);
  EXPECT_EQ(s.pictureCount, 1u);
  EXPECT_EQ(s.codingType, 0u);
  EXPECT_EQ(s.intraMacroblocks, 99u);
  EXPECT_EQ(s.width, 176);
  ASSERT_EQ(d->reset(d), 0);
  ASSERT_EQ(d->control(d, 2, &s), 0);
  EXPECT_EQ(s.pictureCount, 0u);
  EXPECT_EQ(s.codingType, 0xFFFFFFFFu);
  d->destroy(d);
}

TEST(Decode, BrokenPictureFailsAndLeavesTheReference) {
  VolOptions vol;
  BitWriter w;
  testing::WriteVol(w, vol);
  std::size_t header = w.Bytes().size();
  ASSERT_TRUE(testing::WriteIntraVop(w, 99, 3, {}, false, false));
  std::vector<std::uint8_t> data = w.Bytes();
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  VideoDecoder* d = nullptr;
  ASSERT_EQ(gCreateMP4SPDecoder(&d, data.data(), &size, 0, nullptr), 0);
  std::uint32_t vop = static_cast<std::uint32_t>(data.size() - header);
  ASSERT_EQ(d->decodeNoOutput(d, data.data() + header, &vop), 0);
  // The same picture with textured blocks, cut in the middle.
  BitWriter t;
  ASSERT_TRUE(testing::WriteIntraVop(t, 99, 3, {{0, 0, 9}, {1, 4, -7}}, false, false));
  std::vector<std::uint8_t> cut(t.Bytes().begin(),
                                t.Bytes().begin() + static_cast<long>(t.Bytes().size() / 2));
  std::uint32_t cutSize = static_cast<std::uint32_t>(cut.size());
  Frame out(176, 144);
  EXPECT_EQ(d->decode(d, cut.data(), &cutSize, &out.f), -1);
  EXPECT_EQ(out.data[0], 0xEE);  // nothing delivered
  ASSERT_EQ(d->control(d, 1, &out.f), 0);
  for (int i = 0; i < 176 * 144; ++i) ASSERT_EQ(out.data[static_cast<std::size_t>(i)], 128);
  // A whole picture decodes normally afterwards.
  std::uint32_t full = static_cast<std::uint32_t>(t.Bytes().size());
  EXPECT_EQ(d->decode(d, t.Bytes().data(), &full, &out.f), 0);
  d->destroy(d);
}

// Layers down to one sample wide, with vectors that point far outside the picture, predict from
// the repeated edge and stay inside every plane (the sanitizers watch).
TEST(Decode, TinyLayersWithFarVectorsStayInBounds) {
  const int sizes[][2] = {{1, 1}, {2, 3}, {17, 1}, {1, 33}, {48, 16}};
  for (const auto& size : sizes) {
    VolOptions vol;
    vol.width = size[0];
    vol.height = size[1];
    int mbs = ((size[0] + 15) / 16) * ((size[1] + 15) / 16);
    BitWriter w;
    testing::WriteVol(w, vol);
    std::size_t header = w.Bytes().size();
    ASSERT_TRUE(testing::WriteIntraVop(w, mbs, 5, {{0, 0, 7}, {1, 9, -3}}, false, false));
    std::size_t intraEnd = w.Bytes().size();
    for (int k = 0; k < 4; ++k) testing::WriteMovingVop(w, mbs, k & 1, k < 2 ? 32 : 17, k % 2 == 0, 63 - k);
    std::vector<std::uint8_t> data = w.Bytes();
    std::uint32_t n = static_cast<std::uint32_t>(data.size());
    VideoDecoder* d = nullptr;
    ASSERT_EQ(gCreateMP4SPDecoder(&d, data.data(), &n, 0, nullptr), 0);
    std::size_t pos = header;
    int pictures = 0;
    while (pos < data.size()) {
      Frame out(size[0] & ~3, size[1] & ~3);
      std::uint32_t left = static_cast<std::uint32_t>(data.size() - pos);
      EXPECT_EQ(d->decode(d, data.data() + pos, &left, &out.f), 0)
          << size[0] << "x" << size[1] << " " << pictures;
      if (pos == header) {
        EXPECT_EQ(left, intraEnd - header);
      }
      if (left == 0) break;
      pos += left;
      ++pictures;
    }
    EXPECT_EQ(pictures, 5);
    d->destroy(d);
  }
}

TEST(Decode, RefusesH263PicturesWithOptionalModes) {
  VideoDecoder* d = nullptr;
  ASSERT_EQ(gCreateH263Decoder(&d, 176, 144, 0, nullptr), 0);
  for (int options : {8, 4, 2, 1}) {
    BitWriter w;
    testing::WriteH263PictureHeader(w, 2, false, options, 8);
    for (int i = 0; i < 64; ++i) w.Put(0xFF, 8);
    std::uint32_t size = static_cast<std::uint32_t>(w.Bytes().size());
    EXPECT_EQ(d->decodeNoOutput(d, w.Bytes().data(), &size), -1) << options;
  }
  for (int format : {6, 7}) {
    BitWriter w;
    testing::WriteH263PictureHeader(w, format, false, 0, 8);
    std::uint32_t size = static_cast<std::uint32_t>(w.Bytes().size());
    EXPECT_EQ(d->decodeNoOutput(d, w.Bytes().data(), &size), -1) << format;
  }
  d->destroy(d);
  EXPECT_EQ(gCreateH263Decoder(&d, 0, 144, 0, nullptr), -1);
}

}  // namespace
}  // namespace brindle
