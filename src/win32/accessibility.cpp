// Names for screen readers, the high-contrast setting, the picture per DPI, UI Automation's announcements.
#include "accessibility.h"

#include <uiautomationcore.h>
#include <wrl/client.h>

#include "com_types.h"
#include "layout.h"
#include "system_folders.h"

namespace ipsetter::win32 {
namespace {

// uiautomationcore.h of MinGW lacks them; the values are Microsoft's.
constexpr int kNotificationKindOther = 4;
// Every step of a command says something new (the failure, the fallback, the result): none may
// be dropped for the next, and none is urgent enough to cut into what is being read.
constexpr int kNotificationProcessingAll = 2;
constexpr wchar_t kActivityId[] = L"Ipsetter.Outcome";

constexpr int kDefaultDpi = 96;

}  // namespace

std::optional<std::wstring> HiddenLabelText(ControlId id) {
  const auto caption = [](ControlId label) { return std::wstring(layout::Find(label)->caption); };
  switch (id) {
    case ControlId::txtIp:
      return caption(ControlId::lblIp);
    case ControlId::txtSubnet:
      return caption(ControlId::lblSubnet);
    case ControlId::txtGateway:
      return caption(ControlId::lblGateway);
    case ControlId::txtDns1:
      return caption(ControlId::lblDns1);
    case ControlId::txtDns2:
      return caption(ControlId::lblDns2);
    case ControlId::txtStatus:
      return L"Status";
    case ControlId::txtOver:
      return L"";
    default:
      return std::nullopt;
  }
}

const wchar_t* WindowTextOf(ControlId id) {
  const layout::Control* c = layout::Find(id);
  if (c == nullptr)
    return L"";
  return c->picture && c->tooltip != nullptr ? c->tooltip : c->caption;
}

bool SystemHighContrast() {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof(contrast);
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) != FALSE &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

HBITMAP ScaledPicture(HBITMAP picture, int dpi) {
  BITMAP bm{};
  if (picture == nullptr || dpi == kDefaultDpi || GetObjectW(picture, sizeof(bm), &bm) == 0)
    return nullptr;
  const int width = MulDiv(bm.bmWidth, dpi, kDefaultDpi);
  const int height = MulDiv(bm.bmHeight, dpi, kDefaultDpi);
  HDC screen = GetDC(nullptr);
  HDC source = CreateCompatibleDC(screen);
  HDC target = CreateCompatibleDC(screen);
  HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
  bool drawn = false;
  if (source != nullptr && target != nullptr && scaled != nullptr) {
    HGDIOBJ old_source = SelectObject(source, picture);
    HGDIOBJ old_target = SelectObject(target, scaled);
    SetStretchBltMode(target, dpi % kDefaultDpi == 0 ? COLORONCOLOR : HALFTONE);
    SetBrushOrgEx(target, 0, 0, nullptr);  // HALFTONE wants it reset
    drawn = StretchBlt(target, 0, 0, width, height, source, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY) != FALSE;
    SelectObject(target, old_target);
    SelectObject(source, old_source);
  }
  if (!drawn && scaled != nullptr) {
    DeleteObject(scaled);
    scaled = nullptr;
  }
  if (target != nullptr)
    DeleteDC(target);
  if (source != nullptr)
    DeleteDC(source);
  ReleaseDC(nullptr, screen);
  return scaled;
}

Announcer::~Announcer() {
  if (module_ != nullptr)
    FreeLibrary(module_);
}

bool Announcer::Available() {
  if (!tried_) {
    tried_ = true;
    // The program runs elevated: the library comes from System32 only.
    module_ = LoadSystemLibrary(L"uiautomationcore.dll");
    if (module_ != nullptr) {
      host_provider_ = LookUp<HostProviderFromHwnd>(module_, "UiaHostProviderFromHwnd");
      raise_ = LookUp<RaiseNotification>(module_, "UiaRaiseNotificationEvent");
    }
  }
  return host_provider_ != nullptr && raise_ != nullptr;
}

// A standard window has no provider of its own; the host provider of its HWND stands for it.
void Announcer::Say(HWND hwnd, const std::wstring& text) {
  if (hwnd == nullptr || text.empty() || !Available())
    return;
  Microsoft::WRL::ComPtr<IRawElementProviderSimple> provider;
  if (FAILED(host_provider_(hwnd, provider.GetAddressOf())) || provider == nullptr)
    return;
  ScopedBstr display(text);
  ScopedBstr activity(kActivityId);
  if (display.Get() != nullptr && activity.Get() != nullptr)
    raise_(provider.Get(), kNotificationKindOther, kNotificationProcessingAll, display.Get(), activity.Get());
}

}  // namespace ipsetter::win32
