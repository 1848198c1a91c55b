#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace publish {

inline constexpr size_t kSha256Bytes = 32;
using Sha256Digest = std::array<uint8_t, kSha256Bytes>;

// SHA-256 computed by the platform's maintained implementation (OpenSSL's
// libcrypto natively, Windows CNG in the Windows build), fed piece by piece.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // False once the implementation failed (also when it could not be set
  // up); nothing after that counts.
  bool Update(const void* data, size_t size);
  bool Finish(Sha256Digest* digest);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

// Lower-case hexadecimal, 64 characters.
std::string ToHex(const Sha256Digest& digest);
// Exactly 64 hexadecimal digits of either case.
bool FromHex(std::string_view text, Sha256Digest* digest);

}  // namespace publish
