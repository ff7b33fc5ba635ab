// Stand-in for System32's uiautomationcore.dll, for ipsetter.exe alone (a per-program DLL override):
// Wine's lacks UiaRaiseNotificationEvent, so without it no announcement is ever made. Each one is
// appended to C:\netrig-uia.log as "kind processing activity window-class|text".
#include <windows.h>

#include <ole2.h>
#include <uiautomationcore.h>

#include <cstdio>
#include <string>

namespace {

// Enough of a provider for the program to hand back: it only passes it on and releases it.
class HostProvider : public IRawElementProviderSimple {
 public:
  explicit HostProvider(HWND hwnd) : hwnd_(hwnd) {}
  HWND hwnd() const { return hwnd_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    if (riid != __uuidof(IUnknown) && riid != __uuidof(IRawElementProviderSimple))
      return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IRawElementProviderSimple*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0)
      delete this;
    return static_cast<ULONG>(n);
  }
  STDMETHODIMP get_ProviderOptions(ProviderOptions* options) override {
    *options = ProviderOptions_ServerSideProvider;
    return S_OK;
  }
  STDMETHODIMP GetPatternProvider(PATTERNID, IUnknown** out) override {
    *out = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetPropertyValue(PROPERTYID, VARIANT* out) override {
    VariantInit(out);
    return S_OK;
  }
  STDMETHODIMP get_HostRawElementProvider(IRawElementProviderSimple** out) override {
    *out = nullptr;
    return S_OK;
  }

 private:
  virtual ~HostProvider() = default;
  LONG refs_ = 1;
  HWND hwnd_;
};

void Append(const std::string& line) {
  HANDLE log = CreateFileW(L"C:\\netrig-uia.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
}

std::string Utf8(const wchar_t* text) {
  if (!text || !*text)
    return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.pop_back();
  return out;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    UiaHostProviderFromHwnd(HWND hwnd, IRawElementProviderSimple** provider) {
  if (!provider)
    return E_INVALIDARG;
  *provider = IsWindow(hwnd) ? new HostProvider(hwnd) : nullptr;
  return *provider ? S_OK : E_INVALIDARG;
}

extern "C" __declspec(dllexport) HRESULT WINAPI UiaRaiseNotificationEvent(IRawElementProviderSimple* provider,
                                                                          int kind,
                                                                          int processing,
                                                                          BSTR display,
                                                                          BSTR activity) {
  wchar_t window_class[64] = L"?";
  if (provider)
    GetClassNameW(static_cast<HostProvider*>(provider)->hwnd(), window_class, 64);
  char head[64];
  std::snprintf(head, sizeof head, "%d %d ", kind, processing);
  Append(head + Utf8(activity) + " " + Utf8(window_class) + "|" + Utf8(display) + "\n");
  return S_OK;
}
