// Making and placing the child controls, their tooltips and the labels that name them.
#include "child_controls.h"

#include <commctrl.h>

#include <string>

#include "accessibility.h"

namespace ipsetter::win32 {
namespace {

using layout::ControlKind;

struct ChildClass {
  const wchar_t* name;
  DWORD style;
  DWORD ex_style;
};

ChildClass ClassFor(const layout::Control& c) {
  // Each control is a group of its own: arrow keys do not wander between buttons.
  const DWORD tab = c.tab_stop ? WS_TABSTOP | WS_GROUP : 0;
  switch (c.kind) {
    case ControlKind::TextBox:
      return {WC_EDITW, tab | ES_LEFT | ES_AUTOHSCROLL, c.border ? static_cast<DWORD>(WS_EX_CLIENTEDGE) : 0};
    case ControlKind::Label:
      return {WC_STATICW, SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::CommandButton:
      return {WC_BUTTONW, tab | BS_PUSHBUTTON | (c.picture ? BS_BITMAP : 0), 0};
    case ControlKind::CheckBox:
      // Not automatic: the form owns the value and shows it through ShowCheck.
      return {WC_BUTTONW, tab | BS_CHECKBOX, 0};
    case ControlKind::Timer:
      break;
  }
  return {nullptr, 0, 0};
}

}  // namespace

std::wstring WindowText(HWND hwnd) {
  if (hwnd == nullptr)
    return {};
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

// Each control is made at its place with its font: moving 19 windows afterwards costs a
// noticeable part of the start.
bool ChildControls::Create(HWND parent, HINSTANCE instance, int dpi, WindowResources& resources) {
  // The creation order holds the windowed controls only: each has a class.
  for (const layout::Control* c : layout::CreationOrder()) {
    const ChildClass cls = ClassFor(*c);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | cls.style;
    const layout::PixelRect r = layout::ToPixels(*c, dpi);
    HWND child =
        CreateWindowExW(cls.ex_style, cls.name, WindowTextOf(c->id), style, r.left, r.top, r.width, r.height,
                        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c->id)), instance, nullptr);
    if (child == nullptr)
      return false;
    children_[static_cast<std::size_t>(static_cast<int>(c->id) - kFirstId)] = child;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(resources.FontFor(c->font, dpi)), FALSE);
    if (c->picture)
      ShowKeyboardPicture(dpi, resources);
    // No length limit: the control's default stops typing and cuts pastes at 30,000 characters.
    if (c->kind == ControlKind::TextBox)
      SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
  }
  return true;
}

// Each goes just before its box in the child order, where screen readers look for a name. Never
// shown, so never painted: they cost their creation only.
void ChildControls::CreateHiddenLabels(HWND parent, HINSTANCE instance) {
  if (parent == nullptr || hidden_labels_made_)
    return;
  hidden_labels_made_ = true;
  int id = kFirstHiddenLabelId;
  for (const layout::Control* c : layout::CreationOrder()) {
    const auto text = HiddenLabelText(c->id);
    HWND box = Child(c->id);
    if (!text || box == nullptr)
      continue;
    // The focus sink's is named after the title, whatever it is by now.
    const std::wstring shown = c->id == ControlId::txtOver ? WindowText(parent) : *text;
    HWND label =
        CreateWindowExW(0, WC_STATICW, shown.c_str(), WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), instance, nullptr);
    if (label == nullptr)
      continue;
    HWND before = GetWindow(box, GW_HWNDPREV);
    SetWindowPos(label, before != nullptr ? before : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
    if (c->id == ControlId::txtOver)
      sink_label_ = label;
  }
}

void ChildControls::ShowKeyboardPicture(int dpi, WindowResources& resources) {
  HWND button = Child(ControlId::cmdKeyboard);
  if (button == nullptr)
    return;
  HBITMAP shown = resources.KeyboardPictureFor(dpi);
  if (shown == nullptr)
    return;
  SendMessageW(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(shown));
  resources.ReleaseReplacedPicture();
}

void ChildControls::CreateTooltips(HWND parent, HINSTANCE instance) {
  if (parent == nullptr || tooltip_ != nullptr)
    return;
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr,
                             instance, nullptr);
  if (tooltip_ == nullptr)
    return;
  for (const layout::Control& c : layout::Controls()) {
    if (c.tooltip == nullptr)
      continue;
    TTTOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = parent;
    info.uId = reinterpret_cast<UINT_PTR>(Child(c.id));
    info.lpszText = const_cast<wchar_t*>(c.tooltip);
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  }
}

void ChildControls::Place(int dpi, WindowResources& resources) {
  for (const layout::Control* c : layout::CreationOrder()) {
    HWND child = Child(c->id);
    if (child == nullptr)
      continue;
    const layout::PixelRect r = layout::ToPixels(*c, dpi);
    SetWindowPos(child, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(resources.FontFor(c->font, dpi)), TRUE);
  }
  ShowKeyboardPicture(dpi, resources);
}

void ChildControls::Forget() {
  tooltip_ = nullptr;
  sink_label_ = nullptr;
  children_.fill(nullptr);
}

HWND ChildControls::Child(ControlId id) const {
  const int index = static_cast<int>(id) - kFirstId;
  if (index < 0 || index >= static_cast<int>(children_.size()))
    return nullptr;
  return children_[static_cast<std::size_t>(index)];
}

}  // namespace ipsetter::win32
