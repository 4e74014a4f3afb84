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

// Every value kind, and the reference each list entry must hold of its own: a borrowed one is
// released twice, which the balance check reports.
TEST_F(AXValuesMac, EachValueMapsToItsKind) {
  const std::u16string units{u'a', char16_t(0xD83D), u'e', u'\u0301', char16_t(0xDE00)};
  const CFRange cfRange = CFRangeMake(7, 3);
  const double point[2] = {1, 2};
  const ScopedCF text(fakeCFText(units)), range(AXValueCreate(kAXValueTypeCFRange, &cfRange)),
      other(AXValueCreate(kAXValueTypeCGPoint, &point)), element(AXUIElementCreateApplication(1));
  const struct {
    CFTypeRef value;
    const char* expected;
  } rows[] = {{text.get(), "text"},       {kCFBooleanTrue, "true"}, {kCFBooleanFalse, "false"},
              {range.get(), "range 7+3"}, {other.get(), "other"},   {element.get(), "element"}};
  for (const auto& row : rows) EXPECT_EQ(describe(attrValueOf(row.value)), row.expected);
  EXPECT_EQ(*attrValueOf(text.get()).text(), units) << "every UTF-16 unit kept as it is";

  const void* items[] = {element.get(), text.get()};
  ScopedCF array(CFArrayCreate(kCFAllocatorDefault, items, 2, &kCFTypeArrayCallBacks));
  const AttrValue list = attrValueOf(array.get());
  array.receive();  // the platform's copy is gone; the list must still be usable
  ASSERT_EQ(describe(list), "list");
  EXPECT_EQ(axElementOf(*list.list()->at(0).element()), element.get());
}

TEST_F(AXValuesMac, EveryCopiedValueIsReleasedOnEveryPathAndBooleansAreWrittenAsIs) {
  const Element element = adoptElement(AXUIElementCreateApplication(1));
  const ScopedCF text(fakeCFText(u"hello"));
  const struct {
    AXError error;
    CFTypeRef value;
  } rows[] = {{kAXErrorSuccess, text.get()},
              {kAXErrorSuccess, nullptr},
              {kAXErrorNoValue, nullptr},
              {kAXErrorCannotComplete, text.get()}};  // an error that still fills the slot
  for (const auto& row : rows) {
    fakeAXAnswer(axElementOf(element), "AXValue", row.error, row.value);
    const auto value = copyAXAttribute(element, "AXValue");
    EXPECT_EQ(value && value->text() && *value->text() == u"hello",
              row.error == kAXErrorSuccess && row.value != nullptr);
  }
  setAXBoolAttribute(element, "AXManualAccessibility", true);
  setAXBoolAttribute(element, "AXManualAccessibility", false);
  ASSERT_EQ(fakeAXWrites().size(), 2u);
  EXPECT_EQ(fakeAXWrites()[0].value, kCFBooleanTrue);
  EXPECT_EQ(fakeAXWrites()[1].value, kCFBooleanFalse);
}

// A walk's role and children of one element come in one request; the value waits for the role.
TEST_F(AXValuesMac, BatchedReadsAskOnceAndAFailedBatchIsNotAskedAgain) {
  const Element element = adoptElement(AXUIElementCreateApplication(1));
  const ScopedCF role(fakeCFText(u"AXStaticText"));
  for (const AXError whole : {kAXErrorSuccess, kAXErrorFailure}) {
    SCOPED_TRACE(whole);
    fakeAXAnswer(axElementOf(element), "AXRole", kAXErrorSuccess, role.get());
    if (whole != kAXErrorSuccess) fakeAXStall(1, whole);
    BatchedReads reads;
    reads.hint({{element}, {"AXRole", "AXValue", "AXChildren"}});
    EXPECT_FALSE(reads.take(element, "AXTitle")) << "not hinted: read plainly";
    EXPECT_TRUE(fakeAXReads().empty()) << "a hint alone asks nothing";
    const auto first = reads.take(element, "AXRole");
    ASSERT_TRUE(first) << "the batch answers every hinted attribute, failed or not";
    EXPECT_EQ(first->has_value(), whole == kAXErrorSuccess);
    EXPECT_FALSE(reads.take(element, "AXValue"));
    const auto children = reads.take(element, "AXChildren");
    EXPECT_TRUE(children && !*children);
    EXPECT_FALSE(reads.take(element, "AXRole")) << "an answer is handed out once";
    ASSERT_EQ(fakeAXReads().size(), 1u);
    EXPECT_EQ(fakeAXReads()[0].attribute, "AXRole,AXChildren");
    fakeAXReset();
  }
}

}  // namespace
