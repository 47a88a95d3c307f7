// The toolkit under Wine: builder and attributes, fonts, the installer's layout tree, painting
// into bitmaps, and input through real window messages.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/portable/text.h"
#include "tests/support/test_support.h"
#include "ui/render.h"
#include "ui/ui_lib.h"

namespace DuiLib {
namespace {

std::wstring FixtureDirectory() {
  const char* source = std::getenv("OKU_SOURCE_DIR");
  std::wstring path = L"Z:" + oku::WideFromUtf8(source ? source : "") + L"/tests/ui/";
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// The installer's own resource folder: the shipped main.xml and its images.
std::wstring ShippedResources() {
  std::wstring resources = FixtureDirectory();
  resources.resize(resources.size() - std::wstring(L"tests\\ui\\").size());
  return resources + L"resources\\";
}

CControlUI* Build(CPaintManagerUI& pm, const std::wstring& text) {
  CDialogBuilder builder;
  CControlUI* root = builder.Create(text, L"", nullptr, &pm);
  if (root) pm.AttachDialog(root);
  return root;
}

// A 32-bit bitmap with a DC, rendered into by the paint manager.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    bitmap_ = render::CreateDib(width, height, &bits_);
    dc_ = render::CreateMemoryDC(nullptr);
    old_ = ::SelectObject(dc_.get(), bitmap_.get());
  }
  ~Canvas() { ::SelectObject(dc_.get(), old_); }
  void Render(CPaintManagerUI& pm) {
    const RECT rc{0, 0, width_, height_};
    pm.Render(dc_.get(), rc, rc);
    ::GdiFlush();
  }
  DWORD Rgb(int x, int y) const { return bits_[y * width_ + x] & 0x00FFFFFFu; }

 private:
  int width_, height_;
  std::uint32_t* bits_ = nullptr;
  oku::GdiBitmap bitmap_;
  oku::MemoryDC dc_;
  HGDIOBJ old_ = nullptr;
};

bool Near(DWORD a, DWORD b, int tolerance = 3) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int x = static_cast<int>((a >> shift) & 0xFF), y = static_cast<int>((b >> shift) & 0xFF);
    if (std::abs(x - y) > tolerance) return false;
  }
  return true;
}

::testing::AssertionResult RectIs(const RECT& actual, LONG l, LONG t, LONG r, LONG b) {
  if (actual.left == l && actual.top == t && actual.right == r && actual.bottom == b) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "rect is {" << actual.left << "," << actual.top << "," << actual.right << ","
                                       << actual.bottom << "}, expected {" << l << "," << t << "," << r << "," << b
                                       << "}";
}

// --- builder and attributes ---

TEST(Builder, ReadsTheInstallerTreeFromTheResourceDirectory) {
  CPaintManagerUI::SetResourcePath(ShippedResources());
  CPaintManagerUI pm;
  CDialogBuilder builder;
  CControlUI* root = builder.Create(L"main.xml", L"", nullptr, &pm);
  ASSERT_NE(root, nullptr) << oku::Utf8FromWide(builder.GetLastErrorMessage());
  pm.AttachDialog(root);
  EXPECT_EQ(root->GetClass(), L"VerticalLayoutUI");
  EXPECT_EQ(root->GetBkColor(), 0xFFFFFFFFu);

  auto* progress = dynamic_cast<CProgressUI*>(pm.FindControl(L"installProgress"));
  ASSERT_NE(progress, nullptr);
  EXPECT_FALSE(progress->IsVisible());
  EXPECT_EQ(progress->GetFixedWidth(), 296);
  EXPECT_EQ(progress->GetFixedHeight(), 2);
  EXPECT_EQ(progress->GetMaxValue(), 100);
  EXPECT_EQ(progress->GetBorderRound().cx, 2);
  EXPECT_EQ(progress->GetCustomAttribute(L"forecolor"), L"#FF4E6EF2");  // stored, no effect
  EXPECT_EQ(progress->GetForeImage(), L"");

  auto* appName = dynamic_cast<CLabelUI*>(pm.FindControl(L"appName"));
  ASSERT_NE(appName, nullptr);
  EXPECT_EQ(appName->GetText(), L"oku");
  EXPECT_EQ(appName->GetFont(), 1);
  EXPECT_EQ(appName->GetCustomAttribute(L"lineheight"), L"16");
  EXPECT_EQ(appName->GetTextStyle() & DT_CENTER, static_cast<UINT>(DT_CENTER));
  EXPECT_EQ(appName->GetTextColor(), 0u);  // "color" is not a label attribute

  EXPECT_EQ(pm.FindControl(L"minbtn")->GetToolTip(), L"\u6700\u5c0f\u5316");
  EXPECT_EQ(pm.FindControl(L"appIcon")->GetBkImage(), L"file='app_icon.png' scale='true' ");
  EXPECT_NE(dynamic_cast<CEditUI*>(pm.FindControl(L"pathinput")), nullptr);
  EXPECT_NE(dynamic_cast<CContainerUI*>(pm.FindControl(L"pathInputContainer")), nullptr);
  EXPECT_EQ(pm.FindControl(L"nosuch"), nullptr);
}

