// What the window draws with: fonts per DPI, brushes, the keyboard picture.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "layout.h"

// Made on first use and freed with the window.
namespace ipsetter::win32 {

COLORREF ToColorRef(const layout::Colour& colour);
bool IsDefault(const layout::Colour& colour);

// Fonts in use; freed when the set is, so that a new set can be given to the controls first.
class FontSet {
 public:
  FontSet() = default;
  ~FontSet();
  FontSet(FontSet&& other) noexcept : fonts_(std::move(other.fonts_)) { other.fonts_.clear(); }
  FontSet& operator=(FontSet&&) = delete;
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  // The font for this table entry at this DPI, made once per set.
  HFONT For(const layout::Font& font, int dpi);

 private:
  struct CachedFont {
    layout::Font font;
    HFONT handle;
  };
  std::vector<CachedFont> fonts_;
};

class WindowResources {
 public:
  WindowResources() = default;
  ~WindowResources();
  WindowResources(const WindowResources&) = delete;
  WindowResources& operator=(const WindowResources&) = delete;

  HFONT FontFor(const layout::Font& font, int dpi) { return fonts_.For(font, dpi); }
  // The fonts made so far, for the caller to free once the controls have new ones.
  FontSet TakeFonts() { return std::move(fonts_); }
  HBRUSH BrushFor(const layout::Colour& colour);

  void LoadKeyboardPicture(HINSTANCE instance);
  // The picture at this DPI, or nullptr when there is none. The one it replaces lives on until
  // ReleaseReplacedPicture, so that the button never shows a freed bitmap.
  HBITMAP KeyboardPictureFor(int dpi);
  void ReleaseReplacedPicture();

 private:
  FontSet fonts_;
  std::vector<std::pair<COLORREF, HBRUSH>> brushes_;
  HBITMAP keyboard_bitmap_ = nullptr;
  HBITMAP scaled_keyboard_bitmap_ = nullptr;
  HBITMAP replaced_keyboard_bitmap_ = nullptr;
};

}  // namespace ipsetter::win32
