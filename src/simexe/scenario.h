// A scenario file for ipsetter-sim.exe: adapters, processes, faults, read into the simulated network.
#pragma once

#include <stdexcept>
#include <string>

#include "simulated_network.h"

namespace ipsetter::simexe {

// A scenario file that cannot be used; what() names the place and the problem.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Scenario {
  // Where every call is appended as one JSON line; empty: no record.
  std::wstring record_path;
  // The window behaves as in a high-contrast theme (Wine cannot switch one on).
  bool high_contrast = false;
};

// Fills `network` (adapters, processes, faults) from the JSON text of a scenario file.
// Throws ScenarioError for malformed JSON and for keys or values of the wrong shape; `network`
// is then left as it was.
Scenario LoadScenario(const std::string& json_text, sim::SimulatedNetwork& network);

// One recorded call as a single line of JSON (no newline):
// {"operation":..,"target":..,"adapter":..,"args":[...]}
std::string CallToJson(const sim::Call& call);

// UTF-8 <-> wide text; invalid UTF-8 raises ScenarioError.
std::wstring FromUtf8(const std::string& text);
std::string ToUtf8(const std::wstring& text);

}  // namespace ipsetter::simexe
