#include "publish/signing.h"

namespace publish {

// Signing is done where the key is kept, by the native tool; a Windows
// machine that serves releases needs no private key.
struct SigningKey::State {};

SigningKey::SigningKey() : m_state(std::make_unique<State>()) {}
SigningKey::~SigningKey() = default;

bool SigningKey::Load(const std::filesystem::path&, std::string* problem) {
  *problem =
      "this Windows build of velkaris-publish does not sign; run --signing-key with the native "
      "(Linux) build, which signs with OpenSSL";
  return false;
}

bool SigningKey::Sign(std::string_view, platform::P256Signature*) const { return false; }

bool SigningKey::PublicKey(platform::P256PublicKey*) const { return false; }

}  // namespace publish
