// The window's logic: its controls, form-level variables and procedures, against abstract controls.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "controls.h"
#include "management.h"
#include "window_peer.h"

namespace ipsetter {

inline constexpr wchar_t kCimv2Moniker[] = L"winmgmts:\\\\.\\root\\cimv2";
inline constexpr wchar_t kDefaultMoniker[] = L"winmgmts:";
inline constexpr unsigned kTickIntervalMs = 300;
inline constexpr std::int16_t kTimeoutTicks = 350;

// The values Get_Info gathers over all IP-enabled adapters.
struct AdapterSettings {
  std::wstring strIp;
  std::wstring strSubnet;
  std::wstring strGateway;
  std::wstring strDns1;
  std::wstring strDns2;
  bool blnDhcp = false;
};

// The text shown for an error that reached a handler boundary.
std::wstring ErrorText(const ManagementError& error);

// The one window: its controls, form-level variables and procedures. Events from the window
// system enter through the On* members; each is a handler boundary (errors end there) and
// handlers never nest: a tick during a handler is dropped, any other event waits for its end.
class frmIpsetter {
 public:
  frmIpsetter(WindowPeer& window, Platform& platform, ManagementLocator& wmi);
  frmIpsetter(const frmIpsetter&) = delete;
  frmIpsetter& operator=(const frmIpsetter&) = delete;

  void OnLoad();
  void OnClose();  // the Close button and a close through the frame alike
  void OnApplyClick();
  void OnRefreshClick();
  void OnExitClick();
  void OnKeyboardClick();
  void OnStaticClick();  // the user toggled the box
  void OnTimerTick();
  bool Unloaded() const { return unloaded_; }
  bool InHandler() const { return in_handler_; }

  // Controls, front to back.
  TextBox Text1;
  StatusLine txtStatus;
  CommandButton cmdKeyboard;
  CommandButton cmdRefresh;
  CheckBox chkStatic;
  Timer Timer1;
  CommandButton cmdExit;
  CommandButton cmdApply;
  TextBox txtDns2;
  TextBox txtDns1;
  TextBox txtGateway;
  TextBox txtSubnet;
  TextBox txtIp;
  TextBox txtOver;
  Label lblStatus;
  Label lblDns2;
  Label lblDns1;
  Label lblGateway;
  Label lblSubnet;
  Label lblIp;

  // Form-level variables.
  std::int16_t intAddressMode = 0;
  std::int16_t intTimerPhase = 0;
  std::int16_t intTickCount = 0;
  std::int32_t lngTopmostFlags = 0;
  bool blnFailed = false;

  // Form procedures and handlers.
  void Form_Load();
  void Form_Unload(int& Cancel);
  void cmdExit_Click();
  void cmdApply_Click();
  void cmdRefresh_Click();
  void cmdKeyboard_Click();
  void chkStatic_Click();
  void Timer1_Timer();
  void Get_Info();
  void Set_Static();
  void Set_DHCP();
  static std::wstring Get_Error_Text(std::int16_t code);
  void Disable_Controls();
  void Enable_Controls();
  void Run_Keyboard(const bool& launch);

  std::wstring Caption() const { return window_.Title(); }
  // A new title is announced: it carries the outcome of every command.
  void SetCaption(const std::wstring& title);

 private:
  void Dispatch(std::function<void()> handler, bool is_tick);
  void ReportError(const std::wstring& text);
  void Unload();

  WindowPeer& window_;
  Platform& platform_;
  ManagementLocator& wmi_;
  bool in_handler_ = false;
  bool unloaded_ = false;
  std::deque<std::function<void()>> pending_;
};

}  // namespace ipsetter
