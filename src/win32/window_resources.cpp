// Fonts, brushes and the keyboard picture, made on first use and freed with the window.
#include "window_resources.h"

#include "accessibility.h"
#include "resource_ids.h"

namespace ipsetter::win32 {
namespace {

int SystemColourIndex(layout::SystemColour colour) {
  switch (colour) {
    case layout::SystemColour::ButtonShadow:
      return COLOR_BTNSHADOW;
    case layout::SystemColour::ButtonText:
      return COLOR_BTNTEXT;
    case layout::SystemColour::Window:
      return COLOR_WINDOW;
    case layout::SystemColour::WindowText:
      return COLOR_WINDOWTEXT;
    case layout::SystemColour::ButtonFace:
      break;
  }
  return COLOR_BTNFACE;
}

void Delete(HBITMAP& bitmap) {
  if (bitmap != nullptr)
    DeleteObject(bitmap);
  bitmap = nullptr;
}

}  // namespace

COLORREF ToColorRef(const layout::Colour& colour) {
  if (colour.source == layout::Colour::Source::Rgb)
    return RGB(colour.r, colour.g, colour.b);
  return GetSysColor(SystemColourIndex(colour.system));
}

bool IsDefault(const layout::Colour& colour) {
  return colour.source == layout::Colour::Source::Default;
}

FontSet::~FontSet() {
  for (const CachedFont& f : fonts_)
    DeleteObject(f.handle);
}

HFONT FontSet::For(const layout::Font& font, int dpi) {
  for (const CachedFont& f : fonts_) {
    if (f.font.face == font.face && f.font.points == font.points && f.font.bold == font.bold)
      return f.handle;
  }
  LOGFONTW lf{};
  lf.lfHeight = -layout::FontHeightPixels(font.points, dpi);
  lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
  lstrcpynW(lf.lfFaceName, font.face, LF_FACESIZE);
  HFONT handle = CreateFontIndirectW(&lf);
  if (handle != nullptr)
    fonts_.push_back({font, handle});
  return handle;
}

WindowResources::~WindowResources() {
  for (auto& [colour, brush] : brushes_)
    DeleteObject(brush);
  Delete(replaced_keyboard_bitmap_);
  Delete(scaled_keyboard_bitmap_);
  Delete(keyboard_bitmap_);
}

HBRUSH WindowResources::BrushFor(const layout::Colour& colour) {
  if (colour.source == layout::Colour::Source::System)
    return GetSysColorBrush(SystemColourIndex(colour.system));
  const COLORREF rgb = ToColorRef(colour);
  for (const auto& [known, brush] : brushes_) {
    if (known == rgb)
      return brush;
  }
  HBRUSH brush = CreateSolidBrush(rgb);
  if (brush != nullptr)
    brushes_.emplace_back(rgb, brush);
  return brush;
}

void WindowResources::LoadKeyboardPicture(HINSTANCE instance) {
  keyboard_bitmap_ = static_cast<HBITMAP>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDB_KEYBOARD), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

HBITMAP WindowResources::KeyboardPictureFor(int dpi) {
  if (keyboard_bitmap_ == nullptr)
    return nullptr;
  Delete(replaced_keyboard_bitmap_);
  replaced_keyboard_bitmap_ = scaled_keyboard_bitmap_;
  scaled_keyboard_bitmap_ = ScaledPicture(keyboard_bitmap_, dpi);
  return scaled_keyboard_bitmap_ != nullptr ? scaled_keyboard_bitmap_ : keyboard_bitmap_;
}

void WindowResources::ReleaseReplacedPicture() {
  Delete(replaced_keyboard_bitmap_);
}

}  // namespace ipsetter::win32
