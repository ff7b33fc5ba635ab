// The provider's two ways out: the Linux-side agent (NETRIG_AGENT="127.0.0.1:PORT") and the record
// of every call received (NETRIG_RECORD names a Unix path).
#pragma once

#include <windows.h>

#include <string>

#include "json.h"

namespace netrig {

// "0x%08X"
std::wstring HexCode(HRESULT hr);

// Appends one line to the record, written through at once so that it survives a kill.
void Record(const Json& line);

struct AgentAnswer {
  HRESULT hr;  // S_OK: `body` is an {"ok":true,...} object
  Json body;
};

// One request, one answer line; bounded in time. No agent, no answer or not the agreed JSON:
// WBEM_E_PROVIDER_FAILURE. {"ok":false,"hresult":"0x8004xxxx"}: that failure code.
AgentAnswer AskAgent(const Json& request);

}  // namespace netrig
