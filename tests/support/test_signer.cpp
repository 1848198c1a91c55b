#include "tests/support/test_signer.h"

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>

#include "platform/crypto.h"
#include "platform/unique_owner.h"

namespace {

template <typename T, auto Free>
struct OpenSslTraits : platform::PointerTraits<T> {
  static void Close(T* object) { Free(object); }
};
using KeyFile = platform::UniqueOwner<platform::FileTraits>;
using Key = platform::UniqueOwner<OpenSslTraits<EVP_PKEY, EVP_PKEY_free>>;
using SignContext = platform::UniqueOwner<OpenSslTraits<EVP_MD_CTX, EVP_MD_CTX_free>>;
using DerSignature = platform::UniqueOwner<OpenSslTraits<ECDSA_SIG, ECDSA_SIG_free>>;

constexpr int kHalfBytes = static_cast<int>(platform::kP256CoordinateBytes);

// OpenSSL signs in DER; a release signature is r and s side by side.
bool DerToRaw(const std::string& der, std::string* raw) {
  const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
  const DerSignature parsed(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der.size())));
  if (!parsed) return false;
  raw->assign(platform::kP256SignatureBytes, '\0');
  auto* out = reinterpret_cast<unsigned char*>(raw->data());
  return BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), out, kHalfBytes) == kHalfBytes &&
         BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), out + kHalfBytes, kHalfBytes) == kHalfBytes;
}

}  // namespace

bool SignForTesting(std::string_view text, const std::string& privateKeyPemFile,
                    std::string* signature) {
  const KeyFile file(std::fopen(privateKeyPemFile.c_str(), "r"));
  if (!file) return false;
  const Key key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  const SignContext context(EVP_MD_CTX_new());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  size_t length = 0;
  if (!key || !context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, bytes, text.size()) != 1) {
    return false;
  }
  std::string der(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &length, bytes,
                     text.size()) != 1) {
    return false;
  }
  der.resize(length);
  return DerToRaw(der, signature);
}
