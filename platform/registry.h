#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

// Keys under HKEY_LOCAL_MACHINE, always opened and created with
// KEY_ALL_ACCESS.
namespace platform {

inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;

// Owns one open key; closed on destruction. Move-only so a key is never
// closed twice.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&& other) noexcept : m_handle(other.m_handle) { other.m_handle = 0; }
  RegistryKey& operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
      Reset(other.m_handle);
      other.m_handle = 0;
    }
    return *this;
  }
  ~RegistryKey() { Reset(); }

  bool IsOpen() const { return m_handle != 0; }
  uintptr_t Handle() const { return m_handle; }
  // Closes the key held (each backend its own way) and takes another.
  void Reset(uintptr_t handle = 0);

 private:
  uintptr_t m_handle = 0;
};

// RegOpenKeyExW(HKLM, subKey, 0, KEY_ALL_ACCESS).
bool OpenMachineKey(const std::u16string& subKey, RegistryKey* key);
// RegCreateKeyExW(HKLM, subKey, 0, className, options 0, KEY_ALL_ACCESS, no
// security attributes); the disposition is not asked for.
bool CreateMachineKey(const std::u16string& subKey, const std::u16string& className,
                      RegistryKey* key);
// RegQueryValueExW into data with *bytes its size on entry; on success *type
// and *bytes describe what was stored.
bool QueryValue(const RegistryKey& key, const std::u16string& name, uint32_t* type,
                uint8_t* data, uint32_t* bytes);
// RegSetValueExW with the given type and bytes.
bool SetValue(const RegistryKey& key, const std::u16string& name, uint32_t type,
              const uint8_t* data, uint32_t bytes);

}  // namespace platform
