// What every fuzzer asserts with and feeds on: a hard check, a UTF-8 validator, hostile UTF-16.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <utf8proc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

// abort() rather than assert(): a failed check must stop the fuzzer in every build type.
inline void check(bool condition) {
  if (!condition) std::abort();
}

inline bool validUtf8(const std::string& s) {
  const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
  utf8proc_ssize_t at = 0, size = static_cast<utf8proc_ssize_t>(s.size());
  while (at < size) {
    utf8proc_int32_t cp;
    utf8proc_ssize_t n = utf8proc_iterate(p + at, size - at, &cp);
    if (n <= 0) return false;
    at += n;
  }
  return true;
}

// UTF-16 built to hit what other applications send: lone and reversed surrogates, NULs, combining
// marks, CR/LF, emoji parts, and long runs (a short pattern repeated) that pass the character
// limits.
inline std::u16string hostileUnits(FuzzedDataProvider& in, size_t maxPattern = 24) {
  static constexpr char16_t SPICE[] = {0x0000, 0xD83D, 0xDE00, 0xDC00, 0xD800, 0x0301, 0x000D,
                                       0x000A, 0x200D, 0xFE0F, 0x1F1E, 0xFFFD, 0x0041, 0x00E9,
                                       0x0065, 0x1100, 0x1161, 0x11A8, 0xFFFF, 0x0007};
  std::u16string pattern;
  const size_t length = in.ConsumeIntegralInRange<size_t>(0, maxPattern);
  for (size_t i = 0; i < length && in.remaining_bytes() > 0; ++i) {
    if (in.ConsumeBool()) {
      pattern.push_back(SPICE[in.ConsumeIntegralInRange<size_t>(0, std::size(SPICE) - 1)]);
    } else {
      pattern.push_back(in.ConsumeIntegral<char16_t>());
    }
  }
  // Mostly short texts; now and then one long enough to pass the 600, 16000 and 20000 limits.
  size_t repeat = 1;
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 6:
      repeat = in.ConsumeIntegralInRange<size_t>(2, 400);
      break;
    case 7:
      repeat = in.ConsumeIntegralInRange<size_t>(400, 12000);
      break;
    default:
      break;
  }
  std::u16string units;
  units.reserve(pattern.size() * repeat);
  for (size_t i = 0; i < repeat; ++i) units += pattern;
  return units;
}
