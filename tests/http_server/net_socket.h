// Minimal TCP socket layer for the test HTTP server and its self-tests.
// The build picks socket_posix.cpp or socket_win.cpp; nothing above this
// header needs to know which platform it runs on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testhttp {
namespace net {

// Wide enough for both an int descriptor and a Winsock SOCKET; the invalid
// value of both (-1 / INVALID_SOCKET) maps to all bits set.
using Handle = std::uintptr_t;
constexpr Handle kInvalidHandle = ~Handle{0};

// Winsock must be initialised before any socket call; on POSIX this is a
// no-op. Reference-counted by the OS, so several instances are fine.
class SocketLibrary {
 public:
  SocketLibrary();
  ~SocketLibrary();
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  bool Ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// Owns one socket handle; closes it on destruction.
class Socket {
 public:
  Socket() = default;
  explicit Socket(Handle handle) : handle_(handle) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : handle_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool Valid() const { return handle_ != kInvalidHandle; }
  Handle Get() const { return handle_; }
  Handle Release() {
    const Handle handle = handle_;
    handle_ = kInvalidHandle;
    return handle;
  }
  void Close();  // platform-specific

 private:
  Handle handle_ = kInvalidHandle;
};

enum class IoStatus {
  kOk,          // bytes transferred
  kWouldBlock,  // non-blocking socket not ready
  kClosed,      // orderly shutdown by the peer (receive only)
  kReset,       // connection reset by the peer
  kError,
};

struct IoResult {
  IoStatus status = IoStatus::kError;
  std::size_t bytes = 0;
};

enum class Readiness { kReady, kTimeout, kError };

// Binds 127.0.0.1:port (0 = let the OS choose) and listens; the listener is
// non-blocking. Reports the port actually bound.
bool ListenLoopback(std::uint16_t port, Socket* listener, std::uint16_t* bound_port);

// Blocking connect to 127.0.0.1:port, used by test clients.
bool ConnectLoopback(std::uint16_t port, Socket* out);

// Accepts one pending connection, makes it non-blocking and sends without
// Nagle's delay: a response's head and body are separate sends, and on a
// kept-alive connection the body would otherwise wait for the client's
// delayed acknowledgement of the head.
IoStatus Accept(const Socket& listener, Socket* out);

Readiness WaitReadable(const Socket& socket, int timeout_ms);
Readiness WaitWritable(const Socket& socket, int timeout_ms);

IoResult Receive(const Socket& socket, char* buffer, std::size_t capacity);
IoResult Send(const Socket& socket, const char* data, std::size_t length);

void ShutdownSend(const Socket& socket);
void ShutdownBoth(const Socket& socket);

// Closes with SO_LINGER {on, 0} so the peer sees a RST instead of a FIN.
void CloseWithReset(Socket* socket);

}  // namespace net
}  // namespace testhttp
