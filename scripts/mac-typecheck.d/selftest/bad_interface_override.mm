// A broken snippet: a platform class that no longer matches the portable interface it implements.
// expect-error: marked 'override' hides virtual member function
#include "ax/platform.h"

class Stale : public Accessibility {
 public:
  bool isTrusted(bool prompt) override { return !prompt; }
};