TEST(Builder, MissingOrBrokenDescriptionsGiveNoTree) {
  CPaintManagerUI::SetResourcePath(FixtureDirectory());
  CPaintManagerUI pm;
  CDialogBuilder missing;
  EXPECT_EQ(missing.Create(L"no-such-file.xml", L"", nullptr, &pm), nullptr);
  EXPECT_EQ(missing.GetLastErrorMessage(), L"Error opening file");
  CDialogBuilder broken;
  EXPECT_EQ(broken.Create(L"<Window><VerticalLayout a='1'/></Window>", L"", nullptr, &pm), nullptr);
  EXPECT_EQ(broken.GetLastErrorMessage(), L"Expected attribute value");
}

TEST(Builder, FileLimitIsExact) {
  oku::test::ScratchDirectory dir(L"ui_builder_limit");
  std::string text = "\xEF\xBB\xBF<Window><VerticalLayout/></Window>";
  text.append(4194304 - text.size(), ' ');
  ASSERT_TRUE(oku::test::WriteFileBytes(dir.Child(L"exact.xml"), text));
  ASSERT_TRUE(oku::test::WriteFileBytes(dir.Child(L"over.xml"), text + " "));
  ASSERT_TRUE(oku::test::WriteFileBytes(dir.Child(L"empty.xml"), ""));
  CPaintManagerUI::SetResourcePath(dir.path());
  CPaintManagerUI pm;
  CDialogBuilder exact, over, empty;
  CControlUI* root = exact.Create(L"exact.xml", L"", nullptr, &pm);
  EXPECT_NE(root, nullptr);
  delete root;
  EXPECT_EQ(over.Create(L"over.xml", L"", nullptr, &pm), nullptr);
  EXPECT_EQ(over.GetLastErrorMessage(), L"File too large");
  EXPECT_EQ(empty.Create(L"empty.xml", L"", nullptr, &pm), nullptr);
  EXPECT_EQ(empty.GetLastErrorMessage(), L"File is empty");
}

TEST(Builder, ElementRules) {
  CPaintManagerUI pm;
  ASSERT_NE(Build(pm, L"<window><Default name=\"Button\" value=\"height=&quot;33&quot; width=&quot;7&quot;\"/>"
                      L"<verticallayout name=\"root\">"
                      L"  <Unknown><Button name=\"insideUnknown\"/></Unknown>"
                      L"  <BUTTON name=\"upper\" width=\"9\"/>"
                      L"  <Button name=\"outer\"><Label name=\"inner\"/><Label name=\"inner2\"/></Button>"
                      L"  <Container name=\"box\"><Control name=\"cov\" cover=\"true\"/><Control name=\"x\"/></Container>"
                      L"  <Label name=\"after\"/>"
                      L"</verticallayout><Label name=\"second\"/></window>"),
            nullptr);
  auto* root = dynamic_cast<CContainerUI*>(pm.GetRoot());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetName(), L"root");
  EXPECT_EQ(root->GetCount(), 4);                      // unknown element skipped with its subtree
  EXPECT_EQ(pm.FindControl(L"insideUnknown"), nullptr);
  ASSERT_NE(dynamic_cast<CButtonUI*>(pm.FindControl(L"upper")), nullptr);  // names without regard to case
  EXPECT_EQ(pm.FindControl(L"upper")->GetFixedHeight(), 33);  // default list for the class
  EXPECT_EQ(pm.FindControl(L"upper")->GetFixedWidth(), 9);    // own attributes come after it
  EXPECT_NE(pm.FindControl(L"outer"), nullptr);
  EXPECT_EQ(pm.FindControl(L"inner"), nullptr);  // a button is not a container
  EXPECT_EQ(pm.FindControl(L"inner2"), nullptr);
  auto* box = dynamic_cast<CContainerUI*>(pm.FindControl(L"box"));
  ASSERT_NE(box, nullptr);
  ASSERT_NE(box->GetCover(), nullptr);
  EXPECT_EQ(box->GetCover()->GetName(), L"cov");
  EXPECT_EQ(box->GetCount(), 1);
  EXPECT_NE(pm.FindControl(L"after"), nullptr);
  EXPECT_EQ(pm.FindControl(L"second"), nullptr);  // only the first control under the root
}

