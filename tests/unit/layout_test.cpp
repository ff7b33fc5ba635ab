#include "layout.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ipsetter::layout {
namespace {

using Id = ControlId;

const Control& Get(Id id) {
  const Control* c = Find(id);
  if (c == nullptr)
    throw std::runtime_error("control missing from the table");
  return *c;
}

std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; *s != L'\0'; ++s)
    out += static_cast<char>(*s);
  return out;
}

PixelRect At(Id id, int dpi) {
  return ToPixels(Get(id), dpi);
}

TEST(LayoutTest, TableRowsCarryTheirIdsInZOrder) {
  const auto controls = Controls();
  ASSERT_EQ(controls.size(), 20u);
  for (std::size_t i = 0; i < controls.size(); ++i) {
    EXPECT_EQ(static_cast<int>(controls[i].id), 101 + static_cast<int>(i)) << Narrow(controls[i].name);
  }
  EXPECT_EQ(Find(static_cast<Id>(100)), nullptr);
  EXPECT_EQ(Find(static_cast<Id>(121)), nullptr);
}

TEST(LayoutTest, CaptionsTooltipsAndKinds) {
  struct Row {
    Id id;
    ControlKind kind;
    std::wstring caption;
    const wchar_t* tooltip;
  };
  const Row rows[] = {
      {Id::Text1, ControlKind::TextBox, L"", nullptr},
      {Id::txtStatus, ControlKind::TextBox, L"", nullptr},
      {Id::cmdKeyboard, ControlKind::CommandButton, L"", L"Virtual Keyboard"},
      {Id::cmdRefresh, ControlKind::CommandButton, L"&Refresh", L"Refresh Info"},
      {Id::chkStatic, ControlKind::CheckBox, L"Static", nullptr},
      {Id::Timer1, ControlKind::Timer, L"", nullptr},
      {Id::cmdExit, ControlKind::CommandButton, L"&Close", L"Close Program"},
      {Id::cmdApply, ControlKind::CommandButton, L"&Apply", L"Apply Changes"},
      {Id::txtDns2, ControlKind::TextBox, L"", nullptr},
      {Id::txtIp, ControlKind::TextBox, L"", nullptr},
      {Id::txtOver, ControlKind::TextBox, L"", nullptr},
      {Id::lblStatus, ControlKind::Label, L"", nullptr},
      {Id::lblDns2, ControlKind::Label, L"DNS 2", nullptr},
      {Id::lblDns1, ControlKind::Label, L"DNS 1", nullptr},
      {Id::lblGateway, ControlKind::Label, L"Gateway", nullptr},
      {Id::lblSubnet, ControlKind::Label, L"Subnet", nullptr},
      {Id::lblIp, ControlKind::Label, L"IP Address", nullptr},
  };
  for (const Row& row : rows) {
    const Control& c = Get(row.id);
    SCOPED_TRACE(Narrow(c.name));
    EXPECT_EQ(c.kind, row.kind);
    EXPECT_EQ(std::wstring(c.caption), row.caption);
    if (row.tooltip == nullptr) {
      EXPECT_EQ(c.tooltip, nullptr);
    } else {
      ASSERT_NE(c.tooltip, nullptr);
      EXPECT_EQ(std::wstring(c.tooltip), row.tooltip);
    }
  }
  EXPECT_TRUE(Get(Id::cmdKeyboard).picture);
  int pictures = 0;
  for (const Control& c : Controls())
    pictures += c.picture ? 1 : 0;
  EXPECT_EQ(pictures, 1);
}

TEST(LayoutTest, CreationOrderIsTabOrderWithTheFocusSinkBehindTheIpBox) {
  std::vector<Id> order;
  for (const Control* c : CreationOrder())
    order.push_back(c->id);
  const std::vector<Id> expected = {Id::txtIp,      Id::txtSubnet,   Id::txtGateway, Id::txtDns1,
                                    Id::txtDns2,    Id::chkStatic,   Id::cmdApply,   Id::cmdRefresh,
                                    Id::cmdExit,    Id::cmdKeyboard, Id::lblIp,      Id::lblSubnet,
                                    Id::lblGateway, Id::lblDns1,     Id::lblDns2,    Id::txtOver,
                                    Id::lblStatus,  Id::txtStatus,   Id::Text1};
  EXPECT_EQ(order, expected);
}

