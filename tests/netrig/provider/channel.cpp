#include "channel.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <wbemcli.h>

#include <cstdio>
#include <cwchar>

namespace netrig {

namespace {

constexpr DWORD kConnectMs = 2000;
constexpr DWORD kExchangeMs = 15000;
constexpr std::size_t kMaxAnswer = 1 << 20;

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[1024];
  const DWORD n = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (n == 0 || n >= std::size(buffer))
    return std::wstring();
  return std::wstring(buffer, n);
}

// "127.0.0.1:PORT" only: the agent listens on the namespace's loopback.
bool AgentAddress(sockaddr_in& address) {
  const std::wstring text = Environment(L"NETRIG_AGENT");
  const std::wstring host = L"127.0.0.1:";
  if (text.compare(0, host.size(), host) != 0 || text.size() == host.size() || text.size() > host.size() + 5)
    return false;
  unsigned long port = 0;
  for (std::size_t i = host.size(); i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9')
      return false;
    port = port * 10 + static_cast<unsigned long>(text[i] - L'0');
  }
  if (port == 0 || port > 65535)
    return false;
  address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return true;
}

class Socket {
 public:
  Socket() : started_(WSAStartup(MAKEWORD(2, 2), &data_) == 0) {
    if (started_)
      s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  }
  ~Socket() {
    if (s_ != INVALID_SOCKET)
      closesocket(s_);
    if (started_)
      WSACleanup();
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool Connect(const sockaddr_in& address) {
    u_long non_blocking = 1;
    if (s_ == INVALID_SOCKET || ioctlsocket(s_, FIONBIO, &non_blocking) != 0)
      return false;
    if (connect(s_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK)
      return false;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s_, &writable);
    FD_SET(s_, &failed);
    timeval limit{static_cast<long>(kConnectMs / 1000), static_cast<long>(kConnectMs % 1000) * 1000};
    if (select(0, nullptr, &writable, &failed, &limit) != 1 || !FD_ISSET(s_, &writable))
      return false;
    int error = 0;
    int size = sizeof error;
    return getsockopt(s_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && error == 0;
  }

  // Waits until the socket is ready or the deadline (GetTickCount64) has passed.
  bool Wait(bool for_write, ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline)
      return false;
    const ULONGLONG left = deadline - now;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s_, &set);
    timeval limit{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    return select(0, for_write ? nullptr : &set, for_write ? &set : nullptr, nullptr, &limit) == 1;
  }

  bool SendAll(const std::string& data, ULONGLONG deadline) {
    std::size_t sent = 0;
    while (sent < data.size()) {
      if (!Wait(true, deadline))
        return false;
      const int n = send(s_, data.data() + sent, static_cast<int>(data.size() - sent), 0);
      if (n <= 0)
        return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Up to the first "\n"; false on a close, a time-out or an overlong answer.
  bool ReceiveLine(std::string& line, ULONGLONG deadline) {
    for (;;) {
      const std::size_t end = line.find('\n');
      if (end != std::string::npos) {
        line.resize(end);
        return true;
      }
      if (line.size() > kMaxAnswer || !Wait(false, deadline))
        return false;
      char buffer[4096];
      const int n = recv(s_, buffer, sizeof buffer, 0);
      if (n <= 0)
        return false;
      line.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  WSADATA data_{};
  bool started_;
  SOCKET s_ = INVALID_SOCKET;
};

bool ParseHresult(const Json* text, HRESULT& hr) {
  if (!text || text->kind() != Json::Kind::kString)
    return false;
  const std::wstring& s = text->AsString();
  if (s.size() != 10 || s[0] != L'0' || (s[1] != L'x' && s[1] != L'X'))
    return false;
  unsigned long value = 0;
  for (std::size_t i = 2; i < s.size(); ++i) {
    const wchar_t c = s[i];
    unsigned digit;
    if (c >= L'0' && c <= L'9')
      digit = static_cast<unsigned>(c - L'0');
    else if (c >= L'a' && c <= L'f')
      digit = static_cast<unsigned>(c - L'a' + 10);
    else if (c >= L'A' && c <= L'F')
      digit = static_cast<unsigned>(c - L'A' + 10);
    else
      return false;
    value = (value << 4) | digit;
  }
  hr = static_cast<HRESULT>(value);
  // Only a failure may come through: an answer must never turn into a made-up success.
  return FAILED(hr);
}

HANDLE OpenRecord() {
  const std::wstring unix_path = Environment(L"NETRIG_RECORD");
  if (unix_path.empty())
    return INVALID_HANDLE_VALUE;
  std::wstring path = unix_path;
  if (path[0] == L'/') {
    for (wchar_t& c : path) {
      if (c == L'/')
        c = L'\\';
    }
    path = L"Z:" + path;
  }
  return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::wstring HexCode(HRESULT hr) {
  wchar_t text[16];
  std::swprintf(text, std::size(text), L"0x%08X", static_cast<unsigned>(hr));
  return text;
}

void Record(const Json& line) {
  static const HANDLE file = OpenRecord();
  if (file == INVALID_HANDLE_VALUE)
    return;
  const std::string text = WriteJson(line) + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

namespace {

AgentAnswer Exchange(const Json& request) {
  const AgentAnswer failure{HRESULT(WBEM_E_PROVIDER_FAILURE), Json()};
  sockaddr_in address;
  if (!AgentAddress(address))
    return failure;
  Socket socket;
  const ULONGLONG deadline = GetTickCount64() + kExchangeMs;
  std::string line;
  if (!socket.Connect(address) || !socket.SendAll(WriteJson(request) + "\n", deadline) ||
      !socket.ReceiveLine(line, deadline)) {
    return failure;
  }
  std::optional<Json> answer = ParseJson(line);
  if (!answer || answer->kind() != Json::Kind::kObject)
    return failure;
  const Json* ok = answer->Find(L"ok");
  if (!ok || ok->kind() != Json::Kind::kBool)
    return failure;
  if (ok->AsBool())
    return {S_OK, std::move(*answer)};
  HRESULT hr;
  if (!ParseHresult(answer->Find(L"hresult"), hr))
    return failure;
  return {hr, Json()};
}

struct PendingExchange {
  Json request;
  AgentAnswer answer{HRESULT(WBEM_E_PROVIDER_FAILURE), Json()};
};

DWORD WINAPI ExchangeThread(void* context) {
  auto* pending = static_cast<PendingExchange*>(context);
  pending->answer = Exchange(pending->request);
  return 0;
}

// What the record says of one exchange: which request, and how long the caller waited for it.
Json WaitLine(const Json& request, ULONGLONG waited_ms, bool in_modal_loop) {
  Json line = Json::MakeObject();
  line.Add(L"call", Json::String(L"agent"));
  for (const wchar_t* key : {L"op", L"method"}) {
    if (const Json* value = request.Find(key))
      line.Add(key, *value);
  }
  line.Add(L"waited_ms", Json::Number(static_cast<double>(waited_ms)))
      .Add(L"wait", Json::String(in_modal_loop ? L"CoWaitForMultipleHandles" : L"WaitForSingleObject"));
  return line;
}

}  // namespace

// The real service answers from another process: the caller's thread waits in COM's modal loop,
// which in a single-threaded apartment dispatches some window messages meanwhile. Measured under
// Wine 8.0: paints and sent messages only, whatever the flags; never timers or posted messages.
// Windows' default (flags 0) dispatches "a small set of special-cased messages"; an outgoing call's
// loop also asks a registered IMessageFilter. So a window meets here, under Wine, at least the
// messages it meets on Windows only when they are sent, not posted.
AgentAnswer AskAgent(const Json& request) {
  PendingExchange pending{request};
  const ULONGLONG start = GetTickCount64();
  HANDLE thread = CreateThread(nullptr, 0, ExchangeThread, &pending, 0, nullptr);
  if (!thread)
    return Exchange(request);
  DWORD index = 0;
  // The exchange ends by itself (bounded by kConnectMs and kExchangeMs), so the wait has no limit.
  HRESULT hr = CoWaitForMultipleHandles(0, INFINITE, 1, &thread, &index);
  const bool in_modal_loop = SUCCEEDED(hr);
  if (!in_modal_loop)
    WaitForSingleObject(thread, INFINITE);  // a thread without COM
  CloseHandle(thread);
  Record(WaitLine(request, GetTickCount64() - start, in_modal_loop));
  return std::move(pending.answer);
}

}  // namespace netrig
