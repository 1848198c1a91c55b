#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/crypto.h"

// The operator's private release key and the signature over a release
// manifest that a launcher built with its public half checks. Only the
// native build of the tool signs (OpenSSL's libcrypto); the Windows build
// refuses a signing key.
namespace publish {

class SigningKey {
 public:
  SigningKey();
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  // A P-256 private key in PEM, as `openssl genpkey -algorithm EC -pkeyopt
  // ec_paramgen_curve:P-256` writes it. False with *problem otherwise.
  bool Load(const std::filesystem::path& pem, std::string* problem);
  // ECDSA P-256 / SHA-256 over `text`: r then s, 64 bytes.
  bool Sign(std::string_view text, platform::P256Signature* signature) const;
  // The public half, as a launcher built with it holds it.
  bool PublicKey(platform::P256PublicKey* key) const;

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace publish
