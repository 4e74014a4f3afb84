// The argument rules: what counts as a number, the defaults and the bounds.
#include "fieldpeek/settings.h"

#include <gtest/gtest.h>

namespace {

TEST(Settings, ArgumentTable) {
  struct Row {
    const char* name;
    std::vector<std::string_view> args;
    int64_t pollMs, durationMs;
  } rows[] = {
      {"no arguments", {}, 600, 30000},
      {"duration below poll", {"250", "100"}, 250, 250},
      {"hex", {"0x12C", "0x1388"}, 600, 30000},
      {"not digits", {" 300", "5e3"}, 600, 30000},
      {"two signs", {"++300", "+-5000"}, 600, 30000},
      {"signs; the third is ignored", {"+300", "-5", "junk"}, 300, 300},
      {"minus zero is a number", {"-0", "-0"}, 120, 120},
      {"embedded nul", {std::string_view("300\0", 4), std::string_view("900\0", 4)}, 600, 30000},
      {"one past int64 max", {"9223372036854775808", "9223372036854775808"}, 600, 30000},
      {"int64 max fits", {"300", "9223372036854775807"}, 300, INT64_MAX},
      {"non-ascii digits", {"\xD9\xA3\xD9\xA0\xD9\xA0"}, 600, 30000},
      {"bad poll keeps duration", {"x", "5000"}, 600, 5000},
  };
  for (const auto& row : rows) {
    Settings s = settingsFromArgs(row.args);
    EXPECT_EQ(std::pair(s.pollMs, s.durationMs), std::pair(row.pollMs, row.durationMs)) << row.name;
  }
}

}  // namespace
