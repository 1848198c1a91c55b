#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text in Windows' code pages, by their numbers (950: Traditional Chinese,
// Big5; 65001: UTF-8), converted by the system's own tables in both builds
// (WideCharToMultiByte on Windows, iconv elsewhere): the simulated machine
// has nothing to simulate there. The publishing tool writes names in the
// players' code page with it, and the launcher reads them back.
namespace platform {

inline constexpr uint32_t kUtf8CodePage = 65001;

// No best fit and no default character: false when a character (or a byte
// sequence) has no form in the other encoding, or the system does not know
// the code page.
bool EncodeInCodePage(uint32_t codePage, std::u16string_view text, std::string* bytes);
bool DecodeFromCodePage(uint32_t codePage, std::string_view bytes, std::u16string* text);

// In one of Windows' ANSI code pages, where ASCII is ASCII: the form of a
// text that decodes to it again, and the text of bytes that are its own
// form again. A code page may give one character two forms, or a
// character a form that reads back as another; neither names a file the
// same way on both sides.
bool EncodeExactly(uint32_t codePage, std::u16string_view text, std::string* bytes);
bool DecodeExactly(uint32_t codePage, std::string_view bytes, std::u16string* text);

// Windows takes two names for one file when they are the same once each
// UTF-16 unit is upper-cased by the file system's table (its simple
// upper-case mapping, letters beyond ASCII too): this is that upper case,
// by the system's own data (LCMapString's file-system casing on Windows,
// glibc's Unicode tables in its UTF-8 C locale elsewhere). False when the
// system cannot give it.
bool UpperCaseAsFileSystem(std::u16string_view text, std::u16string* upper);

}  // namespace platform
