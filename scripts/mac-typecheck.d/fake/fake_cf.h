// Scripting and inspection of the in-memory CoreFoundation and AX functions of fake_cf.cc.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Objects whose reference count has not yet dropped to zero (the two booleans never count).
size_t fakeCFLiveObjects();

// Every misuse seen since the last reset: a release or read of an object already freed.
std::vector<std::string> fakeCFErrors();

// The next reads of `attribute` of `element` return `error` and, with a new reference, `value`
// (which may be null; a value given with an error code tests the caller's release of the slot).
void fakeAXAnswer(AXUIElementRef element, std::string_view attribute, AXError error,
                  CFTypeRef value);

// Every AXUIElementCopyMultipleAttributeValues fails as a whole with `error` (success: answers).
void fakeAXMultipleError(AXError error);

struct FakeAXCall {
  AXUIElementRef element;
  std::string attribute;
  CFTypeRef value;  // the value written; null for reads
};
const std::vector<FakeAXCall>& fakeAXReads();
const std::vector<FakeAXCall>& fakeAXWrites();

// Drops the scripted answers (releasing their values), the call logs and the errors. A request
// for several attributes is logged as one read whose attribute is their names joined by commas.
void fakeAXReset();