TEST(Attributes, ValueSyntaxAndClassTables) {
  CPaintManagerUI pm;
  ASSERT_NE(Build(pm, L"<Window><VerticalLayout inset=\"1,2,3,4\" childpadding=\"5\" childalign=\"center\">"
                      L"<Control name=\"a\" visible=\"True\" bkcolor=\"FF112233\" pos=\"10,20,40,60\" padding=\"1,2,3,4\""
                      L"  minwidth=\"3\" maxheight=\"70\" bordersize=\"2\" bordercolor=\"#FF000000\" tooltip=\"t\" userdata=\"u\""
                      L"  mouse=\"false\" keyboard=\"true\" foo=\"bar\"/>"
                      L"<Control name=\"b\" bkcolor=\" #FF112233\" bordersize=\"1,2,3,4\" width=\"10\" width=\"20\" enabled=\"0\"/>"
                      L"<Label name=\"l\" align=\"right\" valign=\"top\" font=\"2\" textcolor=\"#FFFF0000\""
                      L"  textpadding=\"1,2,3,4\" endellipsis=\"true\"/>"
                      L"<Edit name=\"e\" readonly=\"true\" maxchar=\"12\" password=\"true\"/>"
                      L"<Progress name=\"p\" min=\"0\" max=\"100\" value=\"150\" hor=\"false\" foreimage=\"color='#FF00FF00'\"/>"
                      L"</VerticalLayout></Window>"),
            nullptr);
  auto* layout = dynamic_cast<CContainerUI*>(pm.GetRoot());
  EXPECT_EQ(layout->GetInset().bottom, 4);
  EXPECT_EQ(layout->GetChildPadding(), 5);
  EXPECT_EQ(layout->GetChildAlign(), static_cast<UINT>(DT_CENTER));

  CControlUI* a = pm.FindControl(L"a");
  EXPECT_FALSE(a->IsVisible());  // only "true" is true
  EXPECT_EQ(a->GetBkColor(), 0xFF112233u);
  EXPECT_EQ(a->GetFixedXY().cx, 10);
  EXPECT_EQ(a->GetFixedWidth(), 30);
  EXPECT_EQ(a->GetFixedHeight(), 40);
  EXPECT_EQ(a->GetPadding().right, 3);
  EXPECT_EQ(a->GetMinWidth(), 3);
  EXPECT_EQ(a->GetMaxHeight(), 70);
  EXPECT_EQ(a->GetMaxWidth(), 9999);
  EXPECT_EQ(a->GetBorderSize().top, 2);
  EXPECT_EQ(a->GetToolTip(), L"t");
  EXPECT_EQ(a->GetUserData(), L"u");
  EXPECT_FALSE(a->IsMouseEnabled());
  EXPECT_EQ(a->GetCustomAttribute(L"foo"), L"bar");

  CControlUI* b = pm.FindControl(L"b");
  EXPECT_EQ(b->GetBkColor(), 0xFF112233u);  // background colours skip leading whitespace
  EXPECT_EQ(b->GetBorderSize().right, 3);
  EXPECT_EQ(b->GetFixedWidth(), 20);  // a later attribute wins
  EXPECT_FALSE(b->IsEnabled());

  auto* l = dynamic_cast<CLabelUI*>(pm.FindControl(L"l"));
  EXPECT_EQ(l->GetTextStyle() & (DT_CENTER | DT_RIGHT), static_cast<UINT>(DT_RIGHT));
  EXPECT_EQ(l->GetTextStyle() & (DT_VCENTER | DT_BOTTOM), 0u);
  EXPECT_NE(l->GetTextStyle() & DT_END_ELLIPSIS, 0u);
  EXPECT_EQ(l->GetFont(), 2);
  EXPECT_EQ(l->GetTextColor(), 0xFFFF0000u);
  EXPECT_EQ(l->GetTextPadding().left, 1);

  auto* e = dynamic_cast<CEditUI*>(pm.FindControl(L"e"));
  EXPECT_TRUE(e->IsReadOnly());
  EXPECT_TRUE(e->IsPasswordMode());
  EXPECT_EQ(e->GetMaxChar(), 12);
  EXPECT_EQ(e->GetBkColor(), 0xFFFFFFFFu);
  EXPECT_EQ(e->GetTextPadding().top, 3);

  auto* p = dynamic_cast<CProgressUI*>(pm.FindControl(L"p"));
  EXPECT_EQ(p->GetValue(), 100);  // clamped into [min, max]
  EXPECT_FALSE(p->IsHorizontal());
  EXPECT_EQ(p->GetFixedHeight(), 12);
  p->SetValue(-3);
  EXPECT_EQ(p->GetValue(), 0);
}

// --- fonts ---

TEST(Fonts, AddReplaceAndDefault) {
  CPaintManagerUI pm;
  LOGFONTW gui{};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(gui), &gui);

  HFONT bold = pm.AddFont(1, L"Microsoft YaHei", 14, true, false, false);
  ASSERT_NE(bold, nullptr);
  LOGFONTW lf{};
  ::GetObjectW(bold, sizeof(lf), &lf);
  EXPECT_EQ(lf.lfHeight, -14);
  EXPECT_EQ(lf.lfWeight, gui.lfWeight + 700);
  EXPECT_STREQ(lf.lfFaceName, L"Microsoft YaHei");
  EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
  EXPECT_EQ(pm.GetFontInfo(1)->iSize, 14);
  EXPECT_GT(pm.GetFontInfo(1)->tm.tmHeight, 0);

  HFONT replaced = pm.AddFont(1, L"Microsoft YaHei", 21, false, true, true);
  EXPECT_EQ(pm.GetFont(1), replaced);
  ::GetObjectW(replaced, sizeof(lf), &lf);
  EXPECT_EQ(lf.lfHeight, -21);
  EXPECT_TRUE(lf.lfUnderline);
  EXPECT_TRUE(lf.lfItalic);

  EXPECT_EQ(pm.GetFont(-1), pm.GetFont(42));
  ::GetObjectW(pm.GetFont(-1), sizeof(lf), &lf);
  EXPECT_STREQ(lf.lfFaceName, gui.lfFaceName);
  EXPECT_EQ(lf.lfHeight, gui.lfHeight);

  EXPECT_EQ(pm.GetDefaultFontColor(), 0xFF000000u);
  EXPECT_EQ(pm.GetDefaultDisabledColor(), 0xFFA7A6AAu);
  EXPECT_EQ(pm.GetDefaultLinkFontColor(), 0xFF0000FFu);
  EXPECT_EQ(pm.GetDefaultLinkHoverFontColor(), 0xFFD3215Fu);
  EXPECT_EQ(pm.GetDefaultSelectedBkColor(), 0xFFBAE4FFu);
}

