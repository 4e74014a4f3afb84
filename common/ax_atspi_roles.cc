// The mapping from AT-SPI roles and states to the platform role names the tools compare.
#include "common/ax_atspi_roles.h"

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
    {atspi_role::ENTRY, "AXTextField"},
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
    {atspi_role::SECTION, "AXGroup"},
    {atspi_role::FORM, "AXGroup"},
    {atspi_role::VIEWPORT, "AXGroup"},
    {atspi_role::DOCUMENT_WEB, "AXWebArea"},
    {atspi_role::DOCUMENT_FRAME, "AXWebArea"},
    {atspi_role::APPLICATION, "AXApplication"},
    {atspi_role::CHECK_BOX, "AXCheckBox"},
    {atspi_role::MENU_ITEM, "AXMenuItem"},
    {atspi_role::CHECK_MENU_ITEM, "AXMenuItem"},
    {atspi_role::RADIO_MENU_ITEM, "AXMenuItem"},
    {atspi_role::SCROLL_PANE, "AXScrollArea"},
};

}  // namespace

bool roleNeedsStates(uint32_t role) {
  return role == atspi_role::TEXT || role == atspi_role::PARAGRAPH;
}

std::string_view platformRoleName(uint32_t role, StateSet states) {
  if (role == atspi_role::TEXT) {
    // A text without either line state is a generic text area: the wider of the two readings.
    if (hasState(states, atspi_state::SINGLE_LINE) && !hasState(states, atspi_state::MULTI_LINE))
      return "AXTextField";
    return "AXTextArea";
  }
  if (role == atspi_role::PARAGRAPH)
    return hasState(states, atspi_state::EDITABLE) ? "AXTextArea" : "AXStaticText";
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
