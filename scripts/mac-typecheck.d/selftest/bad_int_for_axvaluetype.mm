// A broken snippet: a plain int where AXValueGetValue expects an AXValueType.
// expect-error: no known conversion from 'const int' to 'AXValueType'
#include <ApplicationServices/ApplicationServices.h>

bool rangeOf(AXValueRef value, CFRange* range) {
  const int cfRangeType = 4;
  return AXValueGetValue(value, cfRangeType, range) != 0;
}
