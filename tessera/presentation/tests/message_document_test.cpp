#include "presentation/message_document.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mms/multipart.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "presentation/smil.h"

using namespace presentation;

namespace {

class DocumentTest : public ::testing::Test {
 protected:
  std::u16string Path(const char* name) const { return platform::Utf8ToUtf16(root_.path() + "/" + name); }
  std::u16string Write(const char* name, std::string_view data) {
    const std::u16string path = Path(name);
    EXPECT_TRUE(platform::WriteFile(path, data));
    return path;
  }
  std::string Read(const std::u16string& path) {
    std::string data;
    platform::ReadFile(path, data);
    return data;
  }
  /// A package of files under "src/", with "mms.smil" as its root when smil is given.
  std::u16string Package(std::initializer_list<std::pair<const char*, const char*>> parts,
                         const char* smil = nullptr) {
    const std::u16string dir = Path("src");
    platform::CreateDirectories(dir);
    auto package = mms::MultipartPackage::Create();
    for (const auto& [type, name] : parts) {
      if (!platform::FileExists(mms::JoinPath(dir, platform::Utf8ToUtf16(name))))
        platform::WriteFile(mms::JoinPath(dir, platform::Utf8ToUtf16(name)), std::string("data of ") + name);
      mms::PartDescriptor d;
      d.contentType = type;
      d.directory = dir;
      d.fileName = platform::Utf8ToUtf16(name);
      EXPECT_TRUE(package->AddPart(d));
    }
    if (smil) {
      platform::WriteFile(mms::JoinPath(dir, u"mms.smil"), smil);
      EXPECT_TRUE(package->AddRoot(dir, u"mms.smil"));
    }
    const std::u16string body = Path("body.pkg");
    EXPECT_TRUE(package->Write(body));
    return body;
  }

  platform_testing::ScopedDeviceRoot root_;
};

class FixedProbe final : public MediaDurationProbe {
 public:
  std::uint32_t DurationMs(std::u16string_view, MediaKind kind) override {
    return KindClass(kind) == 2 ? 5500 : 0;
  }
};

}  // namespace

TEST(MediaTables, KindsAndContentTypes) {
  EXPECT_EQ(KindFromContentType("IMAGE/JPEG"), kKindJpeg);
  EXPECT_EQ(KindFromContentType("text/plain;charset=utf_8"), kKindText);
  EXPECT_EQ(KindFromContentType("text/plain; charset=\"big5\""), kKindText);
  EXPECT_EQ(KindFromContentType("audio/amr;foo=1"), kKindAmr);
  EXPECT_EQ(KindFromContentType("application/octet-stream"), kKindUnknown);
  EXPECT_EQ(KindFromFileName(u"PHOTO.JPG"), kKindJpeg);
  EXPECT_EQ(KindFromFileName(u"clip.3GP"), kKindMp4);
  EXPECT_EQ(KindFromFileName(u"noext"), kKindUnknown);
  EXPECT_EQ(KindFromFileName(u"dir.jpg/file"), kKindUnknown);
  EXPECT_EQ(ContentTypeFromKind(kKindBmp), "image/bmp");
  EXPECT_EQ(ContentTypeFromKind(kKindMidi), "audio/midi");
  EXPECT_EQ(ContentTypeFromKind(kKindText), "text/plain;charset=iso-10646-ucs-2");
  EXPECT_EQ(ContentTypeFromKind(kKindMp4), "video/mp4");
  EXPECT_EQ(ContentTypeFromKind(0x10009), "");
}

