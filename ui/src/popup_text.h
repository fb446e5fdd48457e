// Parsing of popup menu texts ("Item1|-|{Sub|A|B}|~Disabled|+Checked") into items with
// their depth and the number Popup returns for each selectable entry. No Qt.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dt::ui::detail {

struct PopupItem {
    std::string text;  // without prefixes and icon
    int depth = 1;     // 1: top level
    bool separator = false;
    bool disabled = false;
    int check = 0;         // 0 none, 1 checked, 2 unchecked check item
    bool submenu = false;  // opens a submenu (the next item is deeper)
    int number = 0;        // 1-based number among selectable entries; 0 for separators and submenus
};

std::vector<PopupItem> ParsePopup(std::string_view menu);

}  // namespace dt::ui::detail
