#pragma once

// Owners for the OLE automation types that ComPtr does not cover: BSTR, VARIANT and SAFEARRAY.
// Copy is deleted, move is allowed; the moved-from owner holds nothing.

#include <oleauto.h>
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace ipsetter::win32 {

class ScopedBstr {
 public:
  ScopedBstr() = default;
  // A null BSTR when out of memory; callers that must not pass null check Get().
  explicit ScopedBstr(std::wstring_view text)
      : bstr_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~ScopedBstr() { SysFreeString(bstr_); }

  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ScopedBstr(ScopedBstr&& other) noexcept : bstr_(other.Release()) {}
  ScopedBstr& operator=(ScopedBstr&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }

  BSTR Get() const { return bstr_; }
  // For out-parameters: frees the current string first.
  BSTR* Receive() {
    Reset();
    return &bstr_;
  }
  BSTR Release() { return std::exchange(bstr_, nullptr); }
  void Reset(BSTR bstr = nullptr) {
    if (bstr != bstr_)
      SysFreeString(bstr_);
    bstr_ = bstr;
  }
  // A BSTR carries its length and may hold embedded nulls; a null BSTR is the empty string.
  std::wstring ToString() const { return std::wstring(bstr_, SysStringLen(bstr_)); }

 private:
  BSTR bstr_ = nullptr;
};

class ScopedSafeArray {
 public:
  ScopedSafeArray() = default;
  explicit ScopedSafeArray(SAFEARRAY* array) : array_(array) {}
  ~ScopedSafeArray() { Reset(); }

  ScopedSafeArray(const ScopedSafeArray&) = delete;
  ScopedSafeArray& operator=(const ScopedSafeArray&) = delete;
  ScopedSafeArray(ScopedSafeArray&& other) noexcept : array_(other.Release()) {}
  ScopedSafeArray& operator=(ScopedSafeArray&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }

  SAFEARRAY* Get() const { return array_; }
  SAFEARRAY* Release() { return std::exchange(array_, nullptr); }
  void Reset(SAFEARRAY* array = nullptr) {
    if (array_ && array_ != array)
      SafeArrayDestroy(array_);
    array_ = array;
  }

 private:
  SAFEARRAY* array_ = nullptr;
};

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&var_); }
  ~ScopedVariant() { VariantClear(&var_); }

  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  // A VARIANT is plain data: moving is a bitwise copy and re-initialising the source.
  ScopedVariant(ScopedVariant&& other) noexcept : var_(other.var_) { VariantInit(&other.var_); }
  ScopedVariant& operator=(ScopedVariant&& other) noexcept {
    if (this != &other) {
      VariantClear(&var_);
      var_ = other.var_;
      VariantInit(&other.var_);
    }
    return *this;
  }

  const VARIANT& Get() const { return var_; }
  // Many COM signatures take a non-const VARIANT* for input; they do not change it.
  VARIANT* AsInput() { return &var_; }
  // For out-parameters: clears the current value first.
  VARIANT* Receive() {
    VariantClear(&var_);
    return &var_;
  }
  VARTYPE Type() const { return var_.vt; }

  void SetInt(LONG value) {
    VariantClear(&var_);
    var_.vt = VT_I4;
    var_.lVal = value;
  }
  // VT_BSTR; the BSTR is null when out of memory, which COM reads as the empty string.
  void SetText(std::wstring_view text) {
    VariantClear(&var_);
    var_.vt = VT_BSTR;
    var_.bstrVal = ScopedBstr(text).Release();
  }

  // Takes ownership of `array`, whose elements are of type `element_type`.
  void SetArray(ScopedSafeArray array, VARTYPE element_type) {
    VariantClear(&var_);
    var_.vt = static_cast<VARTYPE>(VT_ARRAY | element_type);
    var_.parray = array.Release();
  }

 private:
  VARIANT var_;
};

}  // namespace ipsetter::win32
