#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

// SHA-256, ECDSA P-256 signature checks and random bytes from the
// platform's maintained implementation: Windows CNG (bcrypt.dll, loaded late
// from the system folder) in the Windows build, OpenSSL's libcrypto natively.
namespace platform {

inline constexpr size_t kSha256Bytes = 32;
using Sha256Digest = std::array<uint8_t, kSha256Bytes>;

// Size and SHA-256 of a file's bytes.
struct FileDigest {
  uint64_t size = 0;
  Sha256Digest sha256{};
  bool operator==(const FileDigest&) const = default;
};

// Fed piece by piece. False once the implementation failed (also when it
// could not be set up); nothing after that counts.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool Update(const void* data, size_t size);
  bool Finish(Sha256Digest* digest);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

// A P-256 public key as its affine coordinates, big-endian.
inline constexpr size_t kP256CoordinateBytes = 32;
struct P256PublicKey {
  std::array<uint8_t, kP256CoordinateBytes> x{};
  std::array<uint8_t, kP256CoordinateBytes> y{};
};

// A signature as r followed by s, each big-endian in 32 bytes.
inline constexpr size_t kP256SignatureBytes = 2 * kP256CoordinateBytes;
using P256Signature = std::array<uint8_t, kP256SignatureBytes>;

// True only when `signature` is a valid ECDSA P-256 signature by `key` over
// the message whose SHA-256 is `digest`. Any failure of the implementation
// counts as a bad signature.
bool VerifyP256Sha256(const P256PublicKey& key, const Sha256Digest& digest,
                      const P256Signature& signature);

// Fills the buffer from the system's cryptographic random source. False when
// it has none to give.
bool RandomBytes(void* buffer, size_t size);

}  // namespace platform
