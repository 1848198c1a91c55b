#include "release/version_files.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "release/release_files.h"

namespace {

constexpr int kEndOfInput = -1;
// Ctrl-Z, the end of a text file for the Windows C runtime.
constexpr int kTextEnd = 0x1A;
constexpr size_t kReadChunkBytes = 4096;
constexpr uint32_t kDecimalBase = 10;
constexpr char16_t kLastByteValue = 0xFF;
constexpr char16_t kLastAscii = 0x7F;
// Control characters: C0, DEL and C1.
constexpr char16_t kFirstPrintable = 0x20;
constexpr char16_t kDelete = 0x7F;
constexpr char16_t kLastControl = 0x9F;
// A byte that is no text in the list's code page is kept as this low
// surrogate plus its value.
constexpr char16_t kUndecodedByteBase = 0xDC00;

// The bytes of a text in memory or of a stream, one at a time, with one byte
// of look-ahead. Byte 0x1A ends the input, as a text-mode stream on Windows
// ends it; a byte beyond the limit ends it too and is remembered.
class ByteSource {
 public:
  ByteSource(std::string_view text, size_t limit) : m_pending(text), m_limit(limit) {}
  ByteSource(std::FILE* file, size_t limit) : m_file(file), m_limit(limit) {}
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // The next byte (0 to 255) without taking it, or kEndOfInput.
  int Peek() {
    if (m_pending.empty() && !Refill()) return kEndOfInput;
    const int c = static_cast<unsigned char>(m_pending.front());
    if (c == kTextEnd) return kEndOfInput;
    if (m_taken == m_limit) {
      m_overLimit = true;
      return kEndOfInput;
    }
    return c;
  }
  void Take() {
    m_pending.remove_prefix(1);
    ++m_taken;
  }
  // Takes what is left before the end of the input, to learn whether the
  // input stays within the limit.
  void SkipRest() {
    while (Peek() != kEndOfInput) Take();
  }
  bool OverLimit() const { return m_overLimit; }

 private:
  bool Refill() {
    if (m_file == nullptr) return false;
    // A read error ends the input like the end of the file does.
    const size_t read = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
    m_pending = std::string_view(m_buffer.data(), read);
    return read != 0;
  }

  std::FILE* m_file = nullptr;
  std::array<char, kReadChunkBytes> m_buffer{};
  std::string_view m_pending;
  size_t m_limit;
  size_t m_taken = 0;
  bool m_overLimit = false;
};

// White space as the C locale defines it: blank, \t, \n, \v, \f, \r.
bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

void SkipSpace(ByteSource& in) {
  while (IsSpace(in.Peek())) in.Take();
}

// A signed decimal number as "%d" reads it, kept modulo 2^32. A sign
// without a digit after it is used up, as it is by scanf.
bool ScanNumber(ByteSource& in, int32_t* value) {
  SkipSpace(in);
  bool negative = false;
  if (in.Peek() == '+' || in.Peek() == '-') {
    negative = in.Peek() == '-';
    in.Take();
  }
  if (!IsDigit(in.Peek())) return false;
  uint32_t magnitude = 0;
  for (int c = in.Peek(); IsDigit(c); c = in.Peek()) {
    magnitude = magnitude * kDecimalBase + static_cast<uint32_t>(c - '0');
    in.Take();
  }
  *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return true;
}

// A run of bytes that are not white space. Beyond kMaxListNameLength + 1
// bytes the run is skipped, which keeps a hostile name from filling the
// memory while the name stays too long to be used.
bool ScanName(ByteSource& in, std::string* name) {
  SkipSpace(in);
  name->clear();
  for (int c = in.Peek(); c != kEndOfInput && !IsSpace(c); c = in.Peek()) {
    if (name->size() <= kMaxListNameLength) name->push_back(static_cast<char>(c));
    in.Take();
  }
  return !name->empty();
}

std::u16string NameOfBytes(std::string_view bytes, const ListNameDecoder& decode) {
  std::u16string name;
  if (decode(bytes, &name)) return name;
  name.clear();
  for (const char byte : bytes) {
    name.push_back(static_cast<char16_t>(kUndecodedByteBase + static_cast<unsigned char>(byte)));
  }
  return name;
}

bool ScanVersionRecord(ByteSource& in, int32_t* first, int32_t* second) {
  int32_t readFirst = *first;
  int32_t readSecond = *second;
  if (ScanNumber(in, &readFirst)) ScanNumber(in, &readSecond);
  in.SkipRest();
  if (in.OverLimit()) return false;
  *first = readFirst;
  *second = readSecond;
  return true;
}

bool ScanFileVersions(ByteSource& in, FileVersionMap* map, const ListNameDecoder& decode) {
  map->clear();
  // Deliberately not reset per pair: a pair without a number takes the one
  // before it.
  int32_t number = 0;
  size_t pairs = 0;
  std::string name;
  while (ScanName(in, &name)) {
    ScanNumber(in, &number);
    if (++pairs > kMaxListEntries) break;
    map->try_emplace(NameOfBytes(name, decode), static_cast<uint32_t>(number));
  }
  if (pairs <= kMaxListEntries && !in.OverLimit()) return true;
  map->clear();
  return false;
}

// Any character but controls and those Windows reserves; whether a wider
// one reaches the file system unchanged is the code page's to say.
bool IsAllowedNameChar(char16_t c) {
  if (c < kFirstPrintable || (c >= kDelete && c <= kLastControl)) return false;
  return std::u16string_view(u":<>\"|?*").find(c) == std::u16string_view::npos;
}

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
  return FoldAscii(a) == FoldAscii(b);
}