TEST_F(DocumentTest, WithoutPresentationEachPartBecomesASlide) {
  const auto body = Package({{"image/gif", "a.gif"},
                             {"application/octet-stream", "B.JPG"},
                             {"audio/amr", "c.amr"},
                             {"application/x-unknown", "d.bin"}});
  MessageDocument doc;
  ASSERT_EQ(doc.Load(body, Path("parts")), 4);
  ASSERT_EQ(doc.media().size(), 4u);
  EXPECT_EQ(doc.media()[1]->kind, kKindJpeg);
  EXPECT_EQ(doc.media()[3]->kind, kKindUnknown);
  ASSERT_EQ(doc.slideCount(), 3);
  EXPECT_EQ(doc.slide(0)->image->item->fileName, u"a.gif");
  EXPECT_EQ(doc.slide(1)->image->item->fileName, u"B.JPG");
  EXPECT_EQ(doc.slide(2)->audio->item->fileName, u"c.amr");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(doc.slide(i)->duration, 2000u);
  EXPECT_EQ(doc.rootWidth(), 100u);
  ASSERT_EQ(doc.regions().size(), 2u);
  EXPECT_EQ(doc.regions()[0].bottom, 66u);
  EXPECT_EQ(doc.regions()[1].top, 66u);
  EXPECT_EQ(doc.regions()[1].bottom, 100u);
  EXPECT_EQ(doc.TotalDuration(), 6000u);
  EXPECT_EQ(Read(Path("parts/c.amr")), "data of c.amr");
}

TEST_F(DocumentTest, OnlyUnknownPartsGiveNoSlidesButKeepTheMedia) {
  const auto body = Package({{"application/x-a", "a.bin"}, {"application/x-b", "b.bin"}});
  MessageDocument doc;
  ASSERT_EQ(doc.Load(body, Path("parts")), 2);
  EXPECT_EQ(doc.media().size(), 2u);
  EXPECT_EQ(doc.slideCount(), 0);
  // Saving leaves out what it cannot name.
  ASSERT_EQ(doc.Save(Path("parts"), Path("out.pkg")), 1);
  auto saved = mms::MultipartPackage::Open(Path("out.pkg"));
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->partCount(), 1);  // the presentation alone
}

TEST_F(DocumentTest, APartThatCannotBeWrittenOutLeavesTheOthersShowing) {
  // multipart/mixed, three parts: a text with an empty content type, a picture, a text.
  std::string pkg = "\x84\xA3\x03";
  const auto entry = [&](std::string headers, std::string data) {
    pkg += static_cast<char>(headers.size());
    pkg += static_cast<char>(data.size());
    pkg += headers + data;
  };
  entry(std::string("\0\x8E" "a.txt\0", 8), "lost");
  entry(std::string("\x9D\x8E" "b.gif\0", 8), "GIF89a");
  entry(std::string("\x83\x8E" "c.txt\0", 8), "kept");
  const std::u16string body = Write("mixed.pkg", pkg);
  MessageDocument doc;
  ASSERT_EQ(doc.Load(body, Path("parts")), 2);
  ASSERT_EQ(doc.media().size(), 2u);
  EXPECT_EQ(doc.media()[0]->fileName, u"b.gif");
  EXPECT_EQ(doc.media()[1]->fileName, u"c.txt");
  EXPECT_EQ(doc.slideCount(), 2);
  EXPECT_FALSE(platform::FileExists(Path("parts/a.txt")));
}

TEST_F(DocumentTest, RefusedPresentationFallsBackWithTheMediaKept) {
  const auto body = Package({{"image/jpeg", "a.jpg"}, {"text/plain", "b.txt"}},
                            "<smil><body><img src=\"a.jpg\"/></body></smil>");
  MessageDocument doc;
  ASSERT_EQ(doc.Load(body, Path("parts")), 2);
  ASSERT_EQ(doc.slideCount(), 2);
  EXPECT_EQ(doc.slide(0)->image->item->fileName, u"a.jpg");
  EXPECT_EQ(doc.slide(1)->text->item->fileName, u"b.txt");
}

TEST_F(DocumentTest, PresentationIsRead) {
  const auto body = Package({{"image/jpeg", "a.jpg"}, {"audio/amr", "c.amr"}},
                            "<smil><head><layout><region id=\"Image\" fit=\"slice\"/></layout></head>"
                            "<body><par dur=\"7s\"><img src=\"a.jpg\" region=\"Image\"/>"
                            "<audio src=\"c.amr\"/></par></body></smil>");
  MessageDocument doc;
  ASSERT_EQ(doc.Load(body, Path("parts")), 2);
  ASSERT_EQ(doc.slideCount(), 1);
  EXPECT_EQ(doc.slide(0)->duration, 7000u);
  ASSERT_EQ(doc.regions().size(), 1u);
  EXPECT_EQ(doc.regions()[0].fit, 3u);
}