// --- the installer's layout ---

class InstallerLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    CPaintManagerUI::SetResourcePath(ShippedResources());
    CDialogBuilder builder;
    CControlUI* root = builder.Create(L"main.xml", L"", nullptr, &pm_);
    ASSERT_NE(root, nullptr);
    pm_.AttachDialog(root);
  }
  void Fonts(int dpi) {
    pm_.AddFont(1, L"Microsoft YaHei", MulDiv(14, dpi, 96), true, false, false);
    pm_.AddFont(2, L"Microsoft YaHei", MulDiv(12, dpi, 96), false, false, false);
  }
  RECT Pos(const wchar_t* name) {
    CControlUI* c = pm_.FindControl(name);
    EXPECT_NE(c, nullptr) << oku::Utf8FromWide(name);
    return c ? c->GetPos() : RECT{-1, -1, -1, -1};
  }
  void Layout(int width, int height) {
    Canvas canvas(width, height);
    canvas.Render(pm_);
  }
  CPaintManagerUI pm_;
};

TEST_F(InstallerLayout, RowsAsWrittenAt640x460) {
  Fonts(96);
  Layout(640, 460);
  EXPECT_TRUE(RectIs(pm_.GetRoot()->GetPos(), 0, 0, 640, 460));
  EXPECT_TRUE(RectIs(Pos(L"titleBarLayout"), 0, 0, 640, 40));
  EXPECT_TRUE(RectIs(Pos(L"minbtn"), 560, 0, 600, 40));
  EXPECT_TRUE(RectIs(Pos(L"closebtn"), 600, 0, 640, 40));
  // The body stacks fixed rows (408 pixels); the 12 left over stay empty at the bottom.
  EXPECT_TRUE(RectIs(Pos(L"topBlank"), 0, 40, 640, 90));
  EXPECT_TRUE(RectIs(Pos(L"iconLayout"), 0, 90, 640, 218));
  EXPECT_TRUE(RectIs(Pos(L"appIcon"), 256, 90, 384, 218));  // centred between two spacers
  EXPECT_TRUE(RectIs(Pos(L"appName"), 0, 231, 640, 247));
  EXPECT_TRUE(RectIs(Pos(L"installBtnLayout"), 0, 279, 640, 311));
  EXPECT_TRUE(RectIs(Pos(L"installbtn"), 268, 279, 372, 311));
  EXPECT_TRUE(RectIs(Pos(L"pathInputLayout"), 0, 340, 640, 372));
  EXPECT_TRUE(RectIs(Pos(L"optionBlank"), 0, 372, 640, 384));
  EXPECT_TRUE(RectIs(Pos(L"autostart_checkbox"), 274, 384, 366, 416));
  EXPECT_TRUE(RectIs(Pos(L"customOptionLayout"), 0, 432, 640, 448));
  EXPECT_TRUE(RectIs(Pos(L"customoptionbtn"), 282, 432, 358, 448));
}

TEST_F(InstallerLayout, HiddenStretchableChildGivesItsSpaceToNobody) {
  Fonts(96);
  Layout(640, 460);
  auto* title = dynamic_cast<CContainerUI*>(pm_.FindControl(L"titleBarLayout"));
  ASSERT_NE(title, nullptr);
  title->GetItemAt(0)->SetVisible(false);
  Layout(640, 460);
  EXPECT_TRUE(RectIs(Pos(L"minbtn"), 0, 0, 40, 40));
  EXPECT_TRUE(RectIs(Pos(L"closebtn"), 40, 0, 80, 40));
}

TEST_F(InstallerLayout, ProgressViewAndLabelHeightFromItsFont) {
  Fonts(96);
  Layout(640, 460);
  pm_.FindControl(L"installbtn")->SetVisible(false);
  auto* progress = dynamic_cast<CProgressUI*>(pm_.FindControl(L"installProgress"));
  progress->SetVisible(true);
  progress->SetValue(50);
  pm_.FindControl(L"progressText")->SetVisible(true);
  Layout(640, 460);
  // A 2-pixel bar at the top of its row, centred by the spacers; value 50 fills 148 of 296.
  EXPECT_TRUE(RectIs(progress->GetPos(), 172, 279, 468, 281));
  EXPECT_TRUE(RectIs(progress->GetFillRect(), 172, 279, 320, 281));
  // The label without "height" takes its font's character height + 8 and pushes the rows below.
  const int labelHeight = pm_.GetFontInfo(1)->tm.tmHeight + 8;
  EXPECT_TRUE(RectIs(Pos(L"progressText"), 0, 311, 640, 311 + labelHeight));
  EXPECT_TRUE(RectIs(Pos(L"pathInputLayout"), 0, 340 + labelHeight, 640, 372 + labelHeight));
}

