#include "publish/signing.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

#include <algorithm>
#include <array>
#include <string>

#include "publish/list_names.h"

namespace publish {

namespace {

constexpr size_t kGroupNameBytes = 64;
constexpr uint8_t kUncompressedPoint = 0x04;
constexpr size_t kPointBytes = 1 + 2 * platform::kP256CoordinateBytes;

struct Free {
  void operator()(BIO* bio) const { BIO_free(bio); }
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

bool IsP256(EVP_PKEY* key) {
  char group[kGroupNameBytes] = {};
  size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") == 1 &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        &length) == 1 &&
         std::string(group, length) == SN_X9_62_prime256v1;
}

}  // namespace

struct SigningKey::State {
  Owned<EVP_PKEY> key;
};

SigningKey::SigningKey() : m_state(std::make_unique<State>()) {}
SigningKey::~SigningKey() = default;

bool SigningKey::Load(const std::filesystem::path& pem, std::string* problem) {
  const Owned<BIO> file(BIO_new_file(pem.string().c_str(), "r"));
  if (!file) {
    *problem = "cannot read the signing key " + PrintablePath(pem);
    return false;
  }
  Owned<EVP_PKEY> key(PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key || !IsP256(key.get())) {
    *problem = "the signing key " + PrintablePath(pem) +
               " is not a P-256 private key in PEM (make one with: openssl genpkey -algorithm EC "
               "-pkeyopt ec_paramgen_curve:P-256 -out release.key)";
    return false;
  }
  m_state->key = std::move(key);
  return true;
}

bool SigningKey::Sign(std::string_view text, platform::P256Signature* signature) const {
  const Owned<EVP_MD_CTX> context(EVP_MD_CTX_new());
  size_t derLength = 0;
  if (!m_state->key || !context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, m_state->key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &derLength,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1) {
    return false;
  }
  std::string der(derLength, '\0');
  auto* derBytes = reinterpret_cast<unsigned char*>(der.data());
  if (EVP_DigestSign(context.get(), derBytes, &derLength,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1) {
    return false;
  }
  // OpenSSL writes DER; the launcher takes r and s side by side, as CNG does.
  const unsigned char* cursor = derBytes;
  const Owned<ECDSA_SIG> parsed(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derLength)));
  if (!parsed) return false;
  constexpr int kHalf = static_cast<int>(platform::kP256CoordinateBytes);
  return BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), signature->data(), kHalf) == kHalf &&
         BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), signature->data() + kHalf, kHalf) == kHalf;
}

bool SigningKey::PublicKey(platform::P256PublicKey* key) const {
  std::array<unsigned char, kPointBytes> point{};
  size_t length = 0;
  if (!m_state->key ||
      EVP_PKEY_get_octet_string_param(m_state->key.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                      point.size(), &length) != 1 ||
      length != point.size() || point[0] != kUncompressedPoint) {
    return false;
  }
  const auto x = point.begin() + 1;
  const auto y = x + platform::kP256CoordinateBytes;
  std::copy(x, y, key->x.begin());
  std::copy(y, point.end(), key->y.begin());
  return true;
}

}  // namespace publish
