#include "platform/crypto.h"

#include <algorithm>
#include <limits>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

namespace platform {

namespace {

// SEC 1 uncompressed point: 0x04, X, Y.
constexpr uint8_t kUncompressedPoint = 0x04;
constexpr size_t kPointBytes = 1 + 2 * kP256CoordinateBytes;

struct Free {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(OSSL_PARAM_BLD* builder) const { OSSL_PARAM_BLD_free(builder); }
  void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
  void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
  void operator()(BIGNUM* number) const { BN_free(number); }
  void operator()(unsigned char* der) const { OPENSSL_free(der); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

Owned<EVP_PKEY> ImportKey(const P256PublicKey& key) {
  uint8_t point[kPointBytes];
  point[0] = kUncompressedPoint;
  std::copy(key.x.begin(), key.x.end(), point + 1);
  std::copy(key.y.begin(), key.y.end(), point + 1 + kP256CoordinateBytes);
  const Owned<OSSL_PARAM_BLD> builder(OSSL_PARAM_BLD_new());
  if (!builder ||
      OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME,
                                      SN_X9_62_prime256v1, 0) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point,
                                       sizeof point) != 1) {
    return nullptr;
  }
  const Owned<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(builder.get()));
  const Owned<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* imported = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return nullptr;
  }
  return Owned<EVP_PKEY>(imported);
}

}  // namespace

struct Sha256::State {
  Owned<EVP_MD_CTX> context{EVP_MD_CTX_new()};
  bool ok = false;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
  m_state->ok =
      m_state->context && EVP_DigestInit_ex(m_state->context.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

bool Sha256::Update(const void* data, size_t size) {
  if (m_state->ok) m_state->ok = EVP_DigestUpdate(m_state->context.get(), data, size) == 1;
  return m_state->ok;
}

bool Sha256::Finish(Sha256Digest* digest) {
  unsigned int length = 0;
  if (m_state->ok) {
    m_state->ok = EVP_DigestFinal_ex(m_state->context.get(), digest->data(), &length) == 1 &&
                  length == digest->size();
  }
  return m_state->ok;
}

bool VerifyP256Sha256(const P256PublicKey& key, const Sha256Digest& digest,
                      const P256Signature& signature) {
  const Owned<EVP_PKEY> publicKey = ImportKey(key);
  if (!publicKey) return false;
  // OpenSSL verifies DER; the raw r and s are packed into it first.
  Owned<BIGNUM> r(BN_bin2bn(signature.data(), kP256CoordinateBytes, nullptr));
  Owned<BIGNUM> s(BN_bin2bn(signature.data() + kP256CoordinateBytes, kP256CoordinateBytes, nullptr));
  Owned<ECDSA_SIG> packed(ECDSA_SIG_new());
  if (!r || !s || !packed || ECDSA_SIG_set0(packed.get(), r.get(), s.get()) != 1) return false;
  (void)r.release();  // owned by `packed` now
  (void)s.release();
  unsigned char* derBytes = nullptr;
  const int derLength = i2d_ECDSA_SIG(packed.get(), &derBytes);
  const Owned<unsigned char> der(derBytes);
  if (derLength <= 0) return false;
  const Owned<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new(publicKey.get(), nullptr));
  return context && EVP_PKEY_verify_init(context.get()) == 1 &&
         EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1 &&
         EVP_PKEY_verify(context.get(), der.get(), static_cast<size_t>(derLength), digest.data(),
                         digest.size()) == 1;
}

bool RandomBytes(void* buffer, size_t size) {
  return size <= static_cast<size_t>(std::numeric_limits<int>::max()) &&
         RAND_bytes(static_cast<unsigned char*>(buffer), static_cast<int>(size)) == 1;
}

}  // namespace platform
