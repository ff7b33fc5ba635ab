// The management service as the program uses it: bind, query, properties, the adapter and process
// methods, and the one error type of the service.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "value.h"

namespace ipsetter {

// HRESULT-style codes of the management service that the program itself raises.
inline constexpr std::uint32_t kWbemGenericFailure = 0x80041001;
inline constexpr std::uint32_t kWbemNotFound = 0x80041002;
inline constexpr std::uint32_t kWbemTypeMismatch = 0x80041005;
inline constexpr std::uint32_t kWbemInvalidNamespace = 0x8004100E;
inline constexpr std::uint32_t kWbemInvalidClass = 0x80041010;
inline constexpr std::uint32_t kWbemInvalidQuery = 0x80041017;
inline constexpr std::uint32_t kWbemInvalidMethod = 0x8004102E;

// A failure of the service itself: bind, query, property read, or a method that cannot be called.
class ManagementError : public std::runtime_error {
 public:
  ManagementError(std::uint32_t code, std::wstring description)
      : std::runtime_error("management service error"), code_(code), description_(std::move(description)) {}

  std::uint32_t code() const { return code_; }
  const std::wstring& description() const { return description_; }

 private:
  std::uint32_t code_;
  std::wstring description_;
};

// "Type mismatch (0x80041005)": a value the program cannot use.
[[noreturn]] void ThrowTypeMismatch();

// One object of a result set. Method results are the raw unsigned 32-bit ReturnValue.
class ManagementObject {
 public:
  virtual ~ManagementObject() = default;
  // Case-insensitive by name. A missing list reads as null.
  virtual Value Property(const std::wstring& name) = 0;

  virtual std::uint32_t EnableStatic(const std::vector<std::wstring>& addresses,
                                     const std::vector<std::wstring>& masks) = 0;
  virtual std::uint32_t SetGateways(const std::vector<std::wstring>& gateways,
                                    const std::vector<std::int16_t>& metrics) = 0;
  virtual std::uint32_t SetDNSServerSearchOrder(const std::vector<std::wstring>& servers) = 0;
  // Without argument: removes the configured server list.
  virtual std::uint32_t SetDNSServerSearchOrder() = 0;
  virtual std::uint32_t EnableDHCP() = 0;
  virtual std::uint32_t Terminate() = 0;
};

using ResultSet = std::vector<std::unique_ptr<ManagementObject>>;

// A bound connection, e.g. to root\cimv2.
class ManagementService {
 public:
  virtual ~ManagementService() = default;
  virtual ResultSet ExecQuery(const std::wstring& query) = 0;
};

// Entry point: binds a moniker such as "winmgmts:\\.\root\cimv2" or "winmgmts:".
class ManagementLocator {
 public:
  virtual ~ManagementLocator() = default;
  virtual std::unique_ptr<ManagementService> Bind(const std::wstring& moniker) = 0;
};

}  // namespace ipsetter
