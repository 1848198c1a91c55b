// Winsock implementation of net_socket.h.
#include "net_socket.h"

#include <climits>
#include <utility>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace testhttp {
namespace net {
namespace {

constexpr int kListenBacklog = 64;
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr int kMillisPerSecond = 1000;
constexpr int kMicrosPerMilli = 1000;

SOCKET Raw(const Socket& socket) { return static_cast<SOCKET>(socket.Get()); }

bool MakeNonBlocking(SOCKET socket) {
  u_long enable = 1;
  return ioctlsocket(socket, FIONBIO, &enable) == 0;
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// select() rather than WSAPoll: it is available on every Windows version and
// Wine, and a one-socket fd_set has no FD_SETSIZE concern on Winsock.
Readiness WaitFor(const Socket& socket, bool for_write, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Raw(socket), &set);
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(Raw(socket), &errors);
  timeval timeout{};
  timeout.tv_sec = timeout_ms / kMillisPerSecond;
  timeout.tv_usec = (timeout_ms % kMillisPerSecond) * kMicrosPerMilli;
  const int rc = select(0, for_write ? nullptr : &set, for_write ? &set : nullptr, &errors, &timeout);
  if (rc == SOCKET_ERROR) return Readiness::kError;
  if (rc == 0) return Readiness::kTimeout;
  return Readiness::kReady;
}

IoStatus StatusFromError(int error) {
  if (error == WSAEWOULDBLOCK) return IoStatus::kWouldBlock;
  if (error == WSAECONNRESET || error == WSAECONNABORTED) return IoStatus::kReset;
  return IoStatus::kError;
}

}  // namespace

SocketLibrary::SocketLibrary() {
  WSADATA data;
  ok_ = WSAStartup(kWinsockVersion, &data) == 0;
}

SocketLibrary::~SocketLibrary() {
  if (ok_) WSACleanup();
}

void Socket::Close() {
  if (Valid()) closesocket(static_cast<SOCKET>(Release()));
}

bool ListenLoopback(std::uint16_t port, Socket* listener, std::uint16_t* bound_port) {
  Socket socket(static_cast<Handle>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  if (!socket.Valid()) return false;
  // Windows would otherwise let another process bind the same port with
  // SO_REUSEADDR and steal connections; best effort, Wine may ignore it.
  const BOOL enable = TRUE;
  setsockopt(Raw(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&enable),
             sizeof(enable));
  sockaddr_in address = LoopbackAddress(port);
  if (bind(Raw(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return false;
  if (listen(Raw(socket), kListenBacklog) != 0) return false;
  if (!MakeNonBlocking(Raw(socket))) return false;
  sockaddr_in bound{};
  int length = sizeof(bound);
  if (getsockname(Raw(socket), reinterpret_cast<sockaddr*>(&bound), &length) != 0) return false;
  *bound_port = ntohs(bound.sin_port);
  *listener = std::move(socket);
  return true;
}

bool ConnectLoopback(std::uint16_t port, Socket* out) {
  Socket socket(static_cast<Handle>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  if (!socket.Valid()) return false;
  sockaddr_in address = LoopbackAddress(port);
  if (connect(Raw(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return false;
  *out = std::move(socket);
  return true;
}

IoStatus Accept(const Socket& listener, Socket* out) {
  const SOCKET accepted_raw = accept(Raw(listener), nullptr, nullptr);
  if (accepted_raw == INVALID_SOCKET) return StatusFromError(WSAGetLastError());
  Socket accepted(static_cast<Handle>(accepted_raw));
  if (!MakeNonBlocking(accepted_raw)) return IoStatus::kError;
  const BOOL enable = TRUE;
  setsockopt(accepted_raw, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&enable), sizeof(enable));
  *out = std::move(accepted);
  return IoStatus::kOk;
}

Readiness WaitReadable(const Socket& socket, int timeout_ms) {
  return WaitFor(socket, false, timeout_ms);
}

Readiness WaitWritable(const Socket& socket, int timeout_ms) {
  return WaitFor(socket, true, timeout_ms);
}

IoResult Receive(const Socket& socket, char* buffer, std::size_t capacity) {
  const int request = capacity > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(capacity);
  const int rc = recv(Raw(socket), buffer, request, 0);
  if (rc == SOCKET_ERROR) return {StatusFromError(WSAGetLastError()), 0};
  if (rc == 0) return {IoStatus::kClosed, 0};
  return {IoStatus::kOk, static_cast<std::size_t>(rc)};
}

IoResult Send(const Socket& socket, const char* data, std::size_t length) {
  const int request = length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
  const int rc = send(Raw(socket), data, request, 0);
  if (rc == SOCKET_ERROR) return {StatusFromError(WSAGetLastError()), 0};
  return {IoStatus::kOk, static_cast<std::size_t>(rc)};
}

void ShutdownSend(const Socket& socket) {
  if (socket.Valid()) shutdown(Raw(socket), SD_SEND);
}

void ShutdownBoth(const Socket& socket) {
  if (socket.Valid()) shutdown(Raw(socket), SD_BOTH);
}

void CloseWithReset(Socket* socket) {
  if (!socket->Valid()) return;
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(Raw(*socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof(option));
  socket->Close();
}

}  // namespace net
}  // namespace testhttp
