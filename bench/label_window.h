// The benchmarks' window of labels in the in-memory tree, shaped like the GTK fixture's.
#pragma once

#include <string>

#include "testing/fake_ax.h"

inline constexpr int WALK_ELEMENTS = 4000;

// A window holding one group of WALK_ELEMENTS - 2 labels with short texts, as in the GTK fixture.
inline FakeNodePtr labelWindow() {
  FakeNodePtr window = fakeNode("AXWindow");
  FakeNodePtr box = fakeNode("AXGroup");
  window->add(box);
  for (int i = 0; i < WALK_ELEMENTS - 2; ++i) {
    std::string text = "Label " + std::to_string(i);
    box->add(fakeNode("AXStaticText", std::u16string(text.begin(), text.end())));
  }
  return window;
}
