// The layout table and its conversions between twips and pixels at a DPI.
#include "layout.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ipsetter::layout {
namespace {

using enum ControlKind;
using Id = ControlId;

constexpr Font kArial{L"Arial", 8.25, false};
constexpr Font kAddressFont{L"MS Sans Serif", 9.75, false};
constexpr Font kLabelFont{L"MS Sans Serif", 8.25, true};
constexpr Font kModeFont{L"Verdana", 6.75, false};

constexpr Colour kDefault = Colour::Default();
constexpr Colour kWhite = Colour::Rgb(255, 255, 255);
constexpr Colour kFace = Colour::System(SystemColour::ButtonFace);
constexpr Colour kShadow = Colour::System(SystemColour::ButtonShadow);
constexpr Colour kButtonText = Colour::System(SystemColour::ButtonText);
constexpr Colour kGrey = Colour::Rgb(128, 128, 128);

// clang-format off
constexpr std::array<Control, 20> kControls{{
  // id                name            kind           caption        left  top   width height tab font          text         back      tooltip              border tab   picture
  {Id::Text1,       L"Text1",       TextBox,       L"",           0,    2640, 125,  375,   18, kArial,       kFace,       kWhite,   nullptr,             false, false, false},
  {Id::txtStatus,   L"txtStatus",   TextBox,       L"",           120,  2640, 4455, 375,   17, kArial,       kShadow,     kWhite,   nullptr,             false, false, false},
  {Id::cmdKeyboard, L"cmdKeyboard", CommandButton, L"",           3720, 2160, 495,  375,   9,  kDefaultFont, kDefault,    kDefault, L"Virtual Keyboard", false, true,  true},
  {Id::cmdRefresh,  L"cmdRefresh",  CommandButton, L"&Refresh",   2040, 2160, 855,  375,   7,  kDefaultFont, kDefault,    kDefault, L"Refresh Info",     false, true,  false},
  {Id::chkStatic,   L"chkStatic",   CheckBox,      L"Static",     85,   2125, 735,  255,   5,  kDefaultFont, kDefault,    kDefault, nullptr,             false, true,  false},
  {Id::Timer1,      L"Timer1",      Timer,         L"",           0,    0,    0,    0,     -1, kDefaultFont, kDefault,    kDefault, nullptr,             false, false, false},
  {Id::cmdExit,     L"cmdExit",     CommandButton, L"&Close",     3000, 2160, 615,  375,   8,  kDefaultFont, kDefault,    kDefault, L"Close Program",    false, true,  false},
  {Id::cmdApply,    L"cmdApply",    CommandButton, L"&Apply",     1200, 2160, 735,  375,   6,  kDefaultFont, kDefault,    kDefault, L"Apply Changes",    false, true,  false},
  {Id::txtDns2,     L"txtDns2",     TextBox,       L"",           1200, 1680, 3015, 375,   4,  kAddressFont, kDefault,    kDefault, nullptr,             true,  true,  false},
  {Id::txtDns1,     L"txtDns1",     TextBox,       L"",           1200, 1320, 3015, 375,   3,  kAddressFont, kDefault,    kDefault, nullptr,             true,  true,  false},
  {Id::txtGateway,  L"txtGateway",  TextBox,       L"",           1200, 960,  3015, 375,   2,  kAddressFont, kDefault,    kDefault, nullptr,             true,  true,  false},
  {Id::txtSubnet,   L"txtSubnet",   TextBox,       L"",           1200, 600,  3015, 375,   1,  kAddressFont, kDefault,    kDefault, nullptr,             true,  true,  false},
  {Id::txtIp,       L"txtIp",       TextBox,       L"",           1200, 240,  3015, 375,   0,  kAddressFont, kDefault,    kDefault, nullptr,             true,  true,  false},
  {Id::txtOver,     L"txtOver",     TextBox,       L"",           1680, 360,  255,  195,   15, kDefaultFont, kDefault,    kDefault, nullptr,             true,  true,  false},
  {Id::lblStatus,   L"lblStatus",   Label,         L"",           120,  2355, 975,  150,   16, kModeFont,    kGrey,       kFace,    nullptr,             false, false, false},
  {Id::lblDns2,     L"lblDns2",     Label,         L"DNS 2",      120,  1800, 855,  255,   14, kLabelFont,   kButtonText, kFace,    nullptr,             false, false, false},
  {Id::lblDns1,     L"lblDns1",     Label,         L"DNS 1",      120,  1440, 855,  255,   13, kLabelFont,   kButtonText, kFace,    nullptr,             false, false, false},
  {Id::lblGateway,  L"lblGateway",  Label,         L"Gateway",    120,  1080, 855,  255,   12, kLabelFont,   kButtonText, kFace,    nullptr,             false, false, false},
  {Id::lblSubnet,   L"lblSubnet",   Label,         L"Subnet",     120,  720,  615,  255,   11, kLabelFont,   kButtonText, kFace,    nullptr,             false, false, false},
  {Id::lblIp,       L"lblIp",       Label,         L"IP Address", 120,  360,  1095, 255,   10, kLabelFont,   kButtonText, kFace,    nullptr,             false, false, false},
}};
// clang-format on

constexpr std::size_t kWindowedCount = kControls.size() - 1;

std::array<const Control*, kWindowedCount> SortByTabIndex() {
  std::array<const Control*, kWindowedCount> order{};
  std::size_t n = 0;
  for (const Control& c : kControls) {
    if (c.kind != Timer)
      order[n++] = &c;
  }
  std::sort(order.begin(), order.end(),
            [](const Control* a, const Control* b) { return a->tab_index < b->tab_index; });
  return order;
}

}  // namespace

std::span<const Control> Controls() {
  return kControls;
}

std::span<const Control* const> CreationOrder() {
  static const auto order = SortByTabIndex();
  return order;
}

const Control* Find(ControlId id) {
  for (const Control& c : kControls) {
    if (c.id == id)
      return &c;
  }
  return nullptr;
}

ColourPair ColoursFor(const Control& control, bool high_contrast) {
  const ColourPair table{control.text, control.back};
  if (!high_contrast || (table.text == kDefault && table.back == kDefault))
    return table;
  if (control.kind == TextBox)
    return {Colour::System(SystemColour::WindowText), Colour::System(SystemColour::Window)};
  // The table colours boxes and labels only.
  return {kButtonText, kFace};
}

int TwipsToPixels(double twips, int dpi) {
  return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

double PixelsToTwips(int pixels, int dpi) {
  return static_cast<double>(pixels) * kTwipsPerInch / dpi;
}

int FontHeightPixels(double points, int dpi) {
  return static_cast<int>(std::lround(points * dpi / 72.0));
}

PixelRect ToPixels(const Control& control, int dpi) {
  // Edges are rounded, not sizes, so that edges the grid shares stay shared at every DPI.
  const int left = TwipsToPixels(control.left, dpi);
  const int top = TwipsToPixels(control.top, dpi);
  return {left, top, TwipsToPixels(control.left + control.width, dpi) - left,
          TwipsToPixels(control.top + control.height, dpi) - top};
}

}  // namespace ipsetter::layout
