#include "publish/sha256.h"

namespace publish {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr int kBitsPerHexDigit = 4;
constexpr uint8_t kLowNibble = 0x0F;
constexpr int kNotHex = -1;
constexpr int kTen = 10;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + kTen;
  if (c >= 'A' && c <= 'F') return c - 'A' + kTen;
  return kNotHex;
}

}  // namespace

std::string ToHex(const Sha256Digest& digest) {
  std::string text;
  text.reserve(2 * digest.size());
  for (uint8_t byte : digest) {
    text.push_back(kHexDigits[byte >> kBitsPerHexDigit]);
    text.push_back(kHexDigits[byte & kLowNibble]);
  }
  return text;
}

bool FromHex(std::string_view text, Sha256Digest* digest) {
  if (text.size() != 2 * digest->size()) return false;
  for (size_t i = 0; i < digest->size(); ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high == kNotHex || low == kNotHex) return false;
    (*digest)[i] = static_cast<uint8_t>((high << kBitsPerHexDigit) | low);
  }
  return true;
}

}  // namespace publish
