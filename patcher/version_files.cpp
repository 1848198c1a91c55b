#include "patcher/version_files.h"

#include <array>
#include <cstddef>

namespace {

constexpr int kEndOfInput = -1;
constexpr size_t kReadChunkBytes = 4096;
constexpr uint32_t kDecimalBase = 10;
constexpr char16_t kLastByteValue = 0xFF;
constexpr char16_t kFirstPrintableAscii = 0x20;
constexpr char16_t kLastPrintableAscii = 0x7E;

// The bytes of a text in memory or of a stream, one at a time, with one byte
// of look-ahead.
class ByteSource {
 public:
  explicit ByteSource(std::string_view text) : m_pending(text) {}
  explicit ByteSource(std::FILE* file) : m_file(file) {}
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // The next byte (0 to 255) without taking it, or kEndOfInput.
  int Peek() {
    if (m_pending.empty() && !Refill()) return kEndOfInput;
    return static_cast<unsigned char>(m_pending.front());
  }
  void Take() { m_pending.remove_prefix(1); }

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

// A run of bytes that are not white space, each becoming the character of
// the same value; as long as it is, so a long name is never cut in two.
bool ScanName(ByteSource& in, std::u16string* name) {
  SkipSpace(in);
  name->clear();
  for (int c = in.Peek(); c != kEndOfInput && !IsSpace(c); c = in.Peek()) {
    name->push_back(static_cast<char16_t>(c));
    in.Take();
  }
  return !name->empty();
}

void ScanVersionRecord(ByteSource& in, int32_t* first, int32_t* second) {
  if (ScanNumber(in, first)) ScanNumber(in, second);
}

void ScanFileVersions(ByteSource& in, FileVersionMap* map) {
  map->clear();
  // Deliberately not reset per pair: a pair without a number takes the one
  // before it.
  int32_t number = 0;
  std::u16string name;
  while (ScanName(in, &name)) {
    ScanNumber(in, &number);
    map->try_emplace(name, static_cast<uint32_t>(number));
  }
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Printable ASCII only: a wider character goes through the machine's ANSI
// code page on its way to the file system, and a best-fit mapping there can
// turn it into a separator (the yen sign becomes "\" in code page 932).
bool IsAllowedNameChar(char16_t c) {
  if (c < kFirstPrintableAscii || c > kLastPrintableAscii) return false;
  return std::u16string_view(u":<>\"|?*").find(c) == std::u16string_view::npos;
}

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
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
  if (base.size() != kNumberedDeviceLength || base[3] < u'1' || base[3] > u'9') return false;
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

void ParseVersionRecord(std::string_view text, int32_t* first, int32_t* second) {
  ByteSource in(text);
  ScanVersionRecord(in, first, second);
}

void ReadVersionRecord(std::FILE* file, int32_t* first, int32_t* second) {
  ByteSource in(file);
  ScanVersionRecord(in, first, second);
}

std::string FormatVersionRecord(int32_t first, int32_t second) {
  return std::to_string(first) + "\r\n" + std::to_string(second);
}

void ParseFileVersions(std::string_view text, FileVersionMap* map) {
  ByteSource in(text);
  ScanFileVersions(in, map);
}

void ReadFileVersions(std::FILE* file, FileVersionMap* map) {
  ByteSource in(file);
  ScanFileVersions(in, map);
}

bool FormatFileVersions(const FileVersionMap& map, std::string* text) {
  text->clear();
  for (const auto& [name, number] : map) {
    if (name.empty()) return false;
    for (char16_t c : name) {
      if (c > kLastByteValue || IsSpace(c)) return false;
      text->push_back(static_cast<char>(c));
    }
    *text += ' ';
    *text += std::to_string(static_cast<int32_t>(number));
    *text += "\r\n";
  }
  return true;
}

bool IsSafeListName(std::u16string_view name) {
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (!IsSafeComponent(name.substr(start, end - start))) return false;
    if (end == name.size()) return true;
    start = end + 1;
  }
}
