#include "presentation/smil.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace presentation;

namespace {

MediaItem* Add(MessageDocument& doc, const char16_t* name, const char16_t* cid = u"") {
  auto item = std::make_unique<MediaItem>();
  item->fileName = name;
  item->contentId = cid;
  item->kind = KindFromFileName(name);
  return doc.AppendMedia(std::move(item));
}

std::string Wrap(const std::string& layout, const std::string& body) {
  return "<smil><head><layout>" + layout + "</layout></head><body>" + body + "</body></smil>";
}

}  // namespace

TEST(SmilWriter, WorkedExampleIsByteExact) {
  MessageDocument doc;
  doc.SetDefaultLayout();
  doc.InsertSlide(-1);
  Slide* s = doc.slide(0);
  s->duration = 3000;
  s->image = MediaReference{0, 0, 0, Add(doc, u"a.jpg")};
  s->text = MediaReference{1, 0, 0, Add(doc, u"b.txt")};
  s->audio = MediaReference{0, 0, 0, Add(doc, u"c.amr")};
  EXPECT_EQ(SmilText(doc),
            "<smil>\n<head>\n<meta name=\"title\" content=\"mms\"/>\n<layout>\n"
            "<root-layout width=\"100\" height=\"100\" />\n"
            "<region id=\"Image\" left=\"0%\" top=\"0%\" width=\"100%\" height=\"66%\" fit=\"meet\" />\n"
            "<region id=\"Text\" left=\"0%\" top=\"66%\" width=\"100%\" height=\"34%\" fit=\"meet\" />\n"
            "</layout>\n</head>\n<body>\n"
            "<par dur=\"3000ms\" >\n"
            "<img src=\"a.jpg\" region=\"Image\"/>\n"
            "<text src=\"b.txt\" region=\"Text\"/>\n"
            "<audio src=\"c.amr\"/>\n"
            "</par>\n</body>\n</smil>\n");
}

TEST(SmilWriter, VideoHidesImageAndAudioAndOddCasesAreWritten) {
  MessageDocument doc;
  EXPECT_EQ(SmilText(doc), "");  // no regions: not written
  doc.SetDefaultLayout();
  doc.regions()[0].fit = 7;
  const std::string empty = SmilText(doc);
  EXPECT_NE(empty.find("fit=\"meet\""), std::string::npos);
  EXPECT_NE(empty.find("<body>\n</body>\n</smil>\n"), std::string::npos);
  doc.InsertSlide(-1);
  Slide* s = doc.slide(0);
  s->duration = 0;
  s->image = MediaReference{0, 0, 0, Add(doc, u"a.jpg")};
  s->audio = MediaReference{0, 0, 0, Add(doc, u"c.amr")};
  s->video = MediaReference{0, 0, 0, Add(doc, u"d.3gp")};
  s->text = MediaReference{1, 0, 0, nullptr};  // no item: left out
  const std::string text = SmilText(doc);
  EXPECT_NE(text.find("<par dur=\"0ms\" >\n<video src=\"d.3gp\" region=\"Image\"/>\n</par>"),
            std::string::npos)
      << text;
  doc.regions().push_back(doc.regions()[0]);
  EXPECT_EQ(SmilText(doc), "");
}

TEST(SmilReader, ValueEncodings) {
  EXPECT_EQ(smil::ParseTime("5s"), 5000u);
  EXPECT_EQ(smil::ParseTime("5000ms"), 5000u);
  EXPECT_EQ(smil::ParseTime("5000"), 5000u);
  EXPECT_EQ(smil::ParseTime("2.5s"), 2500u);
  EXPECT_EQ(smil::ParseTime("1.2345s"), 1234u);
  EXPECT_EQ(smil::ParseTime(""), 0u);
  EXPECT_EQ(smil::ParseLength("10%"), 10);
  EXPECT_EQ(smil::ParseLength("17"), 17 | smil::kPixels);
  EXPECT_EQ(smil::ParseLength("%"), smil::kPixels);
  EXPECT_EQ(smil::ParseProgress("0.5"), 5);
  EXPECT_EQ(smil::ParseProgress("1.0"), 1);
  EXPECT_EQ(smil::ParseProgress("7"), 1);
  EXPECT_EQ(smil::ParseFit("", false), 0u);
  EXPECT_EQ(smil::ParseFit("slice", true), 3u);
  EXPECT_EQ(smil::ParseFit("odd", true), 2u);
  EXPECT_EQ(smil::ParseFillCode("freeze"), 2u);
  EXPECT_EQ(smil::ParseFillCode("other"), 0u);
}

