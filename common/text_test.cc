// The shared text rules on the hard cases: clusters, surrogates, canonical forms.
#include "common/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string FAMILY =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
const std::string FLAG_FR = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
const std::string E_ACUTE_DECOMPOSED = "e\xCC\x81";
const std::string E_ACUTE = "\xC3\xA9";
const std::string HANGUL_JAMO = "\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8";  // L V T: one syllable
const std::string FFFD = "\xEF\xBF\xBD";

TEST(Text, CharCountCountsGraphemeClusters) {
  struct Row {
    const char* name;
    std::string text;
    int64_t count;
  } rows[] = {
      {"zwj family", FAMILY, 1},
      {"three regional indicators", FLAG_FR + "\xF0\x9F\x87\xAB", 2},
      {"combining marks", E_ACUTE_DECOMPOSED + E_ACUTE_DECOMPOSED + "\xCC\x88", 2},
      {"cr lf is one", "a\r\nb", 3},
      {"invalid bytes stand alone",
       "a\xFF\xFE"
       "b",
       4},
  };
  for (const auto& row : rows) EXPECT_EQ(charCount(row.text), row.count) << row.name;
}

TEST(Text, FirstAndLastCharsKeepClustersWhole) {
  std::string text = FAMILY + E_ACUTE_DECOMPOSED + "x" + FLAG_FR + "\r\n";
  EXPECT_EQ(firstChars(text, 1), FAMILY);
  EXPECT_EQ(firstChars(text, 2), FAMILY + E_ACUTE_DECOMPOSED);
  EXPECT_EQ(firstChars(text, -1), "");
  EXPECT_EQ(lastChars(text, 0), "");
  EXPECT_EQ(lastChars(text, 1), "\r\n");
  EXPECT_EQ(lastChars(text, 2), FLAG_FR + "\r\n");
  EXPECT_EQ(lastChars(text, 4), E_ACUTE_DECOMPOSED + "x" + FLAG_FR + "\r\n");
  EXPECT_EQ(lastChars(text, 5), text);
}

TEST(Text, Utf16ToUtf8ReplacesEachUnpairedSurrogate) {
  struct Row {
    const char* name;
    std::u16string units;
    std::string utf8;
  } rows[] = {
      {"lone high", std::u16string{u'a', char16_t(0xD83D)}, "a" + FFFD},
      {"lone low", std::u16string{char16_t(0xDC4D), u'b'}, FFFD + "b"},
      {"high high low", std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDC4D)},
       FFFD + "\xF0\x9F\x91\x8D"},
      {"nul kept", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& row : rows) EXPECT_EQ(utf8FromUtf16(row.units), row.utf8) << row.name;
}

TEST(Text, Utf8ToUtf16RoundTripsAndReplacesInvalidBytes) {
  std::string valid = FAMILY + E_ACUTE + "\r\n" + std::string("\0z", 2);
  EXPECT_EQ(utf8FromUtf16(utf16FromUtf8(valid)), valid);
  EXPECT_EQ(utf16FromUtf8("a\xC3"), (std::u16string{u'a', char16_t(0xFFFD)}));
  EXPECT_EQ(utf16FromUtf8("\xED\xA0\x80"),
            std::u16string(3, char16_t(0xFFFD)));  // encoded surrogate
}

TEST(Text, CanonicalEquality) {
  EXPECT_TRUE(canonicallyEqual(E_ACUTE, E_ACUTE_DECOMPOSED));
  EXPECT_TRUE(canonicallyEqual(HANGUL_JAMO, "\xEA\xB0\x81"));  // jamo compose to the syllable
  EXPECT_FALSE(canonicallyEqual("e", E_ACUTE));
  EXPECT_FALSE(canonicallyEqual("\xEF\xAC\x81", "fi"));  // ligature: compatibility only
  EXPECT_FALSE(canonicallyEqual("a\xFF", "a\xFE"));
}

}  // namespace
