#include "publish/list_names.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "platform/code_page.h"
#include "publish/file_io.h"

namespace publish {

namespace {

constexpr uint32_t kFirstPrintable = 0x20;
constexpr uint32_t kLastPrintable = 0x7E;
constexpr uint32_t kLastControl = 0x9F;
constexpr size_t kEscapeBuffer = 16;
// Windows' ANSI code pages: single-byte, double-byte (a character's first
// byte above 0x7F) and UTF-8. In each a character beyond ASCII takes no
// byte the list or the manifest reads as a blank or a separator, but for a
// double-byte character's second.
constexpr CodePage kAnsiCodePages[] = {874,  932,  936,  949,  950,  1250, 1251, 1252,
                                       1253, 1254, 1255, 1256, 1257, 1258, 65001};
// Subfolders the launcher can write into: "locales" only, one level deep.
constexpr size_t kMaxParts = 2;

bool IsPrintableAscii(uint32_t value) {
  return value >= kFirstPrintable && value <= kLastPrintable;
}

// C0, DEL and C1: never sent to the terminal raw.
bool IsControl(uint32_t value) {
  return value < kFirstPrintable || (value > kLastPrintable && value <= kLastControl);
}

std::string Escaped(const char* format, uint32_t value) {
  char escape[kEscapeBuffer];
  std::snprintf(escape, sizeof escape, format, static_cast<unsigned>(value));
  return escape;
}

// Bytes beyond ASCII (a UTF-8 name's, whatever their value) as they are
// when `rawBeyondAscii`, else escaped; DEL and below the blank escaped.
std::string PrintableByteText(std::string_view bytes, bool rawBeyondAscii) {
  std::string text;
  for (char byte : bytes) {
    const auto value = static_cast<uint8_t>(byte);
    const bool raw = IsPrintableAscii(value) || (rawBeyondAscii && value > kLastPrintable + 1);
    text += raw ? std::string(1, byte) : Escaped("\\x%02X", value);
  }
  return text;
}

// POSIX names are bytes, Windows names UTF-16.
template <typename Native>
std::string PrintableNative(const Native& native) {
  if constexpr (sizeof(typename Native::value_type) == 1) {
    return PrintableByteText(native, true);
  } else {
    return Printable(std::u16string(native.begin(), native.end()));
  }
}

}  // namespace

// A list's code page is one of Windows' ANSI code pages (IsListCodePage).
bool CodePageBytes(std::u16string_view name, CodePage codePage, std::string* bytes) {
  return platform::EncodeExactly(codePage, name, bytes);
}

bool NameOfCodePageBytes(std::string_view bytes, CodePage codePage, std::u16string* name) {
  return platform::DecodeExactly(codePage, bytes, name);
}

ListNameEncoder EncoderOf(CodePage codePage) {
  return [codePage](std::u16string_view text, std::string* bytes) {
    return CodePageBytes(text, codePage, bytes);
  };
}

PathReading ReadingOf(CodePage codePage) {
  return {codePage,
          [codePage](std::string_view bytes, std::u16string* name) {
            return NameOfCodePageBytes(bytes, codePage, name);
          },
          platform::UpperCaseAsFileSystem};
}

std::u16string WindowsUpperCase(std::u16string_view name) {
  std::u16string upper;
  if (!platform::UpperCaseAsFileSystem(name, &upper)) UpperCaseAscii(name, &upper);
  return upper;
}

bool IsListCodePage(CodePage codePage) {
  if (std::find(std::begin(kAnsiCodePages), std::end(kAnsiCodePages), codePage) ==
      std::end(kAnsiCodePages)) {
    return false;
  }
  std::u16string ascii;
  for (uint32_t c = kFirstPrintable; c <= kLastPrintable; ++c) {
    ascii.push_back(static_cast<char16_t>(c));
  }
  std::string bytes;
  return platform::EncodeInCodePage(codePage, ascii, &bytes) &&
         bytes == std::string(ascii.begin(), ascii.end());
}

std::string ListNameProblem(std::u16string_view name, CodePage codePage) {
  if (name.empty()) return "is empty";
  const std::string codePageText = "code page " + std::to_string(codePage);
  std::string bytes;
  if (!CodePageBytes(name, codePage, &bytes)) {
    return "has no form in " + codePageText + ", in which players' Windows reads the list";
  }
  if (bytes.size() > kMaxListNameLength) {
    return "is longer than " + std::to_string(kMaxListNameLength) + " bytes in " + codePageText +
           " (" + std::to_string(bytes.size()) + ")";
  }
  if (name.find(u' ') != name.npos) return "holds a blank, which the list uses between entries";
  if (name.find(u'/') != name.npos) return "holds \"/\" (the list separates folders with \"\\\")";
  if (!IsSafeListName(name, EncoderOf(codePage))) {
    return "is not a plain relative path the launcher accepts (an empty, \".\" or \"..\" part, "
           "a part ending in a dot or blank, a control character, one of : < > \" | ? *, or a "
           "device name such as CON)";
  }
  const size_t firstSeparator = name.find(kListSeparator);
  const size_t parts =
      1 + static_cast<size_t>(std::count(name.begin(), name.end(), kListSeparator));
  if (parts > kMaxParts || (parts == kMaxParts &&
                            FoldAscii(name.substr(0, firstSeparator)) !=
                                FoldAscii(std::u16string_view(kLocalesFolderName)))) {
    return "lies in a folder other than \"locales\", the only one the launcher creates";
  }
  const auto upperCase = [](std::u16string_view text, std::u16string* upper) {
    *upper = WindowsUpperCase(text);
    return true;
  };
  if (parts == 1 && IsLauncherOwnName(name, upperCase)) {
    return "is a name the launcher uses for its own files";
  }
  const std::string_view temporarySuffix = kTemporarySuffix;
  if (EndsWithFolded(name, std::u16string(temporarySuffix.begin(), temporarySuffix.end()))) {
    return std::string("ends in \"") + kTemporarySuffix + "\", the tool's temporary names";
  }
  // A launcher built with a key fetches "X" into "X.temp": a listed
  // "X.temp" would be destroyed and never fetched again.
  if (EndsWithFolded(name, kFetchSuffix)) {
    return "ends in \"" + Printable(kFetchSuffix) +
           "\", the name the launcher gives a listed file while it downloads it";
  }
  return {};
}

bool ListNameFromPath(const std::filesystem::path& relative, std::u16string* name,
                      std::string* problem) {
  name->clear();
  for (const std::filesystem::path& part : relative) {
    std::u16string text;
    if (!NativeNameText(part, &text)) {
      *problem = "is not UTF-8 text, the encoding of the build folder's names";
      return false;
    }
    if (text.find(kListSeparator) != text.npos) {
      *problem = "holds \"\\\" in a file or folder name (the list uses it between folders)";
      return false;
    }
    if (!name->empty()) name->push_back(kListSeparator);
    *name += text;
  }
  return true;
}

bool ListText(const FileVersionMap& names, CodePage codePage, std::string* text) {
  // The list's reader gives each byte a character of its own.
  FileVersionMap bytesOfNames;
  for (const auto& [name, number] : names) {
    std::string bytes;
    if (!CodePageBytes(name, codePage, &bytes)) return false;
    std::u16string characters;
    DecodeEachByte(bytes, &characters);
    bytesOfNames.emplace(std::move(characters), number);
  }
  return FormatFileVersions(bytesOfNames, text);
}

void DecodeList(const FileVersionMap& list, CodePage codePage, FileVersionMap* names,
                std::vector<std::string>* undecodable) {
  names->clear();
  undecodable->clear();
  for (const auto& [characters, number] : list) {
    // One character a byte, as ParseFileVersions reads them.
    std::string bytes;
    for (char16_t c : characters) bytes.push_back(static_cast<char>(c));
    std::u16string name;
    if (NameOfCodePageBytes(bytes, codePage, &name)) {
      names->try_emplace(name, number);
    } else {
      undecodable->push_back(bytes);
    }
  }
}

std::filesystem::path PathBelow(const std::filesystem::path& root, std::u16string_view name,
                                CodePage codePage) {
  std::filesystem::path path = root;
  size_t start = 0;
  for (;;) {
    const size_t end = name.find(kListSeparator, start);
    const std::u16string_view part = name.substr(start, end == name.npos ? name.npos : end - start);
    std::filesystem::path native;
    if (!NativeTreeName(codePage, part, &native)) return {};
    path /= native;
    if (end == name.npos) return path;
    start = end + 1;
  }
}

std::filesystem::path TemporaryPath(const std::filesystem::path& path) {
  std::filesystem::path temporary = path;
  temporary += kTemporarySuffix;
  return temporary;
}

std::string Printable(std::u16string_view name) {
  std::string text;
  for (size_t start = 0; start < name.size();) {
    const char16_t unit = name[start];
    if (IsControl(unit) || IsPrintableAscii(unit)) {
      text += IsControl(unit) ? Escaped("\\u%04X", unit) : std::string(1, static_cast<char>(unit));
      ++start;
      continue;
    }
    size_t end = start;
    while (end < name.size() && name[end] > kLastControl) ++end;
    const std::u16string_view run = name.substr(start, end - start);
    std::string utf8;
    if (platform::EncodeInCodePage(platform::kUtf8CodePage, run, &utf8)) {
      text += utf8;
    } else {
      for (char16_t c : run) text += Escaped("\\u%04X", c);  // not text: a lone surrogate
    }
    start = end;
  }
  return text;
}

std::string PrintablePath(const std::filesystem::path& path) {
  return PrintableNative(path.native());
}

std::string PrintableBytes(std::string_view bytes) { return PrintableByteText(bytes, false); }

std::string UndecodableName(std::string_view bytes, CodePage codePage) {
  return PrintableBytes(bytes) + ", which is no name in code page " + std::to_string(codePage);
}

}  // namespace publish
