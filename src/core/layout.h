// The window's layout table: every control's kind, place in twips, font, colours and tab order.
#pragma once

#include <cstdint>
#include <span>

#include "window_peer.h"

namespace ipsetter::layout {

enum class ControlKind { TextBox, Label, CommandButton, CheckBox, Timer };

// The system colours the window uses, by role; the Win32 layer maps them to GetSysColor indices.
enum class SystemColour { ButtonFace, ButtonShadow, ButtonText, Window, WindowText };

struct Colour {
  enum class Source { Default, System, Rgb };
  Source source = Source::Default;
  SystemColour system = SystemColour::ButtonFace;
  std::uint8_t r = 0, g = 0, b = 0;

  static constexpr Colour Default() { return {}; }
  static constexpr Colour System(SystemColour c) { return {Source::System, c, 0, 0, 0}; }
  static constexpr Colour Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return {Source::Rgb, SystemColour::ButtonFace, r, g, b};
  }
  bool operator==(const Colour&) const = default;
};

struct Font {
  const wchar_t* face;
  double points;
  bool bold;
};

inline constexpr Font kDefaultFont{L"MS Sans Serif", 8.25, false};

struct Control {
  ControlId id;
  const wchar_t* name;
  ControlKind kind;
  const wchar_t* caption;
  // Relative to the client area's top-left corner, in twips.
  int left, top, width, height;
  int tab_index;  // -1: the timer has none
  Font font;
  Colour text;
  Colour back;
  const wchar_t* tooltip;  // nullptr: none
  bool border;             // text boxes: sunken single border
  bool tab_stop;
  bool picture;  // a button that shows the keyboard bitmap instead of a caption
};

inline constexpr int kClientWidthTwips = 4440;
inline constexpr int kClientHeightTwips = 2880;
inline constexpr int kTwipsPerInch = 1440;

// The controls in z-order, front to back; the timer is among them but has no window.
std::span<const Control> Controls();

// The controls with a window, in tab order: the order in which they are created, so that the
// dialog manager tabs through them in that order and txtOver ends up behind txtIp.
std::span<const Control* const> CreationOrder();

// nullptr for an id that is not in the table.
const Control* Find(ControlId id);

struct ColourPair {
  Colour text, back;
};

// The colours a control is drawn in. In a high-contrast theme the ones the table sets take the
// system's pairs instead: window text on window for text boxes, button text on button face for
// labels. Controls left to the system's defaults keep them; those are its pairs already.
ColourPair ColoursFor(const Control& control, bool high_contrast);

// px = twips * dpi / 1440, rounded half away from zero.
int TwipsToPixels(double twips, int dpi);
double PixelsToTwips(int pixels, int dpi);

// The character height in pixels for a point size (a negative LOGFONT height).
int FontHeightPixels(double points, int dpi);

struct PixelRect {
  int left, top, width, height;
  bool operator==(const PixelRect&) const = default;
};
PixelRect ToPixels(const Control& control, int dpi);

}  // namespace ipsetter::layout