TEST_F(DocumentTest, TextPartsBecomeUtf16WithByteOrderMark) {
  const std::string utf8 = "h\xC3\xA9";  // "hé"
  platform::CreateDirectories(Path("src"));
  Write("src/u.txt", "\xEF\xBB\xBF" + utf8);
  Write("src/be.txt", std::string("\xFE\xFF\x00h\x00\xE9", 6));
  Write("src/odd.txt", std::string("\x00h\x00", 3));
  Write("src/bad.txt",
        "a\xFF"
        "b");
  Write("src/le.txt", std::string("\xFF\xFEh\x00", 4));
  const auto body = Package({{"text/plain;charset=utf_8", "u.txt"},
                             {"text/plain;charset=iso-10646-ucs-2", "be.txt"},
                             {"text/plain;charset=iso-10646-ucs-2", "odd.txt"},
                             {"text/plain", "bad.txt"},
                             {"text/plain", "le.txt"}});
  MessageDocument doc;
  ASSERT_EQ(doc.Load(body, Path("parts")), 5);
  const std::string he("\xFF\xFEh\x00\xE9\x00", 6);
  EXPECT_EQ(Read(Path("parts/u.txt")), he);
  EXPECT_EQ(Read(Path("parts/be.txt")), he);
  EXPECT_EQ(Read(Path("parts/odd.txt")), std::string("\xFF\xFEh\x00", 4));
  EXPECT_EQ(Read(Path("parts/bad.txt")), std::string("\xFF\xFE"
                                                     "a\x00\xFD\xFF"
                                                     "b\x00",
                                                     8));
  EXPECT_EQ(Read(Path("parts/le.txt")), std::string("\xFF\xFEh\x00", 4));

  // Saved again, the text travels as UCS-2 and a later load leaves it unchanged.
  ASSERT_EQ(doc.Save(Path("parts"), Path("again.pkg")), 1);
  auto again = mms::MultipartPackage::Open(Path("again.pkg"));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->parts()[0].contentType, "text/plain;charset=iso-10646-ucs-2");
  MessageDocument reloaded;
  ASSERT_EQ(reloaded.Load(Path("again.pkg"), Path("parts2")), 5);
  EXPECT_EQ(Read(Path("parts2/u.txt")), he);
}

TEST_F(DocumentTest, TextPartsInOtherDeclaredCharsetsAreConverted) {
  platform::CreateDirectories(Path("src"));
  Write("src/l.txt", "h\xE9");
  Write("src/w.txt", std::string("\xFF\xFEh\x00\xE9\x00", 6));
  const auto body = Package({{"text/plain;charset=iso-8859-1", "l.txt"}, {"text/plain;charset=utf-16", "w.txt"}});
  MessageDocument doc;
  ASSERT_EQ(doc.Load(body, Path("parts")), 2);
  const std::string he("\xFF\xFEh\x00\xE9\x00", 6);
  EXPECT_EQ(Read(Path("parts/l.txt")), he);
  EXPECT_EQ(Read(Path("parts/w.txt")), he);
}

// A related body without Start and without a presentation: its first part is the root, and
// the message plays as the default presentation with every part.
TEST_F(DocumentTest, RelatedBodyWithoutPresentationPlaysEveryPart) {
  std::string bytes = {'\x84', '\xB3', '\x02'};
  bytes += std::string{'\x08', '\x02', '\x83', '\x8E', 't', '.', 't', 'x', 't', '\0', 'h', 'i'};
  bytes += std::string{'\x08', '\x03', '\x9E', '\x8E', 'i', '.', 'j', 'p', 'g', '\0', 'j', 'p', 'g'};
  const std::u16string body = Write("related.pkg", bytes);
  MessageDocument doc;
  ASSERT_EQ(doc.Load(body, Path("parts")), 2);
  ASSERT_EQ(doc.slideCount(), 2);
  ASSERT_TRUE(doc.slide(0)->text);
  EXPECT_EQ(doc.slide(0)->text->item->fileName, u"t.txt");
  ASSERT_TRUE(doc.slide(1)->image);
  EXPECT_EQ(doc.slide(1)->image->item->fileName, u"i.jpg");
  EXPECT_FALSE(platform::FileExists(Path("parts/mms.smil")));
}

