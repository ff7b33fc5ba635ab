#include "scenario.h"

#include <gtest/gtest.h>

namespace ipsetter::simexe {
namespace {

using sim::SimulatedNetwork;

TEST(ScenarioTest, FillsAdaptersProcessesFaultsAndRecord) {
  SimulatedNetwork net;
  const Scenario s = LoadScenario(R"({
    "adapters": [
      { "IPEnabled": true, "DHCPEnabled": false, "IPAddress": ["192.168.10.20"],
        "DefaultIPGateway": null, "Index": 7, "Weight": 1.5, "Nested": [["a"], []],
        "results": { "EnableStatic": 66, "EnableDHCP": "0x8004102E", "SetGateways": -1 },
        "lease": { "afterReads": 3, "IPAddress": ["10.0.0.5"] } },
      { "IPEnabled": false }
    ],
    "processes": ["osk.exe", {"name": "msswchx.exe", "session": 2}],
    "faults": [ { "operation": "ExecQuery", "nth": 2, "code": "0x80041001", "description": "Generic failure" },
                { "operation": "bind" } ],
    "record": "C:\\rec\\calls.jsonl",
    "highContrast": true
  })",
                                  net);

  EXPECT_EQ(s.record_path, L"C:\\rec\\calls.jsonl");
  EXPECT_TRUE(s.high_contrast);
  ASSERT_EQ(net.adapters.size(), 2u);
  const sim::Adapter& a = net.adapters[0];
  EXPECT_EQ(a.properties.at(L"ipenabled"), Value(true));
  EXPECT_EQ(a.properties.at(L"DHCPEnabled"), Value(false));
  EXPECT_EQ(a.properties.at(L"IPAddress"), Value::Strings({L"192.168.10.20"}));
  EXPECT_TRUE(a.properties.at(L"DefaultIPGateway").IsNull());
  EXPECT_EQ(a.properties.at(L"Index"), Value(7));
  EXPECT_EQ(a.properties.at(L"Weight"), Value(1.5));
  EXPECT_EQ(a.properties.at(L"Nested"), Value(Value::Array{Value::Strings({L"a"}), Value(Value::Array{})}));
  EXPECT_EQ(a.properties.count(L"results"), 0u);
  EXPECT_EQ(a.properties.count(L"lease"), 0u);
  EXPECT_EQ(a.results.at(L"EnableStatic"), 66u);
  EXPECT_EQ(a.results.at(L"EnableDHCP"), 0x8004102Eu);
  EXPECT_EQ(a.results.at(L"SetGateways"), 0xFFFFFFFFu);
  EXPECT_EQ(a.results.count(L"SetDNSServerSearchOrder"), 0u);
  ASSERT_TRUE(a.lease.has_value());
  EXPECT_EQ(a.lease->after_reads, 3);
  EXPECT_EQ(a.lease->properties.at(L"IPAddress"), Value::Strings({L"10.0.0.5"}));
  EXPECT_EQ(a.lease->properties.count(L"afterReads"), 0u);
  EXPECT_FALSE(net.adapters[1].lease.has_value());

  EXPECT_EQ(net.processes, (std::vector<sim::Process>{L"osk.exe", {L"msswchx.exe", 2}}));
  ASSERT_EQ(net.faults.size(), 2u);
  EXPECT_EQ(net.faults[0].operation, L"ExecQuery");
  EXPECT_EQ(net.faults[0].nth, 2);
  EXPECT_EQ(net.faults[0].code, 0x80041001u);
  EXPECT_EQ(net.faults[0].description, L"Generic failure");
  EXPECT_EQ(net.faults[1].operation, L"bind");
  EXPECT_EQ(net.faults[1].nth, 1);
  EXPECT_EQ(net.faults[1].code, kWbemGenericFailure);
  EXPECT_EQ(net.faults[1].description, L"");
}

TEST(ScenarioTest, LoadedFaultFiresInTheNetwork) {
  SimulatedNetwork net;
  LoadScenario(R"({"faults": [{"operation": "bind", "nth": 2, "code": 2147749902, "description": "Nope"}]})",
               net);
  net.Bind(L"winmgmts:");
  try {
    net.Bind(L"winmgmts:");
    FAIL() << "no fault raised";
  } catch (const ManagementError& e) {
    EXPECT_EQ(e.code(), 0x8004100Eu);
    EXPECT_EQ(e.description(), L"Nope");
  }
}