TEST(SmilReader, RolesFollowTheElementsNotTheLayoutOrder) {
  MessageDocument doc;
  Add(doc, u"a.jpg");
  Add(doc, u"b.txt");
  const std::string text = Wrap(
      "<root-layout width=\"176\" height=\"144\"/>"
      "<region id=\"Text\" left=\"10%\" top=\"0%\" width=\"50%\" height=\"0\"/>"
      "<region id=\"Image\" left=\"17\" top=\"0\" width=\"88\" height=\"72\" fit=\"fill\"/>",
      "<par dur=\"5s\"><img src=\"a.jpg\" region=\"image\"/><text src=\"b.txt\" region=\"Text\"/></par>"
      "<par dur=\"5000\"><text src=\"b.txt\" region=\"Text\"/><img src=\"A.JPG\" region=\"Image\"/></par>");
  ASSERT_EQ(ReadSmilText(text, doc), 1);
  ASSERT_EQ(doc.slideCount(), 2);
  const auto& r = doc.regions();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].role, 1u);
  EXPECT_EQ(r[0].left, 10u);
  EXPECT_EQ(r[0].right, 60u);
  EXPECT_EQ(r[0].bottom, 100u);  // height 0
  EXPECT_EQ(r[1].role, 0u);
  EXPECT_EQ(r[1].left, 9u);
  EXPECT_EQ(r[1].right, 59u);
  EXPECT_EQ(r[1].bottom, 50u);
  EXPECT_EQ(r[1].fit, 1u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(doc.slide(i)->duration, 5000u);
    ASSERT_TRUE(doc.slide(i)->image && doc.slide(i)->image->item);
    EXPECT_EQ(doc.slide(i)->image->item->fileName, u"a.jpg");
    EXPECT_EQ(doc.slide(i)->text->region, 1u);
  }
  EXPECT_EQ(doc.media()[0]->references, 2u);
}

TEST(SmilReader, ContentIdReferences) {
  MessageDocument doc;
  Add(doc, u"photo.jpg", u"<pic1>");
  Add(doc, u"note.txt");
  ASSERT_EQ(ReadSmilText(Wrap("", "<par><img src=\"CID:Pic1\"/><text src=\"cid:note.txt\"/></par>"), doc), 1);
  EXPECT_EQ(doc.slide(0)->image->item->fileName, u"photo.jpg");
  EXPECT_EQ(doc.slide(0)->text->item->fileName, u"note.txt");
  EXPECT_EQ(doc.regions().size(), 2u);  // default layout
  ASSERT_EQ(ReadSmilText(Wrap("", "<par><img src=\"cid:&lt;pic1&gt;\"/></par>"), doc), 1);
  ASSERT_TRUE(doc.slide(0)->image);
  EXPECT_EQ(doc.slide(0)->image->item, nullptr);
}

TEST(SmilReader, VideoDisplacesImageAndAudio) {
  MessageDocument doc;
  Add(doc, u"a.jpg");
  Add(doc, u"d.3gp");
  Add(doc, u"c.amr");
  ASSERT_EQ(ReadSmilText(
                Wrap("", "<par><img src=\"a.jpg\"/><video src=\"d.3gp\"/><audio src=\"c.amr\"/></par>"), doc),
            1);
  const Slide* s = doc.slide(0);
  EXPECT_FALSE(s->image);
  EXPECT_FALSE(s->audio);
  ASSERT_TRUE(s->video);
  EXPECT_EQ(s->duration, 2000u);
}

TEST(SmilReader, RefusedShapes) {
  const std::string longId(300, 'r');
  const std::string refused[] = {
      Wrap("", "<img src=\"a.jpg\"/>"),
      Wrap("", ""),
      Wrap("", "<seq><par><img src=\"a.jpg\"/></par></seq>"),
      Wrap("", "<par><img src=\"a.jpg\"/><text src=\"b.txt\"/><audio src=\"c.amr\"/><ref src=\"x\"/></par>"),
      Wrap("", "<par><par/></par>"),
      Wrap("", "<par><img src=\"a.jpg\"/><img src=\"a.jpg\"/></par>"),
      Wrap("<region id=\"A\"/><region id=\"B\"/><region id=\"C\"/>", "<par/>"),
      Wrap("<region left=\"0\"/>", "<par/>"),
      Wrap("<region id=\"" + longId + "\"/>", "<par/>"),
      "<smil><body><par></smil>",
      std::string("\xFF\xFE<\0s\0m\0i\0l\0>\0", 14),
  };
  for (const std::string& text : refused) {
    MessageDocument doc;
    Add(doc, u"a.jpg");
    EXPECT_EQ(ReadSmilText(text, doc), 0) << text;
  }
}

