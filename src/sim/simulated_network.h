// The simulated network: an in-memory management service that behaves like Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "management.h"

namespace ipsetter::sim {

struct NoCaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};
using PropertyMap = std::map<std::wstring, Value, NoCaseLess>;

// A DHCP lease that arrives once the adapter has been read `after_reads` times after EnableDHCP.
struct Lease {
  int after_reads = 0;
  PropertyMap properties;  // IPAddress, IPSubnet, DefaultIPGateway, DNSServerSearchOrder
};

struct Adapter {
  // IPEnabled, DHCPEnabled, IPAddress, IPSubnet, DefaultIPGateway, DNSServerSearchOrder, ...
  PropertyMap properties;
  // Scripted method results by method name; a method not named returns 0. The key
  // "SetDNSServerSearchOrder()" scripts the call without servers apart from the one with.
  std::map<std::wstring, std::uint32_t> results;
  std::optional<Lease> lease;

  // Reads since EnableDHCP while waiting for the lease; set by the network.
  std::optional<int> reads_since_dhcp;
};

// A running process. Windows numbers processes across all sessions, and the keyboard query lists
// every session's: a process of another session (Remote Desktop, fast user switching) is one the
// program must leave alone.
struct Process {
  Process(std::wstring image, std::uint32_t in_session = 1) : name(std::move(image)), session(in_session) {}
  Process(const wchar_t* image, std::uint32_t in_session = 1) : Process(std::wstring(image), in_session) {}
  std::wstring name;
  std::uint32_t session;
  std::uint32_t id = 0;  // given by the network when it first sees the process
  // What the relative path gives as the key, where a test wants it other than the id.
  std::optional<std::wstring> path_key;
  // Ids are the network's business; tests compare what runs where.
  bool operator==(const Process& other) const { return name == other.name && session == other.session; }
};

// An exception of the given code thrown at the nth (1-based) call of an operation:
// bind, ExecQuery, property, EnableStatic, SetGateways, SetDNSServerSearchOrder, EnableDHCP,
// Terminate.
struct Fault {
  std::wstring operation;
  int nth = 1;
  std::uint32_t code = kWbemGenericFailure;
  std::wstring description;
};

// One recorded call. `target` is the moniker, the query text or the property name;
// `adapter` the index of the adapter (or process) a read or method applies to, else -1.
struct Call {
  std::wstring operation;
  std::wstring target;
  int adapter = -1;
  std::vector<Value> args;
};

// An in-memory management service that behaves like Windows' for the classes the program uses,
// as strict as Microsoft documents the methods: EnableDHCP keeps a static default gateway,
// SetGateways answers 64 in DHCP mode, removing the static DNS servers on DHCP brings the lease's
// back, and the IPv6 entries of every list stay after the IPv4 ones.
class SimulatedNetwork : public ManagementLocator {
 public:
  std::vector<Adapter> adapters;
  std::vector<Process> processes;
  // The session the program runs in.
  std::uint32_t program_session = 1;
  std::vector<Fault> faults;
  std::vector<Call> calls;
  // Runs inside every call, after it is recorded and before it takes effect.
  std::function<void(const Call&)> on_call;

  std::unique_ptr<ManagementService> Bind(const std::wstring& moniker) override;

  // A program start outside the service (the on-screen keyboard), in the program's session.
  void StartProcess(const std::wstring& name);
  // What ProcessIdToSessionId tells the program: false for a process that is gone.
  bool RunsInProgramSession(std::uint32_t id) const;
  // Gives every process that has none its id, as Windows has given them all.
  void NumberProcesses();

  // How many calls of an operation were made so far.
  int CountOf(const std::wstring& operation) const;

  // Internal: records a call, runs on_call, throws an injected fault.
  void Enter(Call call);

 private:
  std::map<std::wstring, int> counts_;
  std::uint32_t next_id_ = 1000;
};

}  // namespace ipsetter::sim
