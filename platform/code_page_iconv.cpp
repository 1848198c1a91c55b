#include "platform/code_page.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <bit>
#include <cstring>

#include "platform/unique_owner.h"

namespace platform {

namespace {

// The most bytes a UTF-16 unit takes in any code page, and a character of
// a code page in UTF-16 units; with room for a shift sequence at the end.
constexpr size_t kMaxBytesPerUnit = 4;
constexpr size_t kMaxUnitsPerByte = 2;
constexpr size_t kShiftBytes = 8;
static_assert(std::endian::native == std::endian::little, "char16_t text is UTF-16LE");
constexpr char kUtf16[] = "UTF-16LE";
constexpr size_t kIconvFailed = static_cast<size_t>(-1);
// glibc's built-in UTF-8 locale: its case mappings are Unicode's.
constexpr char kUnicodeLocale[] = "C.UTF-8";
constexpr wint_t kLastUtf16Unit = 0xFFFF;

struct IconvTraits {
  using Handle = iconv_t;
  static Handle Empty() { return reinterpret_cast<iconv_t>(-1); }
  static bool IsValid(Handle handle) { return handle != Empty(); }
  static void Close(Handle handle) { iconv_close(handle); }
};

struct LocaleTraits {
  using Handle = locale_t;
  static Handle Empty() { return static_cast<locale_t>(nullptr); }
  static bool IsValid(Handle handle) { return handle != Empty(); }
  static void Close(Handle handle) { freelocale(handle); }
};

std::string IconvName(uint32_t codePage) {
  return codePage == kUtf8CodePage ? "UTF-8" : "CP" + std::to_string(codePage);
}

// Without //TRANSLIT iconv stops at a character it cannot convert; one it
// converts only approximately is counted, and refused here.
bool Convert(const std::string& to, const std::string& from, std::string_view in, size_t limit,
             std::string* out) {
  const UniqueOwner<IconvTraits> converter(iconv_open(to.c_str(), from.c_str()));
  if (!converter) return false;
  out->assign(limit, '\0');
  char* inNext = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char* outNext = out->data();
  size_t outLeft = out->size();
  if (iconv(converter.get(), &inNext, &inLeft, &outNext, &outLeft) != 0 ||
      iconv(converter.get(), nullptr, nullptr, &outNext, &outLeft) == kIconvFailed) {
    return false;
  }
  out->resize(out->size() - outLeft);
  return true;
}

}  // namespace

bool EncodeInCodePage(uint32_t codePage, std::u16string_view text, std::string* bytes) {
  const std::string_view units(reinterpret_cast<const char*>(text.data()),
                               text.size() * sizeof(char16_t));
  return Convert(IconvName(codePage), kUtf16, units, text.size() * kMaxBytesPerUnit + kShiftBytes,
                 bytes);
}

bool DecodeFromCodePage(uint32_t codePage, std::string_view bytes, std::u16string* text) {
  std::string units;
  if (!Convert(kUtf16, IconvName(codePage), bytes,
               bytes.size() * kMaxUnitsPerByte * sizeof(char16_t), &units)) {
    return false;
  }
  text->resize(units.size() / sizeof(char16_t));
  std::memcpy(text->data(), units.data(), text->size() * sizeof(char16_t));
  return true;
}

bool UpperCaseAsFileSystem(std::u16string_view text, std::u16string* upper) {
  // A locale of its own, so the process's locale is left as it is.
  static const UniqueOwner<LocaleTraits> unicode(
      newlocale(LC_CTYPE_MASK, kUnicodeLocale, LocaleTraits::Empty()));
  if (!unicode) return false;
  upper->assign(text);
  for (char16_t& unit : *upper) {
    const wint_t mapped = towupper_l(unit, unicode.get());
    // Unit by unit, as Windows maps them: a surrogate stays itself.
    if (mapped <= kLastUtf16Unit) unit = static_cast<char16_t>(mapped);
  }
  return true;
}

}  // namespace platform
