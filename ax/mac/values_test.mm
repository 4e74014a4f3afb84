// Tests of the macOS AX value mapping and its reference counting, run against an in-memory CF.
#include "ax/mac/values.h"

#include "ax/mac/batch.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/mac/ax_service.h"

namespace {

using AXValuesMac = BalancedCFTest;

// The kind of a value and, for booleans and ranges, what it holds.
std::string describe(const AttrValue& value) {
  if (const bool* boolean = std::get_if<bool>(&value.value)) return *boolean ? "true" : "false";
  if (const TextRange* range = value.range()) {
    return "range " + std::to_string(range->location) + "+" + std::to_string(range->length);
  }
  return value.text() ? "text" : value.element() ? "element" : value.list() ? "list" : "other";
}

// Every value kind. The walks prove that each list entry holds a reference of its own: a borrowed
// one is released twice, which the fake reports.
TEST_F(AXValuesMac, EachValueMapsToItsKind) {
  const std::u16string units{u'a', char16_t(0xD83D), u'e', u'\u0301', char16_t(0xDE00)};
  const CFRange cfRange = CFRangeMake(7, 3);
  const double point[2] = {1, 2};
  const ScopedCF text(fakeCFText(units)), range(AXValueCreate(kAXValueTypeCFRange, &cfRange)),
      other(AXValueCreate(kAXValueTypeCGPoint, &point)), element(AXUIElementCreateApplication(1));
  const void* items[] = {element.get(), text.get()};
  const ScopedCF list(CFArrayCreate(kCFAllocatorDefault, items, 2, &kCFTypeArrayCallBacks));
  const std::pair<CFTypeRef, const char*> rows[] = {
      {text.get(), "text"},       {kCFBooleanTrue, "true"}, {kCFBooleanFalse, "false"},
      {range.get(), "range 7+3"}, {other.get(), "other"},   {element.get(), "element"},
      {list.get(), "list"}};
  for (const auto& [value, kind] : rows) EXPECT_EQ(describe(attrValueOf(value)), kind);
  EXPECT_EQ(*attrValueOf(text.get()).text(), units) << "every UTF-16 unit kept as it is";
}

TEST_F(AXValuesMac, EveryCopiedValueIsReleasedOnEveryPathAndBooleansAreWrittenAsIs) {
  const Element element = adoptElement(AXUIElementCreateApplication(1));
  const ScopedCF text(fakeCFText(u"hello"));
  // The last row is an error that still fills the slot.
  for (const auto& [error, filled] : {std::pair{kAXErrorSuccess, text.get()},
                                      {kAXErrorSuccess, nullptr},
                                      {kAXErrorCannotComplete, text.get()}}) {
    fakeAXAnswer({1, 0}, "AXValue", error, filled);
    const auto value = copyAXAttribute(element, "AXValue");
    EXPECT_EQ(value && value->text() && *value->text() == u"hello",
              error == kAXErrorSuccess && filled != nullptr);
  }
  setAXBoolAttribute(element, "AXManualAccessibility", true);
  EXPECT_EQ(fakeAXCalls().back().value, kCFBooleanTrue);
  setAXBoolAttribute(element, "AXManualAccessibility", false);
  EXPECT_EQ(fakeAXCalls().back().value, kCFBooleanFalse);
}

// A walk's role and children of one element come in one request; the value waits for the role.
// A request that failed as a whole answers nothing for each of its attributes, never asked again
// one by one (the walks prove the answers of one that succeeds).
TEST_F(AXValuesMac, BatchedReadsAskOnceAndAFailedBatchIsNotAskedAgain) {
  const Element element = adoptElement(AXUIElementCreateApplication(1));
  fakeAXStall(1, kAXErrorFailure);
  BatchedReads reads;
  reads.hint({{element}, {"AXRole", "AXValue", "AXChildren"}});
  EXPECT_FALSE(reads.take(element, "AXTitle")) << "not hinted: read plainly";
  EXPECT_TRUE(fakeAXCalls().empty()) << "a hint alone asks nothing";
  for (const char* name : {"AXRole", "AXChildren"}) {
    const auto answer = reads.take(element, name);
    EXPECT_TRUE(answer && !*answer) << name;
  }
  EXPECT_FALSE(reads.take(element, "AXValue"));
  EXPECT_FALSE(reads.take(element, "AXRole")) << "an answer is handed out once";
  ASSERT_EQ(fakeAXCalls().size(), 1u);
  EXPECT_EQ(fakeAXCalls()[0].attribute, "AXRole,AXChildren");
}

}  // namespace
