// The window's life: creation, locking rules, load, unload and the handler boundary.
#include <new>

#include "frm_ipsetter.h"

namespace ipsetter {

namespace {
constexpr std::intptr_t kHwndTopmost = -1;
constexpr std::int32_t kSwpNoSize = 1;
constexpr std::int32_t kSwpNoMove = 2;
}  // namespace

frmIpsetter::frmIpsetter(WindowPeer& window, Platform& platform, ManagementLocator& wmi)
    : Text1(window, ControlId::Text1),
      txtStatus(window, ControlId::txtStatus),
      cmdKeyboard(window, ControlId::cmdKeyboard),
      cmdRefresh(window, ControlId::cmdRefresh),
      chkStatic(window, ControlId::chkStatic),
      Timer1(window, ControlId::Timer1),
      cmdExit(window, ControlId::cmdExit),
      cmdApply(window, ControlId::cmdApply),
      txtDns2(window, ControlId::txtDns2),
      txtDns1(window, ControlId::txtDns1),
      txtGateway(window, ControlId::txtGateway),
      txtSubnet(window, ControlId::txtSubnet),
      txtIp(window, ControlId::txtIp),
      txtOver(window, ControlId::txtOver),
      lblStatus(window, ControlId::lblStatus),
      lblDns2(window, ControlId::lblDns2),
      lblDns1(window, ControlId::lblDns1),
      lblGateway(window, ControlId::lblGateway),
      lblSubnet(window, ControlId::lblSubnet),
      lblIp(window, ControlId::lblIp),
      window_(window),
      platform_(platform),
      wmi_(wmi) {
  chkStatic.on_click = [this] { chkStatic_Click(); };
  // The title at load is no outcome: not announced.
  window_.SetTitle(L"Ipsetter");
}

void frmIpsetter::SetCaption(const std::wstring& title) {
  const bool news = !title.empty() && title != window_.Title();
  window_.SetTitle(title);
  if (news)
    window_.Announce(title);
}

// Events ------------------------------------------------------------------------------------

void frmIpsetter::OnLoad() {
  Dispatch([this] { Form_Load(); }, false);
}

void frmIpsetter::OnClose() {
  Dispatch([this] { Unload(); }, false);
}

// A click that waited for a running handler may find its control switched off by then.
void frmIpsetter::OnApplyClick() {
  Dispatch(
      [this] {
        if (cmdApply.Enabled())
          cmdApply_Click();
      },
      false);
}

void frmIpsetter::OnRefreshClick() {
  Dispatch(
      [this] {
        if (cmdRefresh.Enabled())
          cmdRefresh_Click();
      },
      false);
}

void frmIpsetter::OnExitClick() {
  Dispatch(
      [this] {
        if (cmdExit.Enabled())
          cmdExit_Click();
      },
      false);
}

void frmIpsetter::OnKeyboardClick() {
  Dispatch(
      [this] {
        if (cmdKeyboard.Enabled())
          cmdKeyboard_Click();
      },
      false);
}

void frmIpsetter::OnStaticClick() {
  Dispatch(
      [this] {
        if (chkStatic.Enabled())
          chkStatic.SetValue(chkStatic.Value() == 1 ? 0 : 1);
      },
      false);
}

void frmIpsetter::OnTimerTick() {
  Dispatch(
      [this] {
        if (Timer1.Ticking())
          Timer1_Timer();
      },
      true);
}

// A tick that arrives while a handler waits on the service is dropped; anything else runs once
// the handler has ended. An error ends at this boundary and leaves the window usable.
void frmIpsetter::Dispatch(std::function<void()> handler, bool is_tick) {
  if (unloaded_)
    return;
  if (in_handler_) {
    if (!is_tick)
      pending_.push_back(std::move(handler));
    return;
  }
  in_handler_ = true;
  pending_.push_back(std::move(handler));
  while (!pending_.empty() && !unloaded_) {
    auto next = std::move(pending_.front());
    pending_.pop_front();
    try {
      next();
    } catch (const ManagementError& error) {
      ReportError(ErrorText(error));
    } catch (const std::bad_alloc&) {
      ReportError(ErrorText(ManagementError(0x8007000E, L"Out of memory")));
    } catch (const std::exception&) {
      ReportError(ErrorText(ManagementError(0x8000FFFF, L"Unexpected failure")));
    }
  }
  pending_.clear();
  in_handler_ = false;
}

void frmIpsetter::ReportError(const std::wstring& text) {
  try {
    Timer1.SetEnabled(false);
    Timer1.SetInterval(0);
    intTickCount = 0;
    txtStatus.SetText(text);
    SetCaption(L"Ipsetter - Error");
    Enable_Controls();
  } catch (...) {
    // Nothing more can be told; the window stays as far as it got.
  }
}

// Locking ------------------------------------------------------------------------------------

void frmIpsetter::Disable_Controls() {
  txtIp.SetEnabled(false);
  txtSubnet.SetEnabled(false);
  txtGateway.SetEnabled(false);
  txtDns1.SetEnabled(false);
  txtDns2.SetEnabled(false);
  chkStatic.SetEnabled(false);
  cmdApply.SetEnabled(false);
  cmdRefresh.SetEnabled(false);
  cmdExit.SetEnabled(false);
  cmdKeyboard.SetEnabled(false);
}

void frmIpsetter::Enable_Controls() {
  if (chkStatic.Value() == 1) {
    txtIp.SetEnabled(true);
    txtSubnet.SetEnabled(true);
    txtGateway.SetEnabled(true);
    txtDns1.SetEnabled(true);
    txtDns2.SetEnabled(true);
    cmdApply.SetEnabled(true);
  }
  chkStatic.SetEnabled(true);
  cmdRefresh.SetEnabled(true);
  cmdExit.SetEnabled(true);
  cmdKeyboard.SetEnabled(true);
  window_.Show();
}

void frmIpsetter::chkStatic_Click() {
  if (chkStatic.Value() == 1) {
    Enable_Controls();
  } else {
    Disable_Controls();
    cmdExit.SetEnabled(true);
    // Unticked, Apply switches to DHCP: worth offering only when the adapters are static.
    if (intAddressMode == 2)
      cmdApply.SetEnabled(true);
  }
  chkStatic.SetEnabled(true);
  cmdRefresh.SetEnabled(true);
  cmdKeyboard.SetEnabled(true);
}

// Load and unload ------------------------------------------------------------------------------

void frmIpsetter::Form_Load() {
  window_.Hide();

  const double width = window_.OuterWidthTwips();
  const double screen_width = platform_.ScreenWidthTwips();
  window_.SetLeftTwips(static_cast<float>(screen_width / 2.0 - width / 2.0));
  const double height = window_.OuterHeightTwips();
  const double screen_height = platform_.ScreenHeightTwips();
  window_.SetTopTwips(static_cast<float>(screen_height / 2.0 - height / 2.0));

  lngTopmostFlags = kSwpNoMove | kSwpNoSize;
  platform_.SetWindowPos(window_.Handle(), kHwndTopmost, 0, 0, 0, 0, lngTopmostFlags);

  Disable_Controls();
  intTimerPhase = 2;
  intTickCount = 0;
  Get_Info();
  Enable_Controls();
}

void frmIpsetter::Form_Unload(int& /*Cancel*/) {
  Run_Keyboard(false);
  Timer1.SetInterval(0);
  Timer1.SetEnabled(false);
}

void frmIpsetter::cmdExit_Click() {
  Unload();
}

void frmIpsetter::Unload() {
  int cancel = 0;
  Form_Unload(cancel);
  unloaded_ = true;
  pending_.clear();
  window_.Destroy();
}

}  // namespace ipsetter