TEST(LayoutTest, OnlyInputControlsTakeTabStopsAndOnlyAddressBoxesHaveBorders) {
  const std::set<Id> tab_stops = {Id::txtIp,   Id::txtSubnet,   Id::txtGateway, Id::txtDns1,
                                  Id::txtDns2, Id::chkStatic,   Id::cmdApply,   Id::cmdRefresh,
                                  Id::cmdExit, Id::cmdKeyboard, Id::txtOver};
  const std::set<Id> bordered = {Id::txtIp,   Id::txtSubnet, Id::txtGateway,
                                 Id::txtDns1, Id::txtDns2,   Id::txtOver};
  for (const Control& c : Controls()) {
    EXPECT_EQ(c.tab_stop, tab_stops.count(c.id) == 1) << static_cast<int>(c.id);
    EXPECT_EQ(c.border, bordered.count(c.id) == 1) << static_cast<int>(c.id);
  }
}

TEST(LayoutTest, FontsAndColours) {
  struct Row {
    Id id;
    std::wstring face;
    double points;
    bool bold;
    Colour text;
    Colour back;
  };
  const Colour face = Colour::System(SystemColour::ButtonFace);
  const Colour white = Colour::Rgb(255, 255, 255);
  const Row rows[] = {
      {Id::Text1, L"Arial", 8.25, false, face, white},
      {Id::txtStatus, L"Arial", 8.25, false, Colour::System(SystemColour::ButtonShadow), white},
      {Id::txtIp, L"MS Sans Serif", 9.75, false, Colour::Default(), Colour::Default()},
      {Id::txtDns2, L"MS Sans Serif", 9.75, false, Colour::Default(), Colour::Default()},
      {Id::txtOver, L"MS Sans Serif", 8.25, false, Colour::Default(), Colour::Default()},
      {Id::cmdApply, L"MS Sans Serif", 8.25, false, Colour::Default(), Colour::Default()},
      {Id::chkStatic, L"MS Sans Serif", 8.25, false, Colour::Default(), Colour::Default()},
      {Id::lblStatus, L"Verdana", 6.75, false, Colour::Rgb(128, 128, 128), face},
      {Id::lblIp, L"MS Sans Serif", 8.25, true, Colour::System(SystemColour::ButtonText), face},
      {Id::lblDns2, L"MS Sans Serif", 8.25, true, Colour::System(SystemColour::ButtonText), face},
  };
  for (const Row& row : rows) {
    const Control& c = Get(row.id);
    SCOPED_TRACE(static_cast<int>(row.id));
    EXPECT_EQ(std::wstring(c.font.face), row.face);
    EXPECT_EQ(c.font.points, row.points);
    EXPECT_EQ(c.font.bold, row.bold);
    EXPECT_EQ(c.text, row.text);
    EXPECT_EQ(c.back, row.back);
  }
  // High contrast recolours these two kinds only.
  for (const Control& c : Controls()) {
    const bool coloured = c.text != Colour::Default() || c.back != Colour::Default();
    EXPECT_TRUE(!coloured || c.kind == ControlKind::TextBox || c.kind == ControlKind::Label)
        << static_cast<int>(c.id);
  }
}

TEST(LayoutTest, TwipsToPixelsRoundsHalfAwayFromZero) {
  struct Row {
    double twips;
    int dpi;
    int pixels;
  };
  const Row rows[] = {
      {4440, 96, 296}, {2880, 96, 192}, {4440, 144, 444}, {2880, 144, 288},  {125, 96, 8},
      {7.5, 96, 1},    {7.4, 96, 0},    {-7.5, 96, -1},   {5407.5, 96, 361}, {5407.5, 144, 541},
      {375, 144, 38},  {375, 120, 31},  {0, 192, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TwipsToPixels(row.twips, row.dpi), row.pixels) << row.twips << " twips at " << row.dpi;
  }
  EXPECT_DOUBLE_EQ(PixelsToTwips(303, 96), 4545.0);
  EXPECT_DOUBLE_EQ(PixelsToTwips(1024, 96), 15360.0);
  EXPECT_DOUBLE_EQ(PixelsToTwips(1, 144), 10.0);
}