TEST(SmilReader, LongAndEmptySourcesAreIgnored) {
  MessageDocument doc;
  Add(doc, u"a.jpg");
  const std::string longSrc(300, 'x');
  ASSERT_EQ(
      ReadSmilText(Wrap("", "<par><img src=\"" + longSrc + "\"/><img src=\"\"/><img src=\"a.jpg\"/></par>"),
                   doc),
      1);
  ASSERT_TRUE(doc.slide(0)->image);
  EXPECT_EQ(doc.slide(0)->image->item->fileName, u"a.jpg");
}

TEST(SmilReader, ReadsWhatTheWriterWrote) {
  MessageDocument doc;
  doc.SetDefaultLayout(176, 144);
  doc.InsertSlide(-1);
  doc.InsertSlide(-1);
  doc.slide(0)->duration = 4500;
  doc.slide(0)->image = MediaReference{0, 0, 0, Add(doc, u"1.jpg")};
  doc.slide(1)->text = MediaReference{1, 0, 0, Add(doc, u"2.txt")};
  const std::string text = SmilText(doc);
  MessageDocument back;
  Add(back, u"1.jpg");
  Add(back, u"2.txt");
  ASSERT_EQ(ReadSmilText(text, back), 1);
  EXPECT_EQ(SmilText(back), text);
}

TEST(SmilReader, NamesWithMarkupCharactersRoundTrip) {
  const char16_t* names[] = {u"Tom & Jerry's.jpg", u"say \"hi\" <now>.txt", u"Gr\u00FC\u00DFe&amp;.amr"};
  MessageDocument doc;
  doc.SetDefaultLayout(100, 100);
  doc.InsertSlide(-1);
  doc.slide(0)->image = MediaReference{0, 0, 0, Add(doc, names[0])};
  doc.slide(0)->text = MediaReference{1, 0, 0, Add(doc, names[1])};
  doc.slide(0)->audio = MediaReference{kNoRegion, 0, 0, Add(doc, names[2])};
  const std::string text = SmilText(doc);
  EXPECT_NE(text.find("src=\"Tom &amp; Jerry&apos;s.jpg\""), std::string::npos) << text;
  MessageDocument back;
  for (const char16_t* name : names) Add(back, name);
  ASSERT_EQ(ReadSmilText(text, back), 1) << text;
  ASSERT_EQ(back.slideCount(), 1);
  ASSERT_TRUE(back.slide(0)->image && back.slide(0)->image->item);
  EXPECT_EQ(back.slide(0)->image->item->fileName, names[0]);
  ASSERT_TRUE(back.slide(0)->audio && back.slide(0)->audio->item);
  EXPECT_EQ(back.slide(0)->audio->item->fileName, names[2]);
  // The reader turns quotes and angle brackets of a source into '_' as extraction does with
  // file names, so the text finds the part extracted under that name.
  ASSERT_TRUE(back.slide(0)->text);
  MessageDocument extracted;
  Add(extracted, names[0]);
  Add(extracted, u"say _hi_ _now_.txt");
  Add(extracted, names[2]);
  ASSERT_EQ(ReadSmilText(text, extracted), 1);
  ASSERT_TRUE(extracted.slide(0)->text && extracted.slide(0)->text->item);
  EXPECT_EQ(extracted.slide(0)->text->item->fileName, u"say _hi_ _now_.txt");
}

TEST(SmilReader, RefusedPresentationLeavesReferenceCountsAlone) {
  MessageDocument doc;
  MediaItem* a = Add(doc, u"a.jpg");
  EXPECT_EQ(
      ReadSmilText(
          Wrap("", "<par><img src=\"a.jpg\"/></par><par><img src=\"a.jpg\"/><img src=\"a.jpg\"/></par>"),
          doc),
      0);
  EXPECT_EQ(a->references, 0u);
}

TEST(SmilReader, HugePresentationIsReadWhole) {
  MessageDocument doc;
  Add(doc, u"a.jpg");
  Add(doc, u"b.txt");
  std::string body;
  for (int i = 0; i < 20000; ++i)
    body += "<par dur=\"" + std::to_string(i) +
            "ms\"><img src=\"a.jpg\" region=\"Image\"/>"
            "<text src=\"b.txt\" region=\"Text\"/></par>\n";
  ASSERT_EQ(ReadSmilText(Wrap("<region id=\"Image\"/><region id=\"Text\"/>", body), doc), 1);
  ASSERT_EQ(doc.slideCount(), 20000);
  EXPECT_EQ(doc.slide(19999)->duration, 19999u);
  EXPECT_EQ(doc.slide(0)->duration, 2000u);  // 0 ms falls back to the default
  EXPECT_EQ(doc.media()[0]->references, 20000u);
}