TEST(ShippedLayout, BuildsLikeTheFixtureAndItsImagesDecode) {
  const std::wstring resources = ShippedResources();
  CPaintManagerUI::SetResourcePath(resources);
  CPaintManagerUI shipped, fixture;
  CDialogBuilder builder;
  CControlUI* root = builder.Create(L"main.xml", L"", nullptr, &shipped);
  ASSERT_NE(root, nullptr) << oku::Utf8FromWide(builder.GetLastErrorMessage());
  shipped.AttachDialog(root);
  CPaintManagerUI::SetResourcePath(FixtureDirectory());
  CDialogBuilder fixtureBuilder;
  fixture.AttachDialog(fixtureBuilder.Create(L"main.xml", L"", nullptr, &fixture));
  CPaintManagerUI::SetResourcePath(resources);
  Canvas a(640, 460), b(640, 460);
  a.Render(shipped);
  b.Render(fixture);
  int compared = 0;
  fixture.GetRoot()->ForEach([&](CControlUI* c) {
    if (c->GetName().empty()) return;
    CControlUI* other = shipped.FindControl(c->GetName());
    ASSERT_NE(other, nullptr) << oku::Utf8FromWide(c->GetName());
    EXPECT_TRUE(::EqualRect(&c->GetPos(), &other->GetPos())) << oku::Utf8FromWide(c->GetName());
    EXPECT_EQ(c->IsVisible(), other->IsVisible()) << oku::Utf8FromWide(c->GetName());
    ++compared;
  });
  EXPECT_GE(compared, 27);
  for (const wchar_t* image : {L"background.png", L"min_icon.png", L"close_icon.png", L"app_icon.png", L"install.png",
                               L"file_icon.png", L"autostart_check_box.png", L"autostart_check_box_selected.png",
                               L"custom_option.png"}) {
    const TImageInfo* info = shipped.GetImageEx(image);
    ASSERT_NE(info, nullptr) << oku::Utf8FromWide(image);
    EXPECT_GT(info->nX, 0);
  }
}

// --- painting ---

TEST(Painting, FillsBlendsClipsAndStretches) {
  static const unsigned char kPng[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x06, 0x00, 0x00, 0x00, 0x72, 0xB6, 0x0D, 0x24, 0x00, 0x00, 0x00,
      0x16, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x08, 0x1B, 0x18, 0x80, 0x34,
      0x90, 0xCD, 0xC0, 0x00, 0x00, 0x3A, 0xDC, 0x05, 0x7C, 0x7F, 0xD7, 0x23, 0x1C, 0x00, 0x00, 0x00, 0x00, 0x49,
      0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  oku::test::ScratchDirectory dir(L"ui_painting");
  // 2x2: red, half-transparent green / blue, transparent.
  ASSERT_TRUE(oku::test::WriteFileBytes(dir.Child(L"quad.png"), std::string(reinterpret_cast<const char*>(kPng),
                                                                          sizeof(kPng))));
  CPaintManagerUI::SetResourcePath(dir.path());
  CPaintManagerUI pm;
  ASSERT_NE(Build(pm, L"<Window><HorizontalLayout bkcolor=\"#FFFFFFFF\">"
                      L"<Control name=\"opaque\" width=\"20\" bkcolor=\"#FFFF0000\"/>"
                      L"<Control name=\"blend\" width=\"20\" bkcolor=\"#80000000\"/>"
                      L"<Control name=\"round\" width=\"40\" bkcolor=\"#FF0000FF\" borderround=\"20,20\"/>"
                      L"<Control name=\"image\" width=\"40\" bkimage=\"file='quad.png'\"/>"
                      L"<Progress name=\"bar\" width=\"40\" height=\"40\" value=\"50\" bkcolor=\"#FFE4E4E4\""
                      L" foreimage=\"color='#FF00FF00'\"/>"
                      L"<Button name=\"off\" width=\"20\" enabled=\"false\" normalimage=\"color='#FF123456'\"/>"
                      L"<Control name=\"missing\" width=\"20\" bkimage=\"nothere.png\"/>"
                      L"<Button name=\"offimg\" width=\"20\" enabled=\"false\" normalimage=\"color='#FF123456'\""
                      L" disabledimage=\"color='#FF654321'\"/>"
                      L"<Control/></HorizontalLayout></Window>"),
            nullptr);
  Canvas canvas(240, 40);
  canvas.Render(pm);
  EXPECT_EQ(canvas.Rgb(5, 5), 0xFF0000u);
  EXPECT_TRUE(Near(canvas.Rgb(25, 5), 0x7F7F7F)) << std::hex << canvas.Rgb(25, 5);
  EXPECT_EQ(canvas.Rgb(60, 20), 0x0000FFu);      // inside the rounded rectangle
  EXPECT_EQ(canvas.Rgb(41, 1), 0xFFFFFFu);       // the corner is clipped away
  EXPECT_EQ(canvas.Rgb(85, 5), 0xFF0000u);       // image stretched: top-left quadrant
  EXPECT_TRUE(Near(canvas.Rgb(115, 5), 0x7FFF7F)) << std::hex << canvas.Rgb(115, 5);  // 50% green over white
  EXPECT_EQ(canvas.Rgb(85, 35), 0x0000FFu);
  EXPECT_EQ(canvas.Rgb(115, 35), 0xFFFFFFu);     // transparent pixel
  EXPECT_EQ(canvas.Rgb(121, 20), 0x00FF00u);     // progress fill: 20 of 40 pixels
  EXPECT_EQ(canvas.Rgb(139, 20), 0x00FF00u);
  EXPECT_EQ(canvas.Rgb(140, 20), 0xE4E4E4u);
  EXPECT_EQ(canvas.Rgb(170, 20), 0x123456u);     // disabled button falls back to its normal image
  EXPECT_EQ(canvas.Rgb(190, 20), 0xFFFFFFu);     // an image that cannot be loaded draws nothing
  EXPECT_EQ(canvas.Rgb(210, 20), 0x654321u);     // a disabled button with its disabled image
  const TImageInfo* image = pm.GetImage(L"quad.png");
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(image->bAlpha);
  EXPECT_EQ(image->nX, 2);
  EXPECT_EQ(image->pBits[1], 0x80008000u);  // premultiplied BGRA
}

// --- a real window ---

class TestWindow : public WindowImplBase {
 public:
  const wchar_t* WindowClassName() const override { return L"OkuUiTestWindow"; }
  std::wstring SkinFolderName() override { return L"skin"; }
  std::wstring SkinFileName() override { return L"window.xml"; }
  void Notify(TNotifyUI& msg) override {
    notes.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L"") + L":" +
                    std::to_wstring(msg.wParam));
    WindowImplBase::Notify(msg);
  }
  LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override {
    if (uMsg == WM_CLOSE) closeCode = static_cast<int>(wParam);
    return WindowImplBase::HandleCustomMessage(uMsg, wParam, lParam, bHandled);
  }
  void OnFinalMessage(HWND hWnd) override {
    WindowImplBase::OnFinalMessage(hWnd);
    finalCalled = true;
  }
  CPaintManagerUI& Manager() { return m_PaintManager; }
  int Count(const std::wstring& note) const {
    int n = 0;
    for (const auto& s : notes) n += s == note;
    return n;
  }

  std::vector<std::wstring> notes;
  int closeCode = -1;
  bool finalCalled = false;
};

