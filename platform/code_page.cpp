#include "platform/code_page.h"

#include <algorithm>

namespace platform {

namespace {

constexpr char16_t kLastAscii = 0x7F;

bool IsAscii(char16_t c) { return c <= kLastAscii; }

}  // namespace

// ASCII needs no conversion, which spares most names a round trip through
// the system.
bool EncodeExactly(uint32_t codePage, std::u16string_view text, std::string* bytes) {
  if (std::all_of(text.begin(), text.end(), IsAscii)) {
    bytes->assign(text.begin(), text.end());
    return true;
  }
  std::u16string back;
  return EncodeInCodePage(codePage, text, bytes) && DecodeFromCodePage(codePage, *bytes, &back) &&
         back == text;
}

bool DecodeExactly(uint32_t codePage, std::string_view bytes, std::u16string* text) {
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char byte) { return IsAscii(static_cast<unsigned char>(byte)); })) {
    text->assign(bytes.begin(), bytes.end());
    return true;
  }
  std::string back;
  return DecodeFromCodePage(codePage, bytes, text) && EncodeInCodePage(codePage, *text, &back) &&
         back == bytes;
}

}  // namespace platform
