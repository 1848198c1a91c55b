#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "release/release_manifest.h"

// A few characters of code page 950 as a launcher's conversion gives them,
// for the release formats' rules, which take the conversion as a parameter.
// 許 and 功 end in the byte of "\", 四 in that of "|".
inline const std::map<char16_t, std::string_view>& TestCodePageForms() {
  static const std::map<char16_t, std::string_view> kForms = {
      {u'\u8A31', "\xB3\x5C"}, {u'\u529F', "\xA5\x5C"}, {u'\u56DB', "\xA5\x7C"},
      {u'\u8AAA', "\xBB\xA1"}, {u'\u660E', "\xA9\xFA"}};
  return kForms;
}
inline constexpr char16_t kTestCodePageFirstWide = 0x80;

inline bool EncodeTestCodePage(std::u16string_view text, std::string* bytes) {
  bytes->clear();
  for (char16_t c : text) {
    if (c < kTestCodePageFirstWide) {
      bytes->push_back(static_cast<char>(c));
      continue;
    }
    const auto form = TestCodePageForms().find(c);
    if (form == TestCodePageForms().end()) return false;
    bytes->append(form->second);
  }
  return true;
}

// The other way; a byte above 0x7F begins a character of two bytes.
inline bool DecodeTestCodePage(std::string_view bytes, std::u16string* text) {
  text->clear();
  for (size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < kTestCodePageFirstWide) {
      text->push_back(byte);
      ++i;
      continue;
    }
    const std::string_view form = bytes.substr(i, 2);
    const auto found = std::find_if(TestCodePageForms().begin(), TestCodePageForms().end(),
                                    [&](const auto& entry) { return entry.second == form; });
    if (found == TestCodePageForms().end()) return false;
    text->push_back(found->first);
    i += form.size();
  }
  return true;
}

// How a launcher on a Traditional Chinese Windows reads a signed manifest's
// paths: the system's own code page 950 and upper case.
inline constexpr uint32_t kCp950 = 950;
inline PathReading Cp950Reading() {
  return {kCp950,
          [](std::string_view bytes, std::u16string* name) {
            return platform::DecodeExactly(kCp950, bytes, name);
          },
          platform::UpperCaseAsFileSystem};
}