void Pump(const std::function<bool()>& done, DWORD timeoutMs = 3000) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!done() && ::GetTickCount64() < deadline) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!CPaintManagerUI::TranslateMessage(&msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
    if (!done()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

class WindowInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(oku::test::WriteFileBytes(
        dir_.Child(L"window.xml"),
        "\xEF\xBB\xBF<Window size=\"200,100\" caption=\"0,0,200,30\" roundcorner=\"4,4\">"
        "<VerticalLayout bkcolor=\"#FFFFFFFF\"><HorizontalLayout height=\"50\">"
        "<Button name=\"btn\" width=\"100\" bkcolor=\"#FF00FF00\" tooltip=\"tip\"/>"
        "<Button name=\"off\" width=\"50\" enabled=\"false\"/><Control name=\"grip\"/></HorizontalLayout>"
        "<HorizontalLayout height=\"30\"><Edit name=\"edit\" width=\"120\" text=\"C:\\Oku\" readonly=\"true\"/>"
        "<Button name=\"closebtn\" width=\"30\"/><Control/></HorizontalLayout></VerticalLayout></Window>"));
    CPaintManagerUI::SetResourcePath(dir_.path());
    window_ = new TestWindow;
    ASSERT_NE(window_->Create(nullptr, L"UiTest", WS_VISIBLE | WS_POPUP, 0, 0, 0, 300, 300), nullptr);
    window_->ShowWindow(true, true);
    ::UpdateWindow(*window_);
    Pump([&] { return window_->Count(L"windowinit::0") > 0; });
  }
  void TearDown() override {
    if (window_ && !window_->finalCalled && ::IsWindow(*window_)) ::DestroyWindow(*window_);
    delete window_;
  }
  void Mouse(UINT message, int x, int y, WPARAM keys = 0) {
    ::SendMessageW(*window_, message, keys, MAKELPARAM(x, y));
  }
  CButtonUI* Button(const wchar_t* name) {
    return dynamic_cast<CButtonUI*>(window_->Manager().FindControl(name));
  }

  oku::test::ScratchDirectory dir_{L"ui_window"};
  TestWindow* window_ = nullptr;
};

