// POSIX implementation of net_socket.h.
#include "net_socket.h"

#include <climits>
#include <utility>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testhttp {
namespace net {
namespace {

constexpr int kListenBacklog = 64;

int Fd(const Socket& socket) { return static_cast<int>(socket.Get()); }

bool MakeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

Readiness WaitFor(const Socket& socket, short events, int timeout_ms) {
  pollfd entry{};
  entry.fd = Fd(socket);
  entry.events = events;
  int rc;
  do {
    rc = poll(&entry, 1, timeout_ms);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return Readiness::kError;
  if (rc == 0) return Readiness::kTimeout;
  // Error/hang-up states count as ready: the following call reports them.
  return Readiness::kReady;
}

IoStatus StatusFromErrno(int error) {
  if (error == EAGAIN || error == EWOULDBLOCK) return IoStatus::kWouldBlock;
  if (error == ECONNRESET || error == EPIPE) return IoStatus::kReset;
  return IoStatus::kError;
}

}  // namespace

SocketLibrary::SocketLibrary() : ok_(true) {}
SocketLibrary::~SocketLibrary() = default;

void Socket::Close() {
  if (Valid()) close(static_cast<int>(Release()));
}

bool ListenLoopback(std::uint16_t port, Socket* listener, std::uint16_t* bound_port) {
  Socket socket(static_cast<Handle>(::socket(AF_INET, SOCK_STREAM, 0)));
  if (!socket.Valid()) return false;
  // Lets an end-to-end test restart a server on a fixed port right away.
  const int enable = 1;
  setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &enable, sizeof(enable));
  sockaddr_in address = LoopbackAddress(port);
  if (bind(Fd(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return false;
  if (listen(Fd(socket), kListenBacklog) != 0) return false;
  if (!MakeNonBlocking(Fd(socket))) return false;
  sockaddr_in bound{};
  socklen_t length = sizeof(bound);
  if (getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&bound), &length) != 0) return false;
  *bound_port = ntohs(bound.sin_port);
  *listener = std::move(socket);
  return true;
}

bool ConnectLoopback(std::uint16_t port, Socket* out) {
  Socket socket(static_cast<Handle>(::socket(AF_INET, SOCK_STREAM, 0)));
  if (!socket.Valid()) return false;
  sockaddr_in address = LoopbackAddress(port);
  int rc;
  do {
    rc = connect(Fd(socket), reinterpret_cast<sockaddr*>(&address), sizeof(address));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  *out = std::move(socket);
  return true;
}

IoStatus Accept(const Socket& listener, Socket* out) {
  const int fd = accept(Fd(listener), nullptr, nullptr);
  if (fd < 0) return StatusFromErrno(errno);
  Socket accepted(static_cast<Handle>(fd));
  if (!MakeNonBlocking(fd)) return IoStatus::kError;
  const int enable = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &enable, sizeof(enable));
  *out = std::move(accepted);
  return IoStatus::kOk;
}

Readiness WaitReadable(const Socket& socket, int timeout_ms) {
  return WaitFor(socket, POLLIN, timeout_ms);
}

Readiness WaitWritable(const Socket& socket, int timeout_ms) {
  return WaitFor(socket, POLLOUT, timeout_ms);
}

IoResult Receive(const Socket& socket, char* buffer, std::size_t capacity) {
  ssize_t rc;
  do {
    rc = recv(Fd(socket), buffer, capacity, 0);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return {StatusFromErrno(errno), 0};
  if (rc == 0) return {IoStatus::kClosed, 0};
  return {IoStatus::kOk, static_cast<std::size_t>(rc)};
}

IoResult Send(const Socket& socket, const char* data, std::size_t length) {
  ssize_t rc;
  do {
    // MSG_NOSIGNAL: a client that hung up must not kill the process.
    rc = send(Fd(socket), data, length, MSG_NOSIGNAL);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return {StatusFromErrno(errno), 0};
  return {IoStatus::kOk, static_cast<std::size_t>(rc)};
}

void ShutdownSend(const Socket& socket) {
  if (socket.Valid()) shutdown(Fd(socket), SHUT_WR);
}

void ShutdownBoth(const Socket& socket) {
  if (socket.Valid()) shutdown(Fd(socket), SHUT_RDWR);
}

void CloseWithReset(Socket* socket) {
  if (!socket->Valid()) return;
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(Fd(*socket), SOL_SOCKET, SO_LINGER, &option, sizeof(option));
  socket->Close();
}

}  // namespace net
}  // namespace testhttp
