#include "presentation/xml_document.h"

#include <gtest/gtest.h>

#include <string>

using presentation::XmlDocument;

TEST(XmlDocument, SkipsDeclarationsCommentsAndCdataBeforeAndBetweenElements) {
  XmlDocument xml;
  ASSERT_EQ(xml.Load("<?xml version=\"1.0\"?>\n<!DOCTYPE smil>\n<!-- a > comment -->\n"
                     "<smil><![CDATA[<x>]]><head/><!-- c --><body></body></smil><second/>"),
            1);
  EXPECT_EQ(xml.ElementName(xml.root()), "smil");
  ASSERT_EQ(xml.FindElement("smil"), 1);
  ASSERT_EQ(xml.FindChildElement("body"), 1);
  EXPECT_EQ(xml.ElementName(xml.currentChild()), "body");
  // The second top-level element is ignored.
  xml.ResetPosition();
  ASSERT_EQ(xml.FindElement(), 1);
  EXPECT_EQ(xml.FindElement(), 0);
}

TEST(XmlDocument, ErrorMessages) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"no markup", "Element tag not found"},
      {"", "Element tag not found"},
      {"<", "Abrupt end within tag"},
      {"<\"a\">", "Tag starts with quote"},
      {"<a", "End of tag not found"},
      {"<!-- open", "End of tag not found"},
      {"<a><b>", "Element tag not found"},
      {"<a><b/>text", "Element tag not found"},
      {"<a><b></c></a>", "End tag does not correspond to b"},
      {"<a></", "End tag not completed for element a"},
      {"<a></a", "End tag not completed for element a"},
      {"<a><b/></a junk", "End tag not completed for element a"},
  };
  for (const auto& c : cases) {
    XmlDocument xml;
    EXPECT_EQ(xml.Load(c.text), 0) << c.text;
    EXPECT_EQ(xml.error(), c.error) << c.text;
    EXPECT_EQ(xml.root(), 0u);
    EXPECT_EQ(xml.FindElement(), 0);
  }
}

TEST(XmlDocument, AttributesOnlyDoubleQuotedAndDecoded) {
  XmlDocument xml;
  ASSERT_EQ(xml.Load("<a one=\"say &quot;hi&quot; &lt;&amp;&gt;&apos;\" two='x' "
                     "three=\"&copy; &\" four=bare five = \"spaced\" empty=\"\"/>"),
            1);
  const auto a = xml.root();
  EXPECT_EQ(xml.Attribute(a, "one"), "say \"hi\" <&>'");
  EXPECT_EQ(xml.Attribute(a, "two"), "");
  EXPECT_EQ(xml.Attribute(a, "three"), "&copy; &");
  EXPECT_EQ(xml.Attribute(a, "four"), "");
  EXPECT_EQ(xml.Attribute(a, "five"), "spaced");
  std::string v;
  EXPECT_TRUE(xml.FindAttribute(a, "empty", v));
  EXPECT_FALSE(xml.FindAttribute(a, "missing", v));
  EXPECT_FALSE(xml.FindAttribute(a, "ONE", v));
  // An attribute without a value does not swallow the next one.
  ASSERT_EQ(xml.Load("<a flag src=\"x\"/>"), 1);
  EXPECT_EQ(xml.Attribute(xml.root(), "src"), "x");
  EXPECT_EQ(xml.Attribute(xml.root(), "flag"), "");
}

TEST(XmlDocument, NamesAreCaseSensitiveAndCursorWalksTheTree) {
  XmlDocument xml;
  ASSERT_EQ(xml.Load("<smil><head><layout/></head><Body/><body><par/><par/></body></smil>"), 1);
  ASSERT_EQ(xml.FindElement(), 1);
  ASSERT_EQ(xml.FindChildElement("body"), 1);
  ASSERT_EQ(xml.IntoElement(), 1);
  EXPECT_EQ(xml.depth(), 1);
  EXPECT_EQ(xml.ElementName(xml.currentElement()), "body");
  int pars = 0;
  while (xml.FindChildElement("par")) ++pars;
  EXPECT_EQ(pars, 2);
  ASSERT_EQ(xml.OutOfElement(), 1);
  EXPECT_EQ(xml.OutOfElement(), 0);  // refused at depth 0
  xml.ResetPosition();
  ASSERT_EQ(xml.FindElement(), 1);
  ASSERT_EQ(xml.FindChildElement("head"), 1);
  ASSERT_EQ(xml.IntoElement(), 1);
  ASSERT_EQ(xml.FindChildElement("layout"), 1);
  ASSERT_EQ(xml.IntoElement(), 1);
  EXPECT_EQ(xml.FindChildElement(), 0);  // empty content
}

TEST(XmlDocument, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "<a>";
  XmlDocument xml;
  EXPECT_EQ(xml.Load(text), 0);
  EXPECT_EQ(xml.error(), "Elements nested too deeply");
  std::string ok;
  for (int i = 0; i < 100; ++i) ok += "<a>";
  for (int i = 0; i < 100; ++i) ok += "</a>";
  EXPECT_EQ(xml.Load(ok), 1);
}

TEST(XmlDocument, WriterBuildsTheSkeletonAndEscapesData) {
  XmlDocument xml;
  xml.LoadSkeleton();
  EXPECT_EQ(xml.text(), "<smil><head/>\r\n<body/>\r\n</smil>\r\n\r\n");
  xml.ResetPosition();
  ASSERT_EQ(xml.FindElement("smil"), 1);
  ASSERT_EQ(xml.FindChildElement("head"), 1);
  ASSERT_EQ(xml.IntoElement(), 1);
  ASSERT_EQ(xml.AddChildElement("meta", "a<b&c>"), 1);
  EXPECT_EQ(xml.text(),
            "<smil><head><meta>a&lt;b&amp;c&gt;</meta>\r\n</head>\r\n\r\n<body/>\r\n</smil>\r\n\r\n");
  EXPECT_EQ(xml.ElementName(xml.currentChild()), "meta");
  ASSERT_EQ(xml.AddElement("title"), 1);  // sibling of head
  ASSERT_EQ(xml.FindElement("body"), 1);
  // The tree still parses and holds everything in order.
  XmlDocument again;
  ASSERT_EQ(again.Load(xml.text()), 1);
  std::string names;
  for (auto n = again.node(again.root()).firstChild; n; n = again.node(n).nextSibling)
    names += again.ElementName(n) + " ";
  EXPECT_EQ(names, "head title body ");
}
