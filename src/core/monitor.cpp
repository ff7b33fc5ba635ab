// The Apply and Refresh commands and the progress monitor that polls after them.
#include "frm_ipsetter.h"

namespace ipsetter {

void frmIpsetter::cmdApply_Click() {
  txtOver.SetFocus();
  lblStatus.SetCaption(L"");
  txtStatus.SetText(L"");
  Disable_Controls();
  intTimerPhase = 1;
  intTickCount = 0;
  Timer1.SetEnabled(true);
  Timer1.SetInterval(kTickIntervalMs);
  SetCaption(L"Ipsetter - Processing ..");
  if (chkStatic.Value() == 1) {
    intAddressMode = 2;
    Set_Static();
  } else {
    intAddressMode = 1;
    Set_DHCP();
  }
}

void frmIpsetter::cmdRefresh_Click() {
  txtOver.SetFocus();
  SetCaption(L"Ipsetter - Refreshing ..");
  Disable_Controls();
  intTimerPhase = 2;
  intTickCount = 0;
  Timer1.SetEnabled(true);
  Timer1.SetInterval(kTickIntervalMs);
  Get_Info();
}

void frmIpsetter::Timer1_Timer() {
  intTickCount = static_cast<std::int16_t>(intTickCount + 1);

  if (intTickCount == kTimeoutTicks) {
    SetCaption(L"Ipsetter - Timed Out!");
    Timer1.SetEnabled(false);
    Timer1.SetInterval(0);
    intTickCount = 0;
    Get_Info();
    Enable_Controls();
    return;
  }

  if (intTimerPhase == 1) {
    // Settle: the next tick is due a full interval from here.
    Timer1.SetEnabled(false);
    Timer1.SetInterval(0);
    intTimerPhase = 2;
    Timer1.SetEnabled(true);
    Timer1.SetInterval(kTickIntervalMs);
    Get_Info();
    return;
  }

  Get_Info();
  const std::wstring ip = txtIp.Text();
  const std::wstring subnet = txtSubnet.Text();
  const std::wstring gateway = txtGateway.Text();
  const bool incomplete = gateway.empty() || subnet == L"0.0.0.0" || ip == L"0.0.0.0";

  if (!incomplete) {
    Timer1.SetEnabled(false);
    Timer1.SetInterval(0);
    intTickCount = 0;
    Enable_Controls();
    const std::wstring title = Caption();
    if (title == L"Ipsetter - Processing .." || title == L"Ipsetter - Acquiring ..")
      SetCaption(L"Ipsetter - Updated");
    else
      SetCaption(L"Ipsetter");
    if (!blnFailed)
      txtStatus.SetText(L"");
    return;
  }

  SetCaption(L"Ipsetter - Acquiring ..");
  if (intAddressMode == 2) {
    if (txtGateway.Text().empty())
      txtStatus.SetText(L"Invalid Gateway Address - Trying DHCP ..");
    else
      txtStatus.SetText(L"Trying DHCP ..");
    intAddressMode = 1;
    Set_DHCP();
  }
}

}  // namespace ipsetter
