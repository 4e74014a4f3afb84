// The mapping from AT-SPI roles and states to the platform role names the tools compare.
#include "ax/atspi/roles.h"

namespace {

struct RoleName {
  uint32_t role;
  std::string_view name;
};

// Roles whose name does not depend on states.
constexpr RoleName FIXED[] = {
    {atspi_role::DOCUMENT_TEXT, "AXTextArea"},
    {atspi_role::DOCUMENT_EMAIL, "AXTextArea"},
    {atspi_role::TERMINAL, "AXTextArea"},
    {atspi_role::PASSWORD_TEXT, "AXTextField"},
    {atspi_role::SPIN_BUTTON, "AXTextField"},
    {atspi_role::EDITBAR, "AXTextField"},
    {atspi_role::LABEL, "AXStaticText"},
    {atspi_role::STATIC, "AXStaticText"},
    {atspi_role::CAPTION, "AXStaticText"},
    {atspi_role::HEADING, "AXStaticText"},
    {atspi_role::COMBO_BOX, "AXComboBox"},
    {atspi_role::PUSH_BUTTON, "AXButton"},
    {atspi_role::TOGGLE_BUTTON, "AXButton"},
    {atspi_role::FRAME, "AXWindow"},
    {atspi_role::WINDOW, "AXWindow"},
    {atspi_role::DIALOG, "AXWindow"},
    {atspi_role::ALERT, "AXWindow"},
    {atspi_role::PANEL, "AXGroup"},
    {atspi_role::FILLER, "AXGroup"},
    {atspi_role::GROUPING, "AXGroup"},
    {atspi_role::FORM, "AXGroup"},
    {atspi_role::VIEWPORT, "AXGroup"},
    {atspi_role::DOCUMENT_WEB, "AXWebArea"},
    {atspi_role::DOCUMENT_FRAME, "AXWebArea"},
    {atspi_role::APPLICATION, "AXApplication"},
    {atspi_role::CHECK_BOX, "AXCheckBox"},
    {atspi_role::RADIO_BUTTON, "AXRadioButton"},
    // A tab is a radio button of its tab group, as on macOS.
    {atspi_role::PAGE_TAB, "AXRadioButton"},
    {atspi_role::PAGE_TAB_LIST, "AXTabGroup"},
    {atspi_role::LINK, "AXLink"},
    {atspi_role::MENU_ITEM, "AXMenuItem"},
    {atspi_role::CHECK_MENU_ITEM, "AXMenuItem"},
    {atspi_role::RADIO_MENU_ITEM, "AXMenuItem"},
    {atspi_role::TEAROFF_MENU_ITEM, "AXMenuItem"},
    {atspi_role::MENU, "AXMenu"},
    {atspi_role::POPUP_MENU, "AXMenu"},
    {atspi_role::MENU_BAR, "AXMenuBar"},
    {atspi_role::LIST, "AXList"},
    {atspi_role::LIST_BOX, "AXList"},
    // A list item is a group on macOS (a web page's <li>); rows are what tables and trees hold.
    {atspi_role::LIST_ITEM, "AXGroup"},
    {atspi_role::TABLE, "AXTable"},
    {atspi_role::TREE, "AXOutline"},
    {atspi_role::TREE_TABLE, "AXOutline"},
    {atspi_role::TABLE_ROW, "AXRow"},
    {atspi_role::TREE_ITEM, "AXRow"},
    {atspi_role::TABLE_CELL, "AXCell"},
    {atspi_role::COLUMN_HEADER, "AXCell"},
    {atspi_role::ROW_HEADER, "AXCell"},
    {atspi_role::TABLE_COLUMN_HEADER, "AXCell"},
    {atspi_role::TABLE_ROW_HEADER, "AXCell"},
    {atspi_role::IMAGE, "AXImage"},
    {atspi_role::ICON, "AXImage"},
    {atspi_role::SLIDER, "AXSlider"},
    {atspi_role::PROGRESS_BAR, "AXProgressIndicator"},
    {atspi_role::SCROLL_BAR, "AXScrollBar"},
    {atspi_role::SCROLL_PANE, "AXScrollArea"},
    {atspi_role::SPLIT_PANE, "AXSplitGroup"},
    {atspi_role::TOOL_BAR, "AXToolbar"},
    {atspi_role::ARTICLE, "AXGroup"},
    {atspi_role::BLOCK_QUOTE, "AXGroup"},
    {atspi_role::LANDMARK, "AXGroup"},
};

}  // namespace

bool roleNeedsStates(uint32_t role) {
  return role == atspi_role::TEXT || role == atspi_role::ENTRY || role == atspi_role::PARAGRAPH ||
         role == atspi_role::SECTION;
}

std::string_view platformRoleName(uint32_t role, StateSet states) {
  // Only the multi-line state makes a text area: GTK 4 gives its entries neither line state,
  // and Chromium gives its textareas the entry role with the multi-line state.
  if (role == atspi_role::TEXT || role == atspi_role::ENTRY)
    return hasState(states, atspi_state::MULTI_LINE) ? "AXTextArea" : "AXTextField";
  if (role == atspi_role::PARAGRAPH)
    return hasState(states, atspi_state::EDITABLE) ? "AXTextArea" : "AXStaticText";
  // An editable section is a web page's contenteditable element (Firefox), its Text interface
  // holding all its text; any other section is a group, as on macOS.
  if (role == atspi_role::SECTION)
    return hasState(states, atspi_state::EDITABLE) ? "AXTextArea" : "AXGroup";
  for (const RoleName& row : FIXED)
    if (row.role == role) return row.name;
  return "AXUnknown";
}

bool roleBearsText(uint32_t role) {
  for (StateSet states : {StateSet{0}, ~StateSet{0}}) {
    std::string_view name = platformRoleName(role, states);
    if (name != "AXTextArea" && name != "AXTextField" && name != "AXStaticText") return false;
  }
  return true;
}

bool isWindowRole(uint32_t role) {
  return role == atspi_role::FRAME || role == atspi_role::WINDOW || role == atspi_role::DIALOG ||
         role == atspi_role::ALERT;
}
