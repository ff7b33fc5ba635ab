// The window's child controls, made from the layout table, with tooltips and hidden naming labels.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "layout.h"
#include "window_peer.h"
#include "window_resources.h"

namespace ipsetter::win32 {

std::wstring WindowText(HWND hwnd);

class ChildControls {
 public:
  // Each at its place for this DPI, with its font; false when the system refuses one.
  bool Create(HWND parent, HINSTANCE instance, int dpi, WindowResources& resources);
  // Wine will not make a window topmost that owns a popup: call once the window is topmost.
  void CreateTooltips(HWND parent, HINSTANCE instance);
  // Made, like the tooltips, once the queue first runs dry: they would cost the start about 10 ms
  // under Wine.
  void CreateHiddenLabels(HWND parent, HINSTANCE instance);
  // Every control placed and given its font for this DPI.
  void Place(int dpi, WindowResources& resources);
  void ShowKeyboardPicture(int dpi, WindowResources& resources);
  // The window is gone, and its children with it.
  void Forget();

  HWND Child(ControlId id) const;
  // The label that names the focus sink; it follows the title.
  HWND SinkLabel() const { return sink_label_; }

 private:
  // Kept at creation: GetDlgItem asks the window server every time.
  static constexpr int kFirstId = static_cast<int>(ControlId::Text1);
  std::array<HWND, static_cast<int>(ControlId::lblIp) - kFirstId + 1> children_{};
  HWND tooltip_ = nullptr;
  HWND sink_label_ = nullptr;
  bool hidden_labels_made_ = false;
};

}  // namespace ipsetter::win32
