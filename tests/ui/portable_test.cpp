// The toolkit's platform-free logic: markup reader, value syntax, image descriptions, layout
// arithmetic and the progress fill. Built natively and under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/portable/image_description.h"
#include "ui/portable/layout.h"
#include "ui/portable/markup.h"
#include "ui/portable/values.h"

namespace DuiLib {
namespace {

struct DocumentCase {
  const char* label;
  std::wstring text;
  const wchar_t* error;  // null: parses
};

TEST(MarkupReader, DocumentsAndTheirErrors) {
  const std::vector<DocumentCase> cases = {
      {"minimal", L"<Window/>", nullptr},
      {"nested", L"<Window><A x=\"1\"/><B></B></Window>", nullptr},
      {"declaration and comments", L"<?xml version=\"1.0\"?>\n<!-- c --><Window><!-- inner --></Window>", nullptr},
      {"spaces around equals", L"<Window a = \"1\" />", nullptr},
      {"single quotes inside value", L"<W bkimage=\"file='a.png' scale='true' \"/>", nullptr},
      {"no start tag", L"hello", L"Expected start tag"},
      {"empty text", L"", L"Expected start tag"},
      {"empty element name", L"< >", L"Error parsing element name"},
      {"bad start-tag end", L"<Window /x>", L"Expected start-tag closing"},
      {"unterminated content", L"<Window>", L"Expected end-tag start"},
      {"unterminated child", L"<Window><A></Window>", L"Unmatched closing tag"},
      {"other closing name", L"<Window></Other>", L"Unmatched closing tag"},
      {"attribute without equals", L"<Window a \"1\"/>", L"Error while parsing attributes"},
      {"attribute name missing", L"<Window =\"1\"/>", L"Error while parsing attributes"},
      {"single-quoted value", L"<Window a='1'/>", L"Expected attribute value"},
      {"unterminated value", L"<Window a=\"1/>", L"Error while parsing attribute string"},
  };
  for (const auto& c : cases) {
    CMarkup xml;
    const bool ok = xml.Load(c.text);
    if (c.error == nullptr) {
      EXPECT_TRUE(ok) << c.label << ": " << std::string(xml.GetLastErrorMessage().begin(), xml.GetLastErrorMessage().end());
      EXPECT_TRUE(xml.IsValid()) << c.label;
    } else {
      EXPECT_FALSE(ok) << c.label;
      EXPECT_FALSE(xml.IsValid()) << c.label << ": a failed parse leaves the document empty";
      EXPECT_EQ(xml.GetLastErrorMessage(), c.error) << c.label;
    }
  }
}

TEST(MarkupReader, ErrorLocationIsAtMost49Characters) {
  CMarkup xml;
  const std::wstring tail(200, L'x');
  EXPECT_FALSE(xml.Load(L"<Window a='" + tail));
  EXPECT_EQ(xml.GetLastErrorMessage(), L"Expected attribute value");
  EXPECT_EQ(xml.GetLastErrorLocation().size(), 49u);
  EXPECT_EQ(xml.GetLastErrorLocation().substr(0, 2), L"'x");
}

TEST(MarkupReader, NodesAttributesAndEntities) {
  CMarkup xml(L"<Window a=\"&amp;&lt;&gt;&quot;&apos;\" b=\"x & y\" c=\"&unknown;\">"
              L"  text &amp; more  <Child n=\"1\"/><Child n=\"2\"><Leaf/></Child><Other/></Window>");
  ASSERT_TRUE(xml.IsValid());
  CMarkupNode root = xml.GetRoot();
  EXPECT_EQ(root.GetName(), L"Window");
  EXPECT_EQ(root.GetValue(), L"text & more");
  ASSERT_EQ(root.GetAttributeCount(), 3);
  EXPECT_EQ(root.GetAttributeName(0), L"a");
  EXPECT_EQ(root.GetAttributeValue(0), L"&<>\"'");
  EXPECT_EQ(root.GetAttributeValue(L"b"), L"x & y");  // a bare ampersand stands for itself
  EXPECT_EQ(root.GetAttributeValue(L"c"), L"&unknown;");
  EXPECT_EQ(root.GetAttributeValue(L"missing"), L"");
  EXPECT_FALSE(root.HasAttribute(L"missing"));

  CMarkupNode first = root.GetChild();
  EXPECT_EQ(first.GetAttributeValue(L"n"), L"1");
  CMarkupNode second = first.GetSibling();
  EXPECT_EQ(second.GetAttributeValue(L"n"), L"2");
  EXPECT_EQ(second.GetChild().GetName(), L"Leaf");
  EXPECT_EQ(second.GetChild().GetParent().GetAttributeValue(L"n"), L"2");
  EXPECT_EQ(second.GetSibling().GetName(), L"Other");
  EXPECT_FALSE(second.GetSibling().GetSibling().IsValid());
  EXPECT_EQ(root.GetChild(L"Other").GetName(), L"Other");
  EXPECT_FALSE(root.GetParent().IsValid());
}

TEST(MarkupReader, ClosingNameMatchesOverTheOpeningLength) {
  CMarkup xml;
  EXPECT_TRUE(xml.Load(L"<Window></WindowX>"));
  EXPECT_FALSE(xml.Load(L"<Window></Win>"));
  EXPECT_EQ(xml.GetLastErrorMessage(), L"Unmatched closing tag");
}

TEST(MarkupReader, BytesBomAndSizeLimit) {
  CMarkup xml;
  EXPECT_FALSE(xml.LoadFromMem("", 0));
  EXPECT_EQ(xml.GetLastErrorMessage(), L"File is empty");

  const std::string withBom = "\xEF\xBB\xBF<Window text=\"\xE5\x85\xB3\"/>";
  ASSERT_TRUE(xml.LoadFromMem(withBom.data(), withBom.size()));
  EXPECT_EQ(xml.GetRoot().GetName(), L"Window");
  EXPECT_EQ(xml.GetRoot().GetAttributeValue(L"text"), std::wstring(1, static_cast<wchar_t>(0x5173)));

  // Exactly the limit is read; one byte more is refused.
  std::string big = "<Window>";
  const std::string end = "</Window>";
  big.append(CMarkup::kMaxBytes - big.size() - end.size(), ' ');
  big += end;
  ASSERT_EQ(big.size(), 4194304u);
  EXPECT_TRUE(xml.LoadFromMem(big.data(), big.size()));
  big.insert(big.begin() + 8, ' ');
  EXPECT_FALSE(xml.LoadFromMem(big.data(), big.size()));
  EXPECT_EQ(xml.GetLastErrorMessage(), L"File too large");
  EXPECT_FALSE(xml.IsValid());
}

TEST(MarkupReader, DeepNestingFailsInsteadOfOverflowingTheStack) {
  std::wstring text;
  for (int i = 0; i < 100000; ++i) text += L"<a>";
  CMarkup xml;
  EXPECT_FALSE(xml.Load(text));
}

TEST(ValueSyntax, IntegersListsBooleansColours) {
  EXPECT_EQ(ParseInteger(L" -12px"), -12);
  EXPECT_EQ(ParseInteger(L"+7"), 7);
  EXPECT_EQ(ParseInteger(L"abc"), 0);
  EXPECT_EQ(ParseInteger(L"99999999999"), 2147483647);
  EXPECT_EQ(ParseRect(L"1,2,3,4"), (UiRect{1, 2, 3, 4}));
  EXPECT_EQ(ParseRect(L"1;2 3x4"), (UiRect{1, 2, 3, 4}));  // any one-character separator
  EXPECT_EQ(ParseRect(L"1,2"), (UiRect{1, 2, 0, 0}));      // a short list never reads past the text
  EXPECT_EQ(ParseRect(L""), (UiRect{0, 0, 0, 0}));
  EXPECT_EQ(ParseSize(L"640,460"), (UiSize{640, 460}));
  EXPECT_TRUE(ParseBool(L"true"));
  EXPECT_FALSE(ParseBool(L"True"));
  EXPECT_FALSE(ParseBool(L"1"));
  EXPECT_EQ(ParseColor(L"#FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseColor(L"FF4E6EF2"), 0xFF4E6EF2u);  // "#" is optional
  EXPECT_EQ(ParseColor(L"#00000099"), 0x00000099u);
  EXPECT_EQ(ParseColor(L"  #FF102030", true), 0xFF102030u);
  EXPECT_EQ(ParseColor(L"  #FF102030", false), 0u);
  EXPECT_EQ(ParseColor(L"#1FFFFFFFF"), 0xFFFFFFFFu);
}

TEST(ValueSyntax, AlignmentSubstringsLaterTestsWin) {
  EXPECT_TRUE(ParseHorizontalAlign(L"center", {}).center);
  EXPECT_TRUE(ParseHorizontalAlign(L"right", {}).right);
  const TextAlign both = ParseHorizontalAlign(L"center right", {});
  EXPECT_TRUE(both.right);
  EXPECT_FALSE(both.center);
  const TextAlign left = ParseHorizontalAlign(L"left", TextAlign{true, false});
  EXPECT_FALSE(left.center);
  EXPECT_FALSE(ParseVerticalAlign(L"top", {}).vcenter);
  EXPECT_TRUE(ParseVerticalAlign(L"bottom", {}).bottom);
}

TEST(ValueSyntax, AttributeLists) {
  const auto list = ParseAttributeList(L" width=\"10\"  text=\"a b\" bad");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].first, L"width");
  EXPECT_EQ(list[1].second, L"a b");
}

TEST(ImageDescriptionParsing, Forms) {
  const ImageDescription bare = ParseImageDescription(L"background.png");
  EXPECT_EQ(bare.file, L"background.png");

  const ImageDescription scaled = ParseImageDescription(L"file='app_icon.png' scale='true' ");
  EXPECT_EQ(scaled.file, L"app_icon.png");  // "scale" is ignored, the trailing space ends it

  const ImageDescription full = ParseImageDescription(
      L"file='a.png' restype='PNG' dest='1,2,3,4' source='5,6,7,8' corner='1,1,1,1' mask='#FFFF00FF' fade='128' "
      L"hole='true' xtiled='true' ytiled='false'");
  EXPECT_EQ(full.resType, L"PNG");
  EXPECT_EQ(full.dest, (UiRect{1, 2, 3, 4}));
  EXPECT_EQ(full.source, (UiRect{5, 6, 7, 8}));
  EXPECT_EQ(full.corner, (UiRect{1, 1, 1, 1}));
  EXPECT_EQ(full.mask, 0xFFFF00FFu);
  EXPECT_EQ(full.fade, 128);
  EXPECT_TRUE(full.hole);
  EXPECT_TRUE(full.xtiled);
  EXPECT_FALSE(full.ytiled);

  const ImageDescription color = ParseImageDescription(L"color='#FF079D55'");
  EXPECT_TRUE(color.isColor);
  EXPECT_EQ(color.color, 0xFF079D55u);

  // A malformed pair stops parsing and keeps what came before.
  const ImageDescription broken = ParseImageDescription(L"file='a.png' fade=128 dest='1,1,2,2'");
  EXPECT_EQ(broken.file, L"a.png");
  EXPECT_EQ(broken.fade, 255);
  EXPECT_EQ(broken.dest, (UiRect{}));

  const ImageDescription res = ParseImageDescription(L"res='101' restype='PNG'");
  EXPECT_EQ(res.file, L"101");
}

LayoutBox BoxAt(UiRect rect) {
  LayoutBox box;
  box.rect = rect;
  return box;
}

LayoutBox InsetBox(UiRect rect, UiRect inset) {
  LayoutBox box = BoxAt(rect);
  box.inset = inset;
  return box;
}

LayoutChild Fixed(int w, int h) {
  LayoutChild c;
  c.fixedWidth = w;
  c.fixedHeight = h;
  return c;
}

TEST(LayoutArithmetic, HorizontalCentresAFixedChildBetweenTwoSpacers) {
  LayoutBox box = BoxAt(UiRect{0, 100, 800, 120});
  const auto rects = LayoutHorizontal(box, {Fixed(0, 0), Fixed(115, 20), Fixed(0, 0)});
  EXPECT_EQ(rects[0], (UiRect{0, 100, 342, 120}));
  EXPECT_EQ(rects[1], (UiRect{342, 100, 457, 120}));
  EXPECT_EQ(rects[2], (UiRect{457, 100, 800, 120}));  // the last spacer takes the leftover pixel
}

TEST(LayoutArithmetic, HorizontalDefaultsPutAThinChildAtTheTop) {
  LayoutBox box = BoxAt(UiRect{0, 279, 640, 311});
  const auto rects = LayoutHorizontal(box, {Fixed(0, 0), Fixed(296, 2), Fixed(0, 0)});
  EXPECT_EQ(rects[1], (UiRect{172, 279, 468, 281}));
  box.valign = ChildVAlign::kVCenter;
  EXPECT_EQ(LayoutHorizontal(box, {Fixed(0, 0), Fixed(296, 2), Fixed(0, 0)})[1], (UiRect{172, 294, 468, 296}));
  box.valign = ChildVAlign::kBottom;
  EXPECT_EQ(LayoutHorizontal(box, {Fixed(0, 0), Fixed(296, 2), Fixed(0, 0)})[1], (UiRect{172, 309, 468, 311}));
}

TEST(LayoutArithmetic, HorizontalStretchesAChildWithoutWidthWhateverItsEstimate) {
  LayoutChild label;
  label.estimate = [](UiSize) { return UiSize{50, 24}; };
  const auto rects = LayoutHorizontal(BoxAt(UiRect{0, 0, 300, 40}), {label, Fixed(100, 0)});
  EXPECT_EQ(rects[0], (UiRect{0, 0, 200, 40}));
  EXPECT_EQ(rects[1], (UiRect{200, 0, 300, 40}));
}

TEST(LayoutArithmetic, PaddingInsetAndChildPadding) {
  LayoutBox box = BoxAt(UiRect{0, 0, 100, 100});
  box.inset = UiRect{10, 5, 10, 5};
  box.childPadding = 4;
  LayoutChild a = Fixed(0, 20);
  a.padding = UiRect{0, 3, 0, 2};
  const auto rects = LayoutVertical(box, {a, Fixed(0, 0), Fixed(0, 10)});
  EXPECT_EQ(rects[0], (UiRect{10, 8, 90, 28}));
  // 90 available - (25 + 10 + 2 * 4) fixed = 47 for the stretchable child.
  EXPECT_EQ(rects[1], (UiRect{10, 34, 90, 81}));
  EXPECT_EQ(rects[2], (UiRect{10, 85, 90, 95}));
}

TEST(LayoutArithmetic, VerticalRoundingLeftoverGoesToTheLastStretchableChild) {
  const auto rects = LayoutVertical(BoxAt(UiRect{0, 0, 10, 101}), {Fixed(0, 0), Fixed(0, 0), Fixed(0, 0)});
  EXPECT_EQ(rects[0].Height(), 33);
  EXPECT_EQ(rects[1].Height(), 33);
  EXPECT_EQ(rects[2].Height(), 35);
  EXPECT_EQ(rects[2].bottom, 101);
}

TEST(LayoutArithmetic, VerticalLimitsAndAlignment) {
  LayoutBox box = BoxAt(UiRect{0, 0, 200, 100});
  LayoutChild limited = Fixed(0, 0);
  limited.maxHeight = 30;
  limited.maxWidth = 50;
  LayoutChild wide = Fixed(80, 500);
  wide.minHeight = 0;
  wide.maxHeight = 40;
  box.align = ChildAlign::kCenter;
  const auto rects = LayoutVertical(box, {limited, wide});
  EXPECT_EQ(rects[0], (UiRect{75, 0, 125, 30}));   // stretch capped by the maximum height
  EXPECT_EQ(rects[1], (UiRect{60, 30, 140, 70}));  // estimate clamped to [min, max]
  box.align = ChildAlign::kRight;
  EXPECT_EQ(LayoutVertical(box, {wide})[0], (UiRect{120, 0, 200, 40}));
}

TEST(LayoutArithmetic, OverlayFillsTheInnerRectangleWithinLimits) {
  LayoutChild small = Fixed(320, 32);  // the fixed size is not consulted
  small.maxWidth = 100;
  const auto rects = LayoutOverlay(InsetBox(UiRect{10, 10, 330, 42}, UiRect{1, 1, 1, 1}), {Fixed(0, 0), small});
  EXPECT_EQ(rects[0], (UiRect{11, 11, 329, 41}));
  EXPECT_EQ(rects[1], (UiRect{11, 11, 111, 41}));
}

TEST(ProgressFill, ValueRangeAndDirection) {
  const UiRect bar{172, 279, 468, 281};
  EXPECT_EQ(ProgressFillRect(bar, true, 0, 100, 50), (UiRect{172, 279, 320, 281}));  // 148 of 296
  EXPECT_EQ(ProgressFillRect(bar, true, 0, 100, 150).right, 468);
  EXPECT_EQ(ProgressFillRect(bar, true, 0, 100, -5).right, 172);
  EXPECT_EQ(ProgressFillRect(bar, true, 10, 10, 10).right, 172);  // max <= min becomes min + 1
  EXPECT_EQ(ProgressFillRect(UiRect{0, 0, 10, 100}, false, 0, 100, 25), (UiRect{0, 75, 10, 100}));
  EXPECT_EQ(ProgressFillRect(bar, true, -2147483647, 2147483647, 0).right, 172 + 148);
}

}  // namespace
}  // namespace DuiLib