TEST(ScenarioTest, RejectsBadFilesWithTheirPlaceAndLeavesTheNetworkAlone) {
  const struct {
    const char* json;
    const char* message;
  } cases[] = {
      {"", "not valid JSON: "},
      {"{\"adapters\": [}", "not valid JSON: "},
      {"[]", "scenario: expected an object"},
      {"{\"adapter\": []}",
       "adapter: unknown key; expected adapters, processes, faults, record or highContrast"},
      {"{\"adapters\": {}}", "adapters: expected an array"},
      {"{\"adapters\": [1]}", "adapters[0]: expected an object"},
      {"{\"adapters\": [{\"IPAddress\": {\"a\": 1}}]}",
       "adapters[0].IPAddress: expected null, a Boolean, a number, a string or an array"},
      {"{\"adapters\": [{\"IPAddress\": [\"a\", {}]}]}",
       "adapters[0].IPAddress[1]: expected null, a Boolean, a number, a string or an array"},
      {"{\"adapters\": [{\"Big\": 18446744073709551615}]}", "adapters[0].Big: integer too large"},
      {"{\"adapters\": [{\"results\": {\"EnableStatik\": 0}}]}",
       "adapters[0].results.EnableStatik: unknown method; expected one of EnableStatic, SetGateways, "
       "SetDNSServerSearchOrder, EnableDHCP"},
      {"{\"adapters\": [{\"results\": {\"EnableStatic\": 4294967296}}]}",
       "adapters[0].results.EnableStatic: expected an integer from -2147483648 to 4294967295 or a text such "
       "as \"0x80041001\""},
      {"{\"adapters\": [{\"results\": {\"EnableStatic\": -2147483649}}]}",
       "adapters[0].results.EnableStatic: expected an integer"},
      {"{\"adapters\": [{\"results\": {\"EnableStatic\": 1.5}}]}",
       "adapters[0].results.EnableStatic: expected an integer"},
      {"{\"adapters\": [{\"results\": {\"EnableStatic\": \"0x\"}}]}",
       "adapters[0].results.EnableStatic: expected an integer"},
      {"{\"adapters\": [{\"results\": {\"EnableStatic\": \"0x1FFFFFFFF\"}}]}",
       "adapters[0].results.EnableStatic: expected an integer"},
      {"{\"adapters\": [{\"results\": {\"EnableStatic\": \"12a\"}}]}",
       "adapters[0].results.EnableStatic: expected an integer"},
      {"{\"adapters\": [{\"results\": []}]}", "adapters[0].results: expected an object"},
      {"{\"adapters\": [{\"lease\": {\"afterReads\": -1}}]}",
       "adapters[0].lease.afterReads: expected an integer of at least 0"},
      {"{\"adapters\": [{\"lease\": {\"afterReads\": \"3\"}}]}",
       "adapters[0].lease.afterReads: expected an integer of at least 0"},
      {"{\"processes\": [\"osk.exe\", 3]}", "processes[1]: expected a text or an object"},
      {"{\"processes\": [{\"session\": 2}]}", "processes[0]: missing \"name\""},
      {"{\"processes\": [{\"name\": \"osk.exe\", \"session\": -1}]}",
       "processes[0].session: expected an integer of at least 0"},
      {"{\"faults\": [{\"nth\": 1}]}", "faults[0]: missing \"operation\""},
      {"{\"faults\": [{\"operation\": \"Bind\"}]}",
       "faults[0].operation: expected one of bind, ExecQuery, property, EnableStatic, SetGateways, "
       "SetDNSServerSearchOrder, EnableDHCP, Terminate"},
      {"{\"faults\": [{\"operation\": \"bind\", \"nth\": 0}]}",
       "faults[0].nth: expected an integer of at least 1"},
      {"{\"faults\": [{\"operation\": \"bind\", \"when\": 1}]}",
       "faults[0].when: unknown key; expected operation, nth, code or description"},
      {"{\"faults\": [{\"operation\": \"bind\", \"description\": 5}]}",
       "faults[0].description: expected a text"},
      {"{\"record\": \"\"}", "record: expected a file name"},
      {"{\"record\": null}", "record: expected a text"},
      {"{\"highContrast\": 1}", "highContrast: expected true or false"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    SimulatedNetwork net;
    net.processes = {L"untouched.exe"};
    try {
      LoadScenario(c.json, net);
      ADD_FAILURE() << "accepted";
    } catch (const ScenarioError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
    EXPECT_EQ(net.processes, std::vector<sim::Process>{L"untouched.exe"});
  }
}

TEST(ScenarioTest, CallLinesCarryEveryValueKindInOrder) {
  const struct {
    sim::Call call;
    const char* line;
  } cases[] = {
      {{L"bind", L"winmgmts:\\\\.\\root\\cimv2", -1, {}},
       R"({"operation":"bind","target":"winmgmts:\\\\.\\root\\cimv2","adapter":-1,"args":[]})"},
      {{L"SetGateways", L"", 0, {Value::Strings({L"10.0.0.1"}), Value(Value::Array{Value(1)})}},
       R"({"operation":"SetGateways","target":"","adapter":0,"args":[["10.0.0.1"],[1]]})"},
      {{L"x", L"\u00e9\U0001F600\"", 2, {Value(), Value(true), Value(2.5), Value(L"s")}},
       "{\"operation\":\"x\",\"target\":\"\xC3\xA9\xF0\x9F\x98\x80\\\"\",\"adapter\":2,"
       "\"args\":[null,true,2.5,\"s\"]}"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CallToJson(c.call), c.line);
}

TEST(ScenarioTest, Utf8RoundTripAndInvalidInput) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(FromUtf8(text), L"a\u00e9\u20ac\U0001F600");
  EXPECT_EQ(ToUtf8(FromUtf8(text)), text);
  for (const char* bad : {"\xC3", "\xC3(", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"})
    EXPECT_THROW(FromUtf8(bad), ScenarioError) << bad;
}

}  // namespace
}  // namespace ipsetter::simexe
