#include "publish/sha256.h"

// windows.h first: bcrypt.h relies on its types.
#include <windows.h>

#include <bcrypt.h>

#include <limits>

#include "platform/unique_owner.h"

namespace publish {

namespace {

struct ProviderTraits : platform::PointerTraits<void> {
  static void Close(BCRYPT_ALG_HANDLE provider) { BCryptCloseAlgorithmProvider(provider, 0); }
};
struct HashTraits : platform::PointerTraits<void> {
  static void Close(BCRYPT_HASH_HANDLE hash) { BCryptDestroyHash(hash); }
};

}  // namespace

struct Sha256::State {
  platform::UniqueOwner<ProviderTraits> provider;
  platform::UniqueOwner<HashTraits> hash;
  bool ok = false;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return;
  }
  m_state->provider.reset(provider);
  // Since Windows 7 CNG allocates the hash object itself when given none.
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) return;
  m_state->hash.reset(hash);
  m_state->ok = true;
}

Sha256::~Sha256() = default;

bool Sha256::Update(const void* data, size_t size) {
  // BCryptHashData takes a byte count of 32 bits; larger pieces go in parts.
  constexpr size_t kMaxPiece = std::numeric_limits<ULONG>::max();
  const auto* bytes = static_cast<const UCHAR*>(data);
  while (m_state->ok && size > 0) {
    const size_t piece = size < kMaxPiece ? size : kMaxPiece;
    m_state->ok = BCRYPT_SUCCESS(BCryptHashData(m_state->hash.get(), const_cast<UCHAR*>(bytes),
                                                static_cast<ULONG>(piece), 0));
    bytes += piece;
    size -= piece;
  }
  return m_state->ok;
}

bool Sha256::Finish(Sha256Digest* digest) {
  if (m_state->ok) {
    m_state->ok = BCRYPT_SUCCESS(BCryptFinishHash(m_state->hash.get(), digest->data(),
                                                  static_cast<ULONG>(digest->size()), 0));
  }
  return m_state->ok;
}

}  // namespace publish