TEST_F(DocumentTest, SlideDurationTakesTheLongestMedia) {
  MessageDocument doc;
  FixedProbe probe;
  doc.SetDurationProbe(&probe);
  doc.SetPartsDirectory(Path("parts"));
  doc.SetDefaultLayout();
  ASSERT_EQ(doc.InsertSlide(-1), 1);
  ASSERT_EQ(doc.AddMediaFile(0, Write("pic.jpg", "jpeg")), 1);
  EXPECT_EQ(doc.SlideDuration(0), 2000u);
  ASSERT_EQ(doc.AddMediaFile(0, Write("voice.amr", "amr")), 1);
  EXPECT_EQ(doc.SlideDuration(0), 5500u);
  EXPECT_EQ(doc.slide(0)->duration, 5500u);
  doc.SetDurationProbe(nullptr);  // unknown: the floor applies
  EXPECT_EQ(doc.SlideDuration(0), 2000u);
}

TEST_F(DocumentTest, AddingFilesNamesCopiesWithoutOverwriting) {
  MessageDocument doc;
  const std::u16string parts = Path("parts");
  doc.SetPartsDirectory(parts);
  platform::CreateDirectories(parts);
  platform::WriteFile(mms::JoinPath(parts, u"1.jpg"), "someone else's");
  doc.InsertSlide(-1);
  doc.InsertSlide(-1);
  EXPECT_EQ(doc.InsertSlide(5), 0);
  const auto a = Write("a.JPG", "first");
  const auto b = Write("b.jpg", "second");
  ASSERT_EQ(doc.AddMediaFile(0, a), 1);
  EXPECT_EQ(doc.slide(0)->image->item->fileName, u"2.JPG");
  EXPECT_EQ(Read(mms::JoinPath(parts, u"1.jpg")), "someone else's");
  // The same source again is shared, compared without case.
  ASSERT_EQ(doc.AddMediaFile(1, a), 1);
  EXPECT_EQ(doc.media().size(), 1u);
  EXPECT_EQ(doc.media()[0]->references, 2u);
  // Replacing the image of slide 1 drops its reference without deleting the file.
  ASSERT_EQ(doc.AddMediaFile(1, b), 1);
  EXPECT_EQ(doc.slide(1)->image->item->fileName, u"3.jpg");
  EXPECT_EQ(doc.media()[0]->references, 1u);
  // Text files are never shared.
  const auto t = Write("t.txt", "hi");
  ASSERT_EQ(doc.AddMediaFile(0, t), 1);
  ASSERT_EQ(doc.AddMediaFile(1, t), 1);
  EXPECT_NE(doc.slide(0)->text->item, doc.slide(1)->text->item);
  EXPECT_EQ(doc.slide(0)->text->region, 1u);
  EXPECT_EQ(Read(mms::JoinPath(parts, u"1.txt")), std::string("\xFF\xFEh\0i\0", 6));
  // Neither are recordings.
  const auto rec = Write("rec.amr", "voice");
  ASSERT_EQ(doc.AddMediaFile(0, rec, rec), 1);
  ASSERT_EQ(doc.AddMediaFile(1, rec, rec), 1);
  EXPECT_NE(doc.slide(0)->audio->item, doc.slide(1)->audio->item);
  // Missing files and unknown kinds are refused.
  EXPECT_EQ(doc.AddMediaFile(0, Path("missing.jpg")), 0);
  EXPECT_EQ(doc.AddMediaFile(0, Write("x.doc", "?")), 0);
  EXPECT_EQ(doc.AddMediaFile(7, a), 0);
  // Removing the last reference destroys the item and, when asked, its file.
  const std::size_t before = doc.media().size();
  ASSERT_EQ(doc.RemoveMedia(1, MediaClass::Image, true), 1);
  EXPECT_EQ(doc.media().size(), before - 1);
  EXPECT_FALSE(platform::FileExists(mms::JoinPath(parts, u"3.jpg")));
  ASSERT_EQ(doc.RemoveMedia(0, MediaClass::Image, false), 1);
  EXPECT_TRUE(platform::FileExists(mms::JoinPath(parts, u"2.JPG")));
  EXPECT_EQ(doc.RemoveMedia(0, MediaClass::Image, false), 1);  // empty slot
  auto removed = doc.RemoveSlide(0);
  ASSERT_TRUE(removed);
  EXPECT_EQ(doc.slideCount(), 1);
  EXPECT_FALSE(doc.RemoveSlide(3));
}

