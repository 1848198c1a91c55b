#include "platform/crypto.h"

#include "platform/system_library.h"
#include "platform/unique_owner.h"

// After windows.h (win32.h): bcrypt.h relies on its types.
#include <bcrypt.h>

#include <cstring>
#include <limits>

namespace platform {

namespace {

// The CNG calls the launcher makes, taken from the system folder's
// bcrypt.dll on first use.
struct BcryptApi {
  NTSTATUS(WINAPI* OpenAlgorithmProvider)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
  NTSTATUS(WINAPI* CloseAlgorithmProvider)(BCRYPT_ALG_HANDLE, ULONG);
  NTSTATUS(WINAPI* CreateHash)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR,
                               ULONG, ULONG);
  NTSTATUS(WINAPI* HashData)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* FinishHash)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* DestroyHash)(BCRYPT_HASH_HANDLE);
  NTSTATUS(WINAPI* ImportKeyPair)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR,
                                  BCRYPT_KEY_HANDLE*, PUCHAR, ULONG, ULONG);
  NTSTATUS(WINAPI* DestroyKey)(BCRYPT_KEY_HANDLE);
  NTSTATUS(WINAPI* VerifySignature)(BCRYPT_KEY_HANDLE, void*, PUCHAR, ULONG, PUCHAR, ULONG,
                                    ULONG);
  NTSTATUS(WINAPI* GenRandom)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
};

bool LoadBcrypt(BcryptApi* api) {
  const HMODULE module = LoadSystemLibrary(L"bcrypt.dll");
  return module && ResolveProc(module, "BCryptOpenAlgorithmProvider", &api->OpenAlgorithmProvider) &&
         ResolveProc(module, "BCryptCloseAlgorithmProvider", &api->CloseAlgorithmProvider) &&
         ResolveProc(module, "BCryptCreateHash", &api->CreateHash) &&
         ResolveProc(module, "BCryptHashData", &api->HashData) &&
         ResolveProc(module, "BCryptFinishHash", &api->FinishHash) &&
         ResolveProc(module, "BCryptDestroyHash", &api->DestroyHash) &&
         ResolveProc(module, "BCryptImportKeyPair", &api->ImportKeyPair) &&
         ResolveProc(module, "BCryptDestroyKey", &api->DestroyKey) &&
         ResolveProc(module, "BCryptVerifySignature", &api->VerifySignature) &&
         ResolveProc(module, "BCryptGenRandom", &api->GenRandom);
}

// Null when bcrypt.dll or one of its calls is missing.
const BcryptApi* Bcrypt() {
  static BcryptApi api;
  static const bool loaded = LoadBcrypt(&api);
  return loaded ? &api : nullptr;
}

bool Succeeded(NTSTATUS status) { return status >= 0; }

// Handles exist only once Bcrypt() has loaded.
struct ProviderTraits : PointerTraits<void> {
  static void Close(BCRYPT_ALG_HANDLE provider) { Bcrypt()->CloseAlgorithmProvider(provider, 0); }
};
struct HashTraits : PointerTraits<void> {
  static void Close(BCRYPT_HASH_HANDLE hash) { Bcrypt()->DestroyHash(hash); }
};
struct KeyTraits : PointerTraits<void> {
  static void Close(BCRYPT_KEY_HANDLE key) { Bcrypt()->DestroyKey(key); }
};
using UniqueProvider = UniqueOwner<ProviderTraits>;

UniqueProvider OpenProvider(const wchar_t* algorithm) {
  UniqueProvider provider;
  // A failed call's handle is not one to close.
  if (Bcrypt() &&
      !Succeeded(Bcrypt()->OpenAlgorithmProvider(provider.Receive(), algorithm, nullptr, 0))) {
    static_cast<void>(provider.release());
  }
  return provider;
}

}  // namespace

struct Sha256::State {
  UniqueProvider provider;
  UniqueOwner<HashTraits> hash;
  bool ok = false;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
  m_state->provider = OpenProvider(BCRYPT_SHA256_ALGORITHM);
  if (!m_state->provider) return;
  // Since Windows 7 CNG allocates the hash object itself when given none.
  m_state->ok = Succeeded(Bcrypt()->CreateHash(m_state->provider.get(), m_state->hash.Receive(),
                                                 nullptr, 0, nullptr, 0, 0));
  if (!m_state->ok) static_cast<void>(m_state->hash.release());
}

Sha256::~Sha256() = default;

bool Sha256::Update(const void* data, size_t size) {
  // BCryptHashData takes a byte count of 32 bits; larger pieces go in parts.
  constexpr size_t kMaxPiece = std::numeric_limits<ULONG>::max();
  const auto* bytes = static_cast<const UCHAR*>(data);
  while (m_state->ok && size > 0) {
    const size_t piece = size < kMaxPiece ? size : kMaxPiece;
    m_state->ok = Succeeded(Bcrypt()->HashData(m_state->hash.get(), const_cast<UCHAR*>(bytes),
                                               static_cast<ULONG>(piece), 0));
    bytes += piece;
    size -= piece;
  }
  return m_state->ok;
}

bool Sha256::Finish(Sha256Digest* digest) {
  if (m_state->ok) {
    m_state->ok = Succeeded(Bcrypt()->FinishHash(m_state->hash.get(), digest->data(),
                                                 static_cast<ULONG>(digest->size()), 0));
  }
  return m_state->ok;
}

bool VerifyP256Sha256(const P256PublicKey& key, const Sha256Digest& digest,
                      const P256Signature& signature) {
  const UniqueProvider provider = OpenProvider(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!provider) return false;
  // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kP256CoordinateBytes];
  const BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kP256CoordinateBytes};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.x.data(), kP256CoordinateBytes);
  std::memcpy(blob + sizeof header + kP256CoordinateBytes, key.y.data(), kP256CoordinateBytes);
  UniqueOwner<KeyTraits> publicKey;
  if (!Succeeded(Bcrypt()->ImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                         publicKey.Receive(), blob, sizeof blob, 0))) {
    static_cast<void>(publicKey.release());
    return false;
  }
  // CNG takes the signature as r followed by s, as it is kept.
  P256Signature copy = signature;
  Sha256Digest hashed = digest;
  return Succeeded(Bcrypt()->VerifySignature(publicKey.get(), nullptr, hashed.data(),
                                             static_cast<ULONG>(hashed.size()), copy.data(),
                                             static_cast<ULONG>(copy.size()), 0));
}

bool RandomBytes(void* buffer, size_t size) {
  // The system's preferred generator needs no provider of our own.
  return Bcrypt() && size <= std::numeric_limits<ULONG>::max() &&
         Succeeded(Bcrypt()->GenRandom(nullptr, static_cast<PUCHAR>(buffer),
                                       static_cast<ULONG>(size),
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace platform