TEST_F(WindowInput, WindowSettingsLayoutAndFirstFrame) {
  RECT rc{};
  ::GetWindowRect(*window_, &rc);
  EXPECT_EQ(rc.right - rc.left, 200);  // "size" resized the window
  EXPECT_EQ(rc.bottom - rc.top, 100);
  ::GetClientRect(*window_, &rc);
  EXPECT_EQ(rc.right, 200);  // no non-client area
  EXPECT_EQ(window_->Manager().GetRoundCorner().cx, 4);
  // "roundcorner" rounds the window region: (0,0)-(w+1,h+1) with a 4 x 4 ellipse, inside the window.
  const oku::GdiRegion region(::CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(::GetWindowRgn(*window_, region.get()), ERROR);
  const oku::GdiRegion expected(::CreateRoundRectRgn(0, 0, 201, 101, 4, 4));
  const oku::GdiRegion inside(::CreateRectRgn(0, 0, 200, 100));
  ::CombineRgn(expected.get(), expected.get(), inside.get(), RGN_AND);
  EXPECT_TRUE(::EqualRgn(region.get(), expected.get()));
  EXPECT_FALSE(::PtInRegion(region.get(), 0, 0));  // the corner is cut
  EXPECT_TRUE(::PtInRegion(region.get(), 100, 0));
  EXPECT_EQ(window_->Count(L"windowinit::0"), 1);
  EXPECT_EQ(::GetWindowLongW(*window_, GWL_STYLE) & WS_CAPTION, 0);
  EXPECT_TRUE(RectIs(Button(L"btn")->GetPos(), 0, 0, 100, 50));
  const std::uint32_t* bits = window_->Manager().GetOffscreenBits();
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(bits[10 * 200 + 10] & 0xFFFFFF, 0x00FF00u);  // the button's colour in the off-screen bitmap
  EXPECT_EQ(bits[70 * 200 + 190] & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(WindowInput, ClickInsideSendsClick) {
  Mouse(WM_MOUSEMOVE, 10, 10);
  EXPECT_NE(Button(L"btn")->GetButtonState() & CButtonUI::UISTATE_HOT, 0u);
  Mouse(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
  EXPECT_NE(Button(L"btn")->GetButtonState() & CButtonUI::UISTATE_PUSHED, 0u);
  EXPECT_EQ(::GetCapture(), window_->GetHWND());
  Mouse(WM_LBUTTONUP, 12, 12);
  EXPECT_EQ(window_->Count(L"click:btn:0"), 1);
  EXPECT_EQ(Button(L"btn")->GetButtonState() & (CButtonUI::UISTATE_PUSHED | CButtonUI::UISTATE_CAPTURED), 0u);
  EXPECT_EQ(::GetCapture(), nullptr);
  Mouse(WM_MOUSEMOVE, 180, 90);
  EXPECT_EQ(Button(L"btn")->GetButtonState() & CButtonUI::UISTATE_HOT, 0u);
}

TEST_F(WindowInput, PressInsideReleaseOutsideSendsNothing) {
  Mouse(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
  Mouse(WM_MOUSEMOVE, 150, 80, MK_LBUTTON);
  EXPECT_EQ(Button(L"btn")->GetButtonState() & CButtonUI::UISTATE_PUSHED, 0u);
  Mouse(WM_LBUTTONUP, 150, 80);
  EXPECT_EQ(window_->Count(L"click:btn:0"), 0);
  // Leaving and coming back while captured still clicks.
  Mouse(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
  Mouse(WM_MOUSEMOVE, 150, 80, MK_LBUTTON);
  Mouse(WM_MOUSEMOVE, 20, 20, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 20, 20);
  EXPECT_EQ(window_->Count(L"click:btn:0"), 1);
}

TEST_F(WindowInput, DisabledButtonIsSilent) {
  Mouse(WM_LBUTTONDOWN, 120, 10, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 120, 10);
  EXPECT_EQ(window_->Count(L"click:off:0"), 0);
  Button(L"btn")->SetEnabled(false);
  Mouse(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 10, 10);
  EXPECT_EQ(window_->Count(L"click:btn:0"), 0);
  EXPECT_FALSE(Button(L"btn")->Activate());
  Button(L"btn")->SetEnabled(true);
  EXPECT_TRUE(Button(L"btn")->Activate());
  EXPECT_EQ(window_->Count(L"click:btn:0"), 1);
}

TEST_F(WindowInput, KeyboardActivatesTheFocusedButton) {
  Mouse(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 10, 10);
  ASSERT_EQ(window_->Manager().GetFocus(), Button(L"btn"));
  int clicks = 1;
  // Through the message loop: the key filter passes Enter on to the focused button.
  for (const WPARAM key : {VK_SPACE, VK_RETURN}) {
    ::PostMessageW(*window_, WM_KEYDOWN, key, 0);
    ++clicks;
    Pump([&] { return window_->Count(L"click:btn:0") == clicks; });
    EXPECT_EQ(window_->Count(L"click:btn:0"), clicks) << key;
  }
  EXPECT_FALSE(window_->finalCalled);
  Button(L"btn")->SetEnabled(false);
  ::SendMessageW(*window_, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(window_->Count(L"click:btn:0"), clicks);
}

// The tooltip window of this thread that is shown, null when none.
HWND ShownToolTip() {
  HWND found = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND hwnd, LPARAM param) -> BOOL {
        wchar_t cls[64] = {};
        ::GetClassNameW(hwnd, cls, 64);
        if (std::wstring(cls) == TOOLTIPS_CLASSW && ::IsWindowVisible(hwnd)) {
          *reinterpret_cast<HWND*>(param) = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

TEST_F(WindowInput, HoverShowsTheToolTipAndLeavingHidesIt) {
  Mouse(WM_MOUSEMOVE, 10, 10);
  EXPECT_EQ(ShownToolTip(), nullptr);
  Mouse(WM_MOUSEHOVER, 10, 10);
  HWND tip = ShownToolTip();
  ASSERT_NE(tip, nullptr);
  wchar_t text[64] = {};
  TOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.hwnd = *window_;
  ti.uId = 1;
  ti.lpszText = text;
  ::SendMessageW(tip, TTM_GETTEXTW, 64, reinterpret_cast<LPARAM>(&ti));
  EXPECT_STREQ(text, L"tip");
  EXPECT_EQ(::SendMessageW(tip, TTM_GETMAXTIPWIDTH, 0, 0), 300);
  Mouse(WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(ShownToolTip(), nullptr);
  // A control without a tooltip shows none.
  Mouse(WM_MOUSEMOVE, 175, 10);
  Mouse(WM_MOUSEHOVER, 175, 10);
  EXPECT_EQ(ShownToolTip(), nullptr);
}

TEST_F(WindowInput, AsyncNotificationsAreCoalescedUnlessRepeatsAllowed) {
  CPaintManagerUI& pm = window_->Manager();
  pm.SendNotify(Button(L"btn"), L"custom", 1, 0, true);
  pm.SendNotify(Button(L"btn"), L"custom", 2, 0, true);
  pm.SendNotify(Button(L"off"), L"custom", 3, 0, true, true);
  pm.SendNotify(Button(L"off"), L"custom", 4, 0, true, true);
  EXPECT_EQ(window_->Count(L"custom:btn:2"), 0);  // nothing before the message loop
  Pump([&] { return window_->Count(L"custom:off:4") > 0; });
  EXPECT_EQ(window_->Count(L"custom:btn:1"), 0);
  EXPECT_EQ(window_->Count(L"custom:btn:2"), 1);
  EXPECT_EQ(window_->Count(L"custom:off:3"), 1);
  EXPECT_EQ(window_->Count(L"custom:off:4"), 1);
}

TEST_F(WindowInput, BaseHitTestUsesTheCaptionBand) {
  const auto hit = [&](int x, int y) {
    POINT pt{x, y};
    ::ClientToScreen(*window_, &pt);
    return ::SendMessageW(*window_, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
  };
  EXPECT_EQ(hit(175, 10), HTCAPTION);  // plain control in the band
  EXPECT_EQ(hit(10, 10), HTCLIENT);    // a button stays clickable
  EXPECT_EQ(hit(175, 40), HTCLIENT);   // below the band
}

TEST_F(WindowInput, ReadOnlyEditShowsASelectableNativeBox) {
  Mouse(WM_LBUTTONDOWN, 20, 60, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 20, 60);
  HWND edit = window_->Manager().GetNativeEditWindow();
  ASSERT_NE(edit, nullptr);
  EXPECT_NE(::GetWindowLongW(edit, GWL_STYLE) & ES_READONLY, 0);
  wchar_t text[64] = {};
  ::GetWindowTextW(edit, text, 64);
  EXPECT_STREQ(text, L"C:\\Oku");
  ::SendMessageW(edit, EM_SETSEL, 0, -1);
  DWORD start = 0, end = 0;
  ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(end - start, 6u);  // the text can be selected
  ::SendMessageW(edit, WM_CHAR, L'x', 0);
  ::GetWindowTextW(edit, text, 64);
  EXPECT_STREQ(text, L"C:\\Oku");  // but not changed
  Mouse(WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 10, 10);
  Pump([&] { return window_->Manager().GetNativeEditWindow() == nullptr; });
  EXPECT_EQ(window_->Manager().GetNativeEditWindow(), nullptr);
  EXPECT_FALSE(::IsWindow(edit));
}

TEST_F(WindowInput, EscapeClosesLikeCloseOne) {
  ::PostMessageW(*window_, WM_KEYDOWN, VK_ESCAPE, 0);
  Pump([&] { return window_->finalCalled; });
  EXPECT_TRUE(window_->finalCalled);
  EXPECT_EQ(window_->closeCode, 1);
}

TEST_F(WindowInput, CloseButtonClosesThroughTheBase) {
  Mouse(WM_LBUTTONDOWN, 130, 60, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 130, 60);
  EXPECT_EQ(window_->Count(L"click:closebtn:0"), 1);
  Pump([&] { return window_->finalCalled; });
  EXPECT_TRUE(window_->finalCalled);
  EXPECT_EQ(window_->closeCode, 1);
}

// --- the failure box ---

TEST(WindowFailure, UnreadableSkinShowsTheBoxAndExitsWithOne) {
  oku::test::ScratchDirectory dir(L"ui_probe");
  const std::wstring probe = oku::test::BinDirectory() + L"\\tests\\ui_probe.exe";
  std::wstring commandLine = L"\"" + probe + L"\" \"" + dir.path() + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  const auto [process, thread] = oku::OwnProcessHandles(pi);
  const oku::test::AnsweredBox box = oku::test::AnswerMessageBox(L"Duilib", IDOK, 30000);
  EXPECT_TRUE(box.found);
  EXPECT_EQ(box.text, L"\u52a0\u8f7d\u8d44\u6e90\u6587\u4ef6\u5931\u8d25");
  if (::WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 99);
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 1u);
}

}  // namespace
}  // namespace DuiLib
