#include "platform/registry.h"

#include "platform/win32.h"

namespace platform {

static_assert(kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ);

namespace {
HKEY AsKey(uintptr_t handle) { return reinterpret_cast<HKEY>(handle); }
}  // namespace

void RegistryKeyTraits::Close(uintptr_t handle) { ::RegCloseKey(AsKey(handle)); }

// Registry calls return their error code and leave the thread's last error
// alone, so each result is taken from the return value.
bool OpenMachineKey(const std::u16string& subKey, RegistryKey* key) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(subKey), 0, KEY_ALL_ACCESS, &handle) !=
      ERROR_SUCCESS) {
    return false;
  }
  key->reset(reinterpret_cast<uintptr_t>(handle));
  return true;
}

bool CreateMachineKey(const std::u16string& subKey, const std::u16string& className,
                      RegistryKey* key) {
  HKEY handle = nullptr;
  std::u16string writableClass = className;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(subKey), 0,
                        reinterpret_cast<wchar_t*>(writableClass.data()), REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  key->reset(reinterpret_cast<uintptr_t>(handle));
  return true;
}

bool QueryValue(const RegistryKey& key, const std::u16string& name, uint32_t* type,
                uint8_t* data, uint32_t* bytes) {
  DWORD valueType = 0;
  DWORD size = *bytes;
  if (::RegQueryValueExW(AsKey(key.get()), W(name), nullptr, &valueType, data, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  *type = valueType;
  *bytes = size;
  return true;
}

bool SetValue(const RegistryKey& key, const std::u16string& name, uint32_t type,
              const uint8_t* data, uint32_t bytes) {
  return ::RegSetValueExW(AsKey(key.get()), W(name), 0, type, data, bytes) == ERROR_SUCCESS;
}

}  // namespace platform
