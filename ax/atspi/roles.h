// AT-SPI roles and states, and the platform role names the tools compare ("AXTextArea", ...).
#pragma once

#include <cstdint>
#include <string_view>

// The AT-SPI role numbers this layer names (AtspiRole, stable across versions).
namespace atspi_role {
inline constexpr uint32_t ALERT = 2;
inline constexpr uint32_t CHECK_BOX = 7;
inline constexpr uint32_t CHECK_MENU_ITEM = 8;
inline constexpr uint32_t COLUMN_HEADER = 10;
inline constexpr uint32_t COMBO_BOX = 11;
inline constexpr uint32_t DIALOG = 16;
inline constexpr uint32_t FILLER = 20;
inline constexpr uint32_t FRAME = 23;
inline constexpr uint32_t ICON = 26;
inline constexpr uint32_t IMAGE = 27;
inline constexpr uint32_t LABEL = 29;
inline constexpr uint32_t LIST = 31;
inline constexpr uint32_t LIST_ITEM = 32;
inline constexpr uint32_t MENU = 33;
inline constexpr uint32_t MENU_BAR = 34;
inline constexpr uint32_t MENU_ITEM = 35;
inline constexpr uint32_t PAGE_TAB = 37;
inline constexpr uint32_t PAGE_TAB_LIST = 38;
inline constexpr uint32_t PANEL = 39;
inline constexpr uint32_t PASSWORD_TEXT = 40;
inline constexpr uint32_t POPUP_MENU = 41;
inline constexpr uint32_t PROGRESS_BAR = 42;
inline constexpr uint32_t PUSH_BUTTON = 43;
inline constexpr uint32_t RADIO_BUTTON = 44;
inline constexpr uint32_t RADIO_MENU_ITEM = 45;
inline constexpr uint32_t ROW_HEADER = 47;
inline constexpr uint32_t SCROLL_BAR = 48;
inline constexpr uint32_t SCROLL_PANE = 49;
inline constexpr uint32_t SLIDER = 51;
inline constexpr uint32_t SPIN_BUTTON = 52;
inline constexpr uint32_t SPLIT_PANE = 53;
inline constexpr uint32_t TABLE = 55;
inline constexpr uint32_t TABLE_CELL = 56;
inline constexpr uint32_t TABLE_COLUMN_HEADER = 57;
inline constexpr uint32_t TABLE_ROW_HEADER = 58;
inline constexpr uint32_t TEAROFF_MENU_ITEM = 59;
inline constexpr uint32_t TERMINAL = 60;
inline constexpr uint32_t TEXT = 61;
inline constexpr uint32_t TOGGLE_BUTTON = 62;
inline constexpr uint32_t TOOL_BAR = 63;
inline constexpr uint32_t TREE = 65;
inline constexpr uint32_t TREE_TABLE = 66;
inline constexpr uint32_t VIEWPORT = 68;
inline constexpr uint32_t WINDOW = 69;
inline constexpr uint32_t PARAGRAPH = 73;
inline constexpr uint32_t APPLICATION = 75;
inline constexpr uint32_t EDITBAR = 77;
inline constexpr uint32_t ENTRY = 79;
inline constexpr uint32_t CAPTION = 81;
inline constexpr uint32_t DOCUMENT_FRAME = 82;
inline constexpr uint32_t HEADING = 83;
inline constexpr uint32_t SECTION = 85;
inline constexpr uint32_t FORM = 87;
inline constexpr uint32_t LINK = 88;
inline constexpr uint32_t TABLE_ROW = 90;
inline constexpr uint32_t TREE_ITEM = 91;
inline constexpr uint32_t DOCUMENT_TEXT = 94;
inline constexpr uint32_t DOCUMENT_WEB = 95;
inline constexpr uint32_t DOCUMENT_EMAIL = 96;
inline constexpr uint32_t LIST_BOX = 98;
inline constexpr uint32_t GROUPING = 99;
inline constexpr uint32_t BLOCK_QUOTE = 105;
inline constexpr uint32_t ARTICLE = 109;
inline constexpr uint32_t LANDMARK = 110;
inline constexpr uint32_t STATIC = 116;
}  // namespace atspi_role

// AT-SPI state bits (AtspiStateType): bit n of the 64-bit set GetState returns as two words.
namespace atspi_state {
inline constexpr int ACTIVE = 1;
inline constexpr int EDITABLE = 7;
inline constexpr int EXPANDED = 10;
inline constexpr int FOCUSABLE = 11;
inline constexpr int FOCUSED = 12;
inline constexpr int MULTI_LINE = 17;
inline constexpr int SELECTED = 23;
inline constexpr int SHOWING = 25;
inline constexpr int SINGLE_LINE = 26;
inline constexpr int VISIBLE = 30;
}  // namespace atspi_state

using StateSet = uint64_t;
inline constexpr bool hasState(StateSet states, int bit) {
  return (states >> bit) & 1U;
}

// True when the role alone does not decide the name: GTK gives entries and text views the same
// text role, Chromium gives inputs and textareas the entry role (the multi-line state tells them
// apart), and a paragraph or a section is a text area only when it is editable.
bool roleNeedsStates(uint32_t role);

// The platform role name for an AT-SPI role and (where roleNeedsStates) its states.
std::string_view platformRoleName(uint32_t role, StateSet states);

// True when every name the role can have is a text role ("AXTextArea", "AXTextField",
// "AXStaticText"): the roles whose value a walk reads.
bool roleBearsText(uint32_t role);

// A top-level child of an application that counts as a window.
bool isWindowRole(uint32_t role);
