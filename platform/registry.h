#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"
#include "platform/unique_owner.h"

// Keys under HKEY_LOCAL_MACHINE, always opened and created with
// KEY_ALL_ACCESS.
namespace platform {

inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;

// One open key, closed by the owner (each backend its own way).
struct RegistryKeyTraits {
  using Handle = uintptr_t;
  static constexpr Handle Empty() { return 0; }
  static bool IsValid(Handle handle) { return handle != 0; }
  static void Close(Handle handle);
};
using RegistryKey = UniqueOwner<RegistryKeyTraits>;

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
