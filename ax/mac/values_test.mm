// Tests of the macOS AX value mapping and its reference counting, run against an in-memory CF.
#include "ax/mac/values.h"

#include "ax/mac/batch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/mac/ax_service.h"
#include "testing/mac/balanced_test.h"

namespace {

using AXValuesMac = BalancedCFTest;

CFStringRef createString(const std::u16string& units) {
  return CFStringCreateWithCharacters(kCFAllocatorDefault,
                                      reinterpret_cast<const UniChar*>(units.data()),
                                      static_cast<CFIndex>(units.size()));
}

// The kind and content of a value, for comparisons with readable failures.
std::string describe(const AttrValue& value) {
  if (value.text() != nullptr) return "text of " + std::to_string(value.text()->size()) + " units";
  if (value.element() != nullptr) return "element";
  if (value.list() != nullptr) return "list of " + std::to_string(value.list()->size());
  if (const auto* number = std::get_if<double>(&value.value))
    return "number " + std::to_string(*number);
  if (const auto* boolean = std::get_if<bool>(&value.value)) return *boolean ? "true" : "false";
  if (value.range() != nullptr) {
    return "range " + std::to_string(value.range()->location) + "+" +
           std::to_string(value.range()->length);
  }
  return "opaque";
}

AXValueRef createRange(CFIndex location, CFIndex length) {
  const CFRange range = CFRangeMake(location, length);
  return AXValueCreate(kAXValueTypeCFRange, &range);
}

TEST_F(AXValuesMac, TextKeepsEveryUtf16UnitAsItIs) {
  const struct {
    const char* name;
    std::u16string units;
  } rows[] = {
      {"empty", u""},
      {"ascii", u"plain text"},
      {"decomposed accent", u"e\u0301"},
      {"surrogate pair", u"a\U0001F600b"},
      {"single unit", u"x"},
      {"lone low surrogate alone", std::u16string{char16_t(0xDC00)}},
      {"lone high surrogate", std::u16string{u'a', char16_t(0xD83D)}},
      {"lone low surrogate", std::u16string{char16_t(0xDE00), u'z'}},
  };
  for (const auto& row : rows) {
    const ScopedCF string(createString(row.units));
    const AttrValue value = attrValueOf(string.get());
    ASSERT_NE(value.text(), nullptr) << row.name;
    EXPECT_EQ(*value.text(), row.units) << row.name;
  }
}

TEST_F(AXValuesMac, ScalarsAndStructuredValuesMapToTheirKinds) {
  const double number = 42.5;
  const double point[2] = {1, 2};
  const ScopedCF cfNumber(CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &number));
  const ScopedCF range(createRange(7, 3));
  const ScopedCF otherValue(AXValueCreate(kAXValueTypeCGPoint, &point));
  const struct {
    const char* name;
    CFTypeRef value;
    const char* expected;
  } rows[] = {
      {"number", cfNumber.get(), "number 42.500000"},
      {"true is a boolean, not a number", kCFBooleanTrue, "true"},
      {"false", kCFBooleanFalse, "false"},
      {"range", range.get(), "range 7+3"},
      {"point", otherValue.get(), "opaque"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(describe(attrValueOf(row.value)), row.expected) << row.name;
  }
}

TEST_F(AXValuesMac, ListElementsHoldTheirOwnReference) {
  const ScopedCF element(AXUIElementCreateApplication(1));
  const ScopedCF text(createString(u"label"));
  const void* items[] = {element.get(), text.get()};
  ScopedCF array(CFArrayCreate(kCFAllocatorDefault, items, 2, &kCFTypeArrayCallBacks));

  AttrValue value = attrValueOf(array.get());
  array.receive();  // the platform's copy is gone; the list must still be usable
  ASSERT_NE(value.list(), nullptr);
  ASSERT_EQ(value.list()->size(), 2u);
  const Element* mapped = (*value.list())[0].element();
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ(axElementOf(*mapped), element.get());
  EXPECT_EQ(CFGetRetainCount(element.get()), 2);
  EXPECT_EQ(*(*value.list())[1].text(), u"label");

  value = AttrValue{};
  EXPECT_EQ(CFGetRetainCount(element.get()), 1);
}

TEST_F(AXValuesMac, EveryCopiedValueIsReleasedOnEveryPath) {
  const Element element = adoptElement(AXUIElementCreateApplication(1));
  const AXUIElementRef ref = axElementOf(element);
  const ScopedCF text(createString(u"hello"));
  const struct {
    const char* name;
    AXError error;
    CFTypeRef value;
    bool yieldsText;
  } rows[] = {
      {"success with a value", kAXErrorSuccess, text.get(), true},
      {"success with no value", kAXErrorSuccess, nullptr, false},
      {"error, empty slot", kAXErrorNoValue, nullptr, false},
      {"error that still fills the slot", kAXErrorCannotComplete, text.get(), false},
  };
  for (const auto& row : rows) {
    fakeAXAnswer(ref, "AXValue", row.error, row.value);
    const std::optional<AttrValue> value = copyAXAttribute(element, "AXValue");
    EXPECT_EQ(value.has_value(), row.yieldsText) << row.name;
    if (row.yieldsText && value) EXPECT_EQ(*value->text(), u"hello") << row.name;
    fakeAXAnswer(ref, "AXValue", kAXErrorSuccess, nullptr);
    EXPECT_EQ(CFGetRetainCount(text.get()), 1) << row.name;
  }
}

TEST_F(AXValuesMac, ReadsThatCannotBeAskedMakeNoRequest) {
  class Foreign : public ElementHandle {};
  const Element element = adoptElement(AXUIElementCreateApplication(1));
  EXPECT_FALSE(copyAXAttribute(std::make_shared<Foreign>(), "AXRole"));
  EXPECT_FALSE(copyAXAttribute(nullptr, "AXRole"));
  EXPECT_FALSE(copyAXAttribute(element, "AX\xFFRole"));  // not UTF-8: no CFString for it
  EXPECT_TRUE(fakeAXReads().empty());
  EXPECT_FALSE(copyAXAttribute(element, "AXRole"));  // unsupported
  ASSERT_EQ(fakeAXReads().size(), 1u);
  EXPECT_EQ(fakeAXReads()[0].attribute, "AXRole");
}

// A walk's role, value and children of one element: one request, answered as the plain reads.
TEST_F(AXValuesMac, BatchedReadsAnswerAsThePlainReadsInOneRequest) {
  const Element element = adoptElement(AXUIElementCreateApplication(1));
  const Element child = adoptElement(AXUIElementCreateApplication(2));
  const Element unhinted = adoptElement(AXUIElementCreateApplication(3));
  const AXUIElementRef ref = axElementOf(element);
  const ScopedCF role(createString(u"AXStaticText"));
  const void* kids[] = {axElementOf(child)};
  const ScopedCF children(CFArrayCreate(kCFAllocatorDefault, kids, 1, &kCFTypeArrayCallBacks));
  fakeAXAnswer(ref, "AXRole", kAXErrorSuccess, role.get());
  fakeAXAnswer(ref, "AXValue", kAXErrorNoValue, nullptr);
  fakeAXAnswer(ref, "AXChildren", kAXErrorSuccess, children.get());
  const PrefetchHint hint{{element, nullptr}, {"AXRole", "AXValue", "AXChildren"}};
  for (const AXError whole : {kAXErrorSuccess, kAXErrorCannotComplete}) {
    SCOPED_TRACE(whole);
    fakeAXMultipleError(whole);
    BatchedReads reads;
    reads.hint(hint);
    EXPECT_FALSE(reads.take(unhinted, "AXRole"));
    EXPECT_FALSE(reads.take(element, "AXTitle"));  // not hinted: read plainly
    EXPECT_TRUE(fakeAXReads().empty()) << "a hint alone asks nothing";
    const auto first = reads.take(element, "AXRole");
    ASSERT_EQ(fakeAXReads().size(), 1u);
    EXPECT_EQ(fakeAXReads()[0].attribute, "AXRole,AXChildren") << "the value waits for the role";
    EXPECT_FALSE(reads.take(element, "AXValue"));
    if (whole != kAXErrorSuccess) {
      // A failed request answers nothing and is not asked again attribute by attribute.
      EXPECT_TRUE(first && !*first);
      const auto children = reads.take(element, "AXChildren");
      EXPECT_TRUE(children && !*children);
      EXPECT_EQ(fakeAXReads().size(), 1u);
    } else {
      for (const char* name : {"AXRole", "AXChildren"}) {
        SCOPED_TRACE(name);
        const auto batched = std::string_view(name) == "AXRole" ? first : reads.take(element, name);
        ASSERT_TRUE(batched) << "the batch answers every hinted attribute";
        const std::optional<AttrValue> plain = copyAXAttribute(element, name);
        ASSERT_EQ(batched->has_value(), plain.has_value());
        if (plain) EXPECT_EQ(describe(**batched), describe(*plain));
      }
      EXPECT_EQ(fakeAXReads().size(), 3u) << "one batch, then the two plain reads compared";
      EXPECT_FALSE(reads.take(element, "AXRole")) << "an answer is handed out once";
      const auto list = copyAXAttribute(element, "AXChildren");
      ASSERT_TRUE(list && list->list());
      EXPECT_EQ(axElementOf(*list->list()->at(0).element()), axElementOf(child));
    }
    fakeAXReset();
    fakeAXAnswer(ref, "AXRole", kAXErrorSuccess, role.get());
    fakeAXAnswer(ref, "AXValue", kAXErrorNoValue, nullptr);
    fakeAXAnswer(ref, "AXChildren", kAXErrorSuccess, children.get());
  }
}

TEST_F(AXValuesMac, BooleanWritesPassTheSharedCFBooleans) {
  const Element element = adoptElement(AXUIElementCreateApplication(1));
  setAXBoolAttribute(element, "AXManualAccessibility", true);
  setAXBoolAttribute(element, "AXManualAccessibility", false);
  ASSERT_EQ(fakeAXWrites().size(), 2u);
  EXPECT_EQ(fakeAXWrites()[0].attribute, "AXManualAccessibility");
  EXPECT_EQ(fakeAXWrites()[0].value, kCFBooleanTrue);
  EXPECT_EQ(fakeAXWrites()[1].value, kCFBooleanFalse);
  EXPECT_EQ(fakeAXWrites()[0].element, axElementOf(element));
}

}  // namespace