// Windows opens these devices in every folder, whatever extension follows
// and with blanks before the extension ignored.
bool IsDeviceName(std::u16string_view component) {
  std::u16string_view base = component.substr(0, component.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  for (std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (EqualsIgnoreAsciiCase(base, device)) return true;
  }
  constexpr size_t kNumberedDeviceLength = 4;  // COM1 to COM9, LPT1 to LPT9
  if (base.size() != kNumberedDeviceLength) return false;
  // Windows takes the superscript digits (COM¹) for device numbers too.
  const char16_t number = base[3];
  if ((number < u'1' || number > u'9') &&
      std::u16string_view(u"\u00B9\u00B2\u00B3").find(number) == std::u16string_view::npos) {
    return false;
  }
  const std::u16string_view prefix = base.substr(0, 3);
  return EqualsIgnoreAsciiCase(prefix, u"COM") || EqualsIgnoreAsciiCase(prefix, u"LPT");
}

bool IsSafeComponent(std::u16string_view component) {
  if (component.empty()) return false;
  // Windows drops a trailing dot or blank, so "x." would write "x"; this
  // also refuses "." and "..".
  if (component.back() == u'.' || component.back() == u' ') return false;
  for (char16_t c : component) {
    if (!IsAllowedNameChar(c)) return false;
  }
  return !IsDeviceName(component);
}

}  // namespace

bool ParseVersionRecord(std::string_view text, int32_t* first, int32_t* second) {
  ByteSource in(text, kMaxRecordBytes);
  return ScanVersionRecord(in, first, second);
}

std::string FormatVersionRecord(int32_t first, int32_t second) {
  return std::to_string(first) + "\r\n" + std::to_string(second);
}

bool DecodeEachByte(std::string_view bytes, std::u16string* text) {
  text->clear();
  for (const char byte : bytes) text->push_back(static_cast<unsigned char>(byte));
  return true;
}

bool ParseFileVersions(std::string_view text, FileVersionMap* map,
                       const ListNameDecoder& decode) {
  ByteSource in(text, kMaxListBytes);
  return ScanFileVersions(in, map, decode);
}

bool ReadFileVersions(std::FILE* file, FileVersionMap* map, const ListNameDecoder& decode) {
  ByteSource in(file, kMaxListBytes);
  return ScanFileVersions(in, map, decode);
}

bool FormatFileVersions(const FileVersionMap& map, std::string* text) {
  text->clear();
  if (map.size() > kMaxListEntries) return false;
  for (const auto& [name, number] : map) {
    if (name.empty() || name.size() > kMaxListNameLength) return false;
    for (char16_t c : name) {
      if (c > kLastByteValue || c == kTextEnd || IsSpace(c)) return false;
      text->push_back(static_cast<char>(c));
    }
    *text += ' ';
    *text += std::to_string(static_cast<int32_t>(number));
    *text += "\r\n";
  }
  return text->size() <= kMaxListBytes;
}

bool EncodeAscii(std::u16string_view text, std::string* bytes) {
  bytes->clear();
  for (char16_t c : text) {
    if (c > kLastAscii) return false;
    bytes->push_back(static_cast<char>(c));
  }
  return true;
}

bool IsSafeListName(std::u16string_view name, const ListNameEncoder& encode) {
  // Every character takes a byte at least.
  std::string bytes;
  return name.size() <= kMaxListNameLength && encode(name, &bytes) &&
         bytes.size() <= kMaxListNameLength && IsSafeListNameText(name);
}

bool IsSafeListNameText(std::u16string_view name) {
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < name.size() && !IsPathSeparator(name[end])) ++end;
    if (!IsSafeComponent(name.substr(start, end - start))) return false;
    if (end == name.size()) return true;
    start = end + 1;
  }
}

bool UpperCaseAscii(std::u16string_view name, std::u16string* upper) {
  upper->assign(name);
  for (char16_t& c : *upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return true;
}

std::u16string WideServerPathOfListName(std::u16string_view name) {
  std::u16string path(name);
  std::replace(path.begin(), path.end(), kListSeparator, kServerPathSeparator);
  return path;
}

std::u16string ListNameOfServerPath(std::string_view serverPath, const ListNameDecoder& decode) {
  // Turned back on the text, as WideServerPathOfListName turns it.
  std::u16string name = NameOfBytes(serverPath, decode);
  std::replace(name.begin(), name.end(), kServerPathSeparator, kListSeparator);
  return name;
}

std::vector<std::u16string> SelectChangedFiles(const FileVersionMap& server,
                                               const FileVersionMap& local) {
  std::vector<std::u16string> changed;
  for (const auto& [name, serverNumber] : server) {
    const auto found = local.find(name);
    if (found == local.end() || found->second < serverNumber) changed.push_back(name);
  }
  return changed;
}
