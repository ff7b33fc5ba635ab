// The floors the start-up benchmark compares ipsetter.exe with: the least a program does to show
// a centred, topmost frmIpsetter window whose address box (113) is filled. One source, four
// programs:
//   floor-bare    a constant address;
//   floor-wmi     the program's reading query, in process, after COM is set up (FLOOR_WMI);
//   floor-dlls    the same with the program's manifest, DLLs, DLL search path, COM security and
//                 common controls (FLOOR_WMI and FLOOR_DLLS);
//   floor-window  the same in the program's own window, built by its window layer with all its
//                 controls, but without the form's logic (FLOOR_WINDOW too).
// With WMI, a click on 104 runs the query once more and puts its time in microseconds into 200:
// the price of one reading in a warm process, which a Refresh pays twice. A click on 105 starts a
// 300 ms timer and puts the microseconds until its tick into 200: how late Wine's timers come.
#include <windows.h>

#include <string>

#if FLOOR_WMI
#include <objbase.h>
#include <wbemidl.h>
#include <wrl/client.h>
#endif
#if FLOOR_DLLS
#include <commctrl.h>
#include <shellapi.h>
#endif
#if FLOOR_WINDOW
#include "main_window.h"
#endif

#include "floor_ids.h"

namespace {

using bench::kIpBox;
using bench::kQueryButton;
using bench::kQueryTime;
using bench::kTimerButton;
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTickMs = 300;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// The program's client area at 96 DPI.
constexpr int kClientWidth = 296;
constexpr int kClientHeight = 192;

#if FLOOR_WMI
using Microsoft::WRL::ComPtr;

constexpr wchar_t kReadQuery[] =
    L"Select IPAddress, IPSubnet, DNSServerSearchOrder, DefaultIPGateway, DHCPEnabled from "
    L"Win32_NetworkAdapterConfiguration where IPEnabled=TRUE";

// The last IPv4 element of IPAddress over all adapters, as the program shows it.
std::wstring LastIpv4(IWbemClassObject* adapter, std::wstring last) {
  VARIANT v;
  VariantInit(&v);
  if (SUCCEEDED(adapter->Get(L"IPAddress", 0, &v, nullptr, nullptr)) && v.vt == (VT_ARRAY | VT_BSTR)) {
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(v.parray, 1, &lower);
    SafeArrayGetUBound(v.parray, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
      BSTR item = nullptr;
      if (SUCCEEDED(SafeArrayGetElement(v.parray, &i, &item)) && item != nullptr) {
        if (std::wstring(item).find(L':') == std::wstring::npos)
          last = item;
        SysFreeString(item);
      }
    }
  }
  VariantClear(&v);
  // The program reads the other four properties too.
  for (const wchar_t* name : {L"IPSubnet", L"DefaultIPGateway", L"DNSServerSearchOrder", L"DHCPEnabled"}) {
    adapter->Get(name, 0, &v, nullptr, nullptr);
    VariantClear(&v);
  }
  return last;
}

// Bind, query and read, as one reading of the program does.
std::wstring ReadAddress() {
  ComPtr<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator))))
    return L"no locator";
  ComPtr<IWbemServices> services;
  BSTR resource = SysAllocString(L"\\\\.\\root\\cimv2");
  const HRESULT connected =
      locator->ConnectServer(resource, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
  SysFreeString(resource);
  if (FAILED(connected))
    return L"no service";
  CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  BSTR language = SysAllocString(L"WQL");
  BSTR query = SysAllocString(kReadQuery);
  ComPtr<IEnumWbemClassObject> results;
  const HRESULT queried = services->ExecQuery(
      language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &results);
  SysFreeString(language);
  SysFreeString(query);
  if (FAILED(queried))
    return L"no query";
  std::wstring last;
  for (;;) {
    ComPtr<IWbemClassObject> adapter;
    ULONG returned = 0;
    // -1 is WBEM_INFINITE, which does not fit the LONG that Next takes.
    if (FAILED(results->Next(-1, 1, &adapter, &returned)) || returned == 0)
      break;
    last = LastIpv4(adapter.Get(), last);
  }
  return last.empty() ? L"none" : last;
}
#endif

#if !FLOOR_WINDOW
LARGE_INTEGER timer_started;

long long Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (to.QuadPart - from.QuadPart) * 1000000 / frequency.QuadPart;
}

// The address, and in 200 how long getting it took.
void Fill(HWND window) {
  LARGE_INTEGER start;
  LARGE_INTEGER end;
  QueryPerformanceCounter(&start);
#if FLOOR_WMI
  const std::wstring address = ReadAddress();
#else
  const std::wstring address = L"192.0.2.1";
#endif
  QueryPerformanceCounter(&end);
  SetDlgItemTextW(window, kIpBox, address.c_str());
  SetDlgItemTextW(window, kQueryTime, std::to_wstring(Microseconds(start, end)).c_str());
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND && LOWORD(wparam) == kQueryButton && HIWORD(wparam) == BN_CLICKED) {
    Fill(window);
    return 0;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == kTimerButton && HIWORD(wparam) == BN_CLICKED) {
    QueryPerformanceCounter(&timer_started);
    SetTimer(window, kTimerId, kTickMs, nullptr);
    return 0;
  }
  if (message == WM_TIMER && wparam == kTimerId) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    KillTimer(window, kTimerId);
    SetDlgItemTextW(window, kQueryTime, std::to_wstring(Microseconds(timer_started, now)).c_str());
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

#endif

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#if FLOOR_DLLS
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The program's other DLLs are loaded at start, as its imports are.
  volatile auto keep_shell32 = &ShellExecuteExW;
  volatile auto keep_gdi32 = &CreateFontIndirectW;
  (void)keep_shell32;
  (void)keep_gdi32;
#endif
#if FLOOR_WMI
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
#endif
#if FLOOR_DLLS
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                       nullptr, EOAC_NONE, nullptr);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
#endif

#if FLOOR_WINDOW
  ipsetter::win32::MainWindow main_window(instance);
  if (!main_window.Create())
    return 1;
  HWND window = main_window.hwnd();
  RECT frame{};
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  main_window.SetText(ipsetter::ControlId::txtIp, ReadAddress());
  SetWindowPos(window, HWND_TOPMOST, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
  main_window.Show();
#else
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = L"frmIpsetter";
  RegisterClassExW(&wc);
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  HWND window = CreateWindowExW(0, L"frmIpsetter", L"Ipsetter", kStyle, 0, 0, width, height, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr)
    return 1;
  const DWORD child = WS_CHILD | WS_VISIBLE;
  CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", child | ES_AUTOHSCROLL, 8, 8, 120, 22, window,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIpBox)), instance, nullptr);
  CreateWindowExW(0, L"BUTTON", L"Query", child | BS_PUSHBUTTON, 8, 40, 80, 24, window,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kQueryButton)), instance, nullptr);
  CreateWindowExW(0, L"BUTTON", L"Timer", child | BS_PUSHBUTTON, 96, 40, 80, 24, window,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTimerButton)), instance, nullptr);
  CreateWindowExW(0, L"STATIC", L"", child, 8, 72, 120, 20, window,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kQueryTime)), instance, nullptr);
  Fill(window);
  SetWindowPos(window, HWND_TOPMOST, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE);
  ShowWindow(window, SW_SHOW);
#endif

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
#if FLOOR_WMI
  CoUninitialize();
#endif
  return 0;
}