TEST(LayoutTest, FontHeights) {
  EXPECT_EQ(FontHeightPixels(8.25, 96), 11);
  EXPECT_EQ(FontHeightPixels(9.75, 96), 13);
  EXPECT_EQ(FontHeightPixels(6.75, 96), 9);
  EXPECT_EQ(FontHeightPixels(8.25, 144), 17);
  EXPECT_EQ(FontHeightPixels(9.75, 144), 20);
  EXPECT_EQ(FontHeightPixels(6.75, 144), 14);
}

TEST(LayoutTest, PixelRectsAt96And144Dpi) {
  struct Row {
    Id id;
    PixelRect at96;
    PixelRect at144;
  };
  const Row rows[] = {
      {Id::Text1, {0, 176, 8, 25}, {0, 264, 13, 38}},
      {Id::txtStatus, {8, 176, 297, 25}, {12, 264, 446, 38}},
      {Id::txtIp, {80, 16, 201, 25}, {120, 24, 302, 38}},
      {Id::txtDns2, {80, 112, 201, 25}, {120, 168, 302, 38}},
      {Id::txtOver, {112, 24, 17, 13}, {168, 36, 26, 20}},
      {Id::chkStatic, {6, 142, 49, 17}, {9, 213, 73, 25}},
      {Id::lblStatus, {8, 157, 65, 10}, {12, 236, 98, 15}},
      {Id::lblIp, {8, 24, 73, 17}, {12, 36, 110, 26}},
      {Id::cmdApply, {80, 144, 49, 25}, {120, 216, 74, 38}},
      {Id::cmdRefresh, {136, 144, 57, 25}, {204, 216, 86, 38}},
      {Id::cmdExit, {200, 144, 41, 25}, {300, 216, 62, 38}},
      {Id::cmdKeyboard, {248, 144, 33, 25}, {372, 216, 50, 38}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.id));
    const PixelRect a = At(row.id, 96), b = At(row.id, 144);
    EXPECT_EQ(a, row.at96) << a.left << "," << a.top << " " << a.width << "x" << a.height;
    EXPECT_EQ(b, row.at144) << b.left << "," << b.top << " " << b.width << "x" << b.height;
  }
}

// The grid's shared edges stay shared at every common DPI, whatever the rounding does.
TEST(LayoutTest, GridEdgesHoldAtEveryDpi) {
  const Id boxes[] = {Id::txtIp, Id::txtSubnet, Id::txtGateway, Id::txtDns1, Id::txtDns2};
  const Id labels[] = {Id::lblIp, Id::lblSubnet, Id::lblGateway, Id::lblDns1, Id::lblDns2};
  for (int dpi : {96, 120, 144, 168, 192, 240, 288}) {
    SCOPED_TRACE(dpi);
    const int client_w = TwipsToPixels(kClientWidthTwips, dpi);
    const int client_h = TwipsToPixels(kClientHeightTwips, dpi);
    const PixelRect ip = At(Id::txtIp, dpi);
    for (int row = 0; row < 5; ++row) {
      const PixelRect box = At(boxes[row], dpi), label = At(labels[row], dpi);
      EXPECT_EQ(box.left, ip.left);
      EXPECT_EQ(box.left + box.width, ip.left + ip.width);
      EXPECT_EQ(label.left, At(Id::lblIp, dpi).left);
      EXPECT_EQ(label.top + label.height, box.top + box.height);
    }
    const PixelRect apply = At(Id::cmdApply, dpi), keyboard = At(Id::cmdKeyboard, dpi);
    EXPECT_EQ(apply.left, ip.left);
    EXPECT_EQ(keyboard.left + keyboard.width, ip.left + ip.width);

    // The white band starts at the window's left edge and runs past the right and bottom edges.
    const PixelRect text1 = At(Id::Text1, dpi), status = At(Id::txtStatus, dpi);
    EXPECT_EQ(text1.left, 0);
    EXPECT_LE(status.left, text1.left + text1.width);
    EXPECT_GT(status.left + status.width, client_w);
    EXPECT_GT(status.top + status.height, client_h);
    EXPECT_EQ(status.top, text1.top);

    // The focus sink lies wholly inside the IP box.
    const PixelRect sink = At(Id::txtOver, dpi);
    EXPECT_GE(sink.left, ip.left);
    EXPECT_GE(sink.top, ip.top);
    EXPECT_LE(sink.left + sink.width, ip.left + ip.width);
    EXPECT_LE(sink.top + sink.height, ip.top + ip.height);
  }
}

}  // namespace
}  // namespace ipsetter::layout
