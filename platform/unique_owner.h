#pragma once

#include <cstdio>
#include <type_traits>
#include <utility>

// The one owner of handles and objects that must be released: files, keys,
// kernel handles, COM interfaces, GDI objects, transfers. Move-only, so a
// handle is never released twice. Traits say what is owned:
//
//   struct Traits {
//     using Handle = ...;
//     static Handle Empty();              // the value that owns nothing
//     static bool IsValid(Handle handle); // false for every empty value
//     static void Close(Handle handle);   // called for valid handles only
//   };
namespace platform {

template <typename Traits>
class UniqueOwner {
 public:
  using Handle = typename Traits::Handle;

  UniqueOwner() = default;
  explicit UniqueOwner(Handle handle) : m_handle(handle) {}
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept : m_handle(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueOwner() { reset(); }

  explicit operator bool() const { return Traits::IsValid(m_handle); }
  Handle get() const { return m_handle; }
  Handle operator->() const
    requires std::is_pointer_v<Handle>
  {
    return m_handle;
  }

  // Hands the handle over to the caller, who releases it from then on.
  [[nodiscard]] Handle release() { return std::exchange(m_handle, Traits::Empty()); }
  // Releases what is held and takes `handle` instead.
  void reset(Handle handle = Traits::Empty()) {
    const Handle old = std::exchange(m_handle, handle);
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // For calls that hand out a new handle through a pointer; whatever was
  // held is released first.
  Handle* Receive() {
    reset();
    return &m_handle;
  }

 private:
  Handle m_handle = Traits::Empty();
};

// Traits of a handle that is a pointer, null when empty.
template <typename T>
struct PointerTraits {
  using Handle = T*;
  static constexpr Handle Empty() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr; }
};

struct FileTraits : PointerTraits<std::FILE> {
  static void Close(std::FILE* file) { std::fclose(file); }
};

}  // namespace platform