TEST_F(DocumentTest, ComposeSaveLoadGivesTheSameSlides) {
  MessageDocument doc;
  doc.SetPartsDirectory(Path("compose"));
  doc.SetDefaultLayout();
  doc.InsertSlide(-1);
  doc.AddMediaFile(0, Write("p.jpg", "jpeg"));
  doc.AddMediaFile(0, Write("t.txt", "caption"));
  doc.AddMediaFile(0, Write("s.amr", "amr"));
  doc.InsertSlide(-1);
  doc.AddMediaFile(1, Write("v.3gp", "3gp"));
  doc.slide(1)->duration = 8000;
  ASSERT_EQ(doc.Save(Path("compose"), Path("m.pkg")), 1);
  const std::string smil = SmilText(doc);

  MessageDocument back;
  ASSERT_EQ(back.Load(Path("m.pkg"), Path("view")), 4);
  ASSERT_EQ(back.slideCount(), 2);
  EXPECT_EQ(back.slide(0)->image->item->fileName, u"1.jpg");
  EXPECT_EQ(back.slide(0)->text->item->fileName, u"1.txt");
  EXPECT_EQ(back.slide(0)->audio->item->fileName, u"1.amr");
  EXPECT_EQ(back.slide(1)->video->item->fileName, u"1.3gp");
  EXPECT_EQ(back.slide(1)->duration, 8000u);
  EXPECT_EQ(SmilText(back), smil);
  EXPECT_EQ(Read(Path("view/1.txt")), Read(Path("compose/1.txt")));
}

TEST_F(DocumentTest, BadInputsFailCleanly) {
  MessageDocument doc;
  EXPECT_EQ(doc.Load(u"", Path("p")), -1);
  EXPECT_EQ(doc.Load(Path("none.pkg"), u""), -1);
  EXPECT_EQ(doc.Load(Path("none.pkg"), Path("p")), -1);
  EXPECT_EQ(doc.Load(Write("junk.pkg", "\x01\x02garbage"), Path("p")), -1);
  EXPECT_EQ(doc.BuildDefaultPresentation(), 0);
  // A document without regions is not saved, and no body appears.
  EXPECT_EQ(doc.Save(Path("p"), Path("x.pkg")), 0);
  EXPECT_FALSE(platform::FileExists(Path("x.pkg")));
  EXPECT_EQ(doc.Save(u"", Path("x.pkg")), 0);
}

TEST(DocumentLayout, ComposeRequestAndDefaultLayouts) {
  MessageDocument doc;
  ASSERT_EQ(doc.ComposeRequestLayout(176, 180), 1);
  const auto& r = doc.regions();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].left, 5u);
  EXPECT_EQ(r[0].top, 2u);
  EXPECT_EQ(r[0].right, 94u);
  EXPECT_EQ(r[0].bottom, 77u);
  EXPECT_EQ(r[1].top, 77u);
  EXPECT_EQ(r[1].right, 86u);
  EXPECT_EQ(r[1].bottom, 97u);
  EXPECT_EQ(r[1].fit, 0u);
  EXPECT_EQ(doc.ComposeRequestLayout(0, 10), 0);
  doc.SetDefaultLayout(176, 144);
  EXPECT_EQ(doc.regions()[0].bottom, 66u);  // 100 * 96 / 144
  doc.SetDefaultLayout(100, 7);
  EXPECT_EQ(doc.regions()[0].bottom, 57u);  // 100 * 4 / 7
}
