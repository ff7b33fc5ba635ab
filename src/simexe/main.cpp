// ipsetter-sim.exe: the real window in front of the simulated network, for end-to-end tests.
// Usage: ipsetter-sim.exe SCENARIO.json

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "app.h"
#include "scenario.h"
#include "simulated_network.h"
#include "win32_platform.h"

namespace {

constexpr int kBadScenario = 2;

// The keyboard starts inside the simulated machine, so tests can see it among the processes, whose
// sessions the simulated machine knows; a
// scenario can ask for a high-contrast theme.
class SimPlatform : public ipsetter::Win32Platform {
 public:
  SimPlatform(ipsetter::sim::SimulatedNetwork& network, bool high_contrast)
      : network_(network), high_contrast_(high_contrast) {}
  void StartKeyboard() override { network_.StartProcess(L"osk.exe"); }
  bool RunsInThisSession(std::uint32_t process_id) const override {
    return network_.RunsInProgramSession(process_id);
  }
  bool HighContrast() const override { return high_contrast_ || Win32Platform::HighContrast(); }

 private:
  ipsetter::sim::SimulatedNetwork& network_;
  bool high_contrast_;
};

// Appends each call as it happens, so the record survives a crash or a kill. Opened on the first
// call: a start that makes no call (a second instance) leaves no file behind.
class Recorder {
 public:
  explicit Recorder(std::filesystem::path path) : path_(std::move(path)) {}

  void Append(const ipsetter::sim::Call& call) {
    if (!out_.is_open())
      out_.open(path_, std::ios::binary | std::ios::app);
    out_ << ipsetter::simexe::CallToJson(call) << '\n';
    out_.flush();
  }

 private:
  std::filesystem::path path_;
  std::ofstream out_;
};

int Refuse(const std::string& message) {
  std::fprintf(stderr, "ipsetter-sim: %s\n", message.c_str());
  std::fflush(stderr);
  return kBadScenario;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2)
    return Refuse("usage: ipsetter-sim.exe SCENARIO.json");

  const std::filesystem::path scenario_path(argv[1]);
  const std::string shown_path = ipsetter::simexe::ToUtf8(scenario_path.wstring());
  std::ifstream in(scenario_path, std::ios::binary);
  if (!in)
    return Refuse("cannot open scenario file " + shown_path);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad())
    return Refuse("cannot read scenario file " + shown_path);

  ipsetter::sim::SimulatedNetwork network;
  ipsetter::simexe::Scenario scenario;
  try {
    scenario = ipsetter::simexe::LoadScenario(text, network);
  } catch (const ipsetter::simexe::ScenarioError& e) {
    return Refuse(shown_path + ": " + e.what());
  }

  std::unique_ptr<Recorder> recorder;
  if (!scenario.record_path.empty()) {
    recorder = std::make_unique<Recorder>(std::filesystem::path(scenario.record_path));
    network.on_call = [&recorder](const ipsetter::sim::Call& call) { recorder->Append(call); };
  }

  SimPlatform platform(network, scenario.high_contrast);
  return RunIpsetter(GetModuleHandleW(nullptr), network, platform);
}
