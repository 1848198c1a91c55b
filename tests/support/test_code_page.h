#pragma once

#include <map>
#include <string>
#include <string_view>

// A few characters of code page 950 as a launcher's conversion gives them,
// for the release formats' rules, which take the conversion as a parameter.
// 許 and 功 end in the byte of "\", 四 in that of "|".
inline bool EncodeTestCodePage(std::u16string_view text, std::string* bytes) {
  static const std::map<char16_t, std::string_view> kForms = {
      {u'\u8A31', "\xB3\x5C"}, {u'\u529F', "\xA5\x5C"}, {u'\u56DB', "\xA5\x7C"},
      {u'\u8AAA', "\xBB\xA1"}, {u'\u660E', "\xA9\xFA"}};
  constexpr char16_t kFirstWide = 0x80;
  bytes->clear();
  for (char16_t c : text) {
    if (c < kFirstWide) {
      bytes->push_back(static_cast<char>(c));
      continue;
    }
    const auto form = kForms.find(c);
    if (form == kForms.end()) return false;
    bytes->append(form->second);
  }
  return true;
}
