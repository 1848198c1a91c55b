#include "platform/code_page.h"

#include <limits>

#include "platform/win32.h"

namespace platform {

static_assert(kUtf8CodePage == CP_UTF8);

namespace {
constexpr size_t kMaxConvertedUnits = std::numeric_limits<int>::max();
}  // namespace

bool EncodeInCodePage(uint32_t codePage, std::u16string_view text, std::string* bytes) {
  bytes->clear();
  if (text.empty()) return true;
  if (text.size() > kMaxConvertedUnits) return false;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int units = static_cast<int>(text.size());
  // No best fit: it turns characters into others, "\" among them. UTF-8
  // takes neither that flag nor a default character.
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
  const int size =
      ::WideCharToMultiByte(codePage, flags, wide, units, nullptr, 0, nullptr, usedDefaultOut);
  if (size <= 0 || usedDefault) return false;
  bytes->resize(static_cast<size_t>(size));
  return ::WideCharToMultiByte(codePage, flags, wide, units, bytes->data(), size, nullptr,
                               usedDefaultOut) == size &&
         !usedDefault;
}

bool DecodeFromCodePage(uint32_t codePage, std::string_view bytes, std::u16string* text) {
  text->clear();
  if (bytes.empty()) return true;
  if (bytes.size() > kMaxConvertedUnits) return false;
  const int length = static_cast<int>(bytes.size());
  const int units =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (units <= 0) return false;
  text->resize(static_cast<size_t>(units));
  return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length,
                               reinterpret_cast<wchar_t*>(text->data()), units) == units;
}

bool UpperCaseAsFileSystem(std::u16string_view text, std::u16string* upper) {
  upper->assign(text);
  if (text.empty()) return true;
  if (text.size() > kMaxConvertedUnits) return false;
  const int units = static_cast<int>(text.size());
  // Without LCMAP_LINGUISTIC_CASING the mapping is the file system's, one
  // unit for one.
  return ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE,
                         reinterpret_cast<const wchar_t*>(text.data()), units,
                         reinterpret_cast<wchar_t*>(upper->data()), units, nullptr, nullptr,
                         0) == units;
}

}  // namespace platform
