#include "publish/sha256.h"

#include <openssl/evp.h>

namespace publish {

namespace {

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

struct Sha256::State {
  std::unique_ptr<EVP_MD_CTX, ContextFree> context{EVP_MD_CTX_new()};
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

}  // namespace publish
