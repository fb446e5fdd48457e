// Popup menu text parser (see popup_text.h).
#include "ui/src/popup_text.h"

#include <algorithm>

#include "ui/application.h"

namespace dt::ui::detail {

namespace {

void AddToken(std::vector<PopupItem>& out, std::string token, int depth) {
    std::size_t b = token.find_first_not_of(' ');
    if (b == std::string::npos) return;
    token = token.substr(b);
    PopupItem it;
    it.depth = depth < 1 ? 1 : depth;
    if (token == "-") {
        it.separator = true;
        out.push_back(it);
        return;
    }
    for (;;) {
        if (token.empty()) break;
        char c = token[0];
        if (c == '~')
            it.disabled = true;
        else if (c == '+')
            it.check = 1;
        else if (c == '-')
            it.check = 2;
        else if (c == '[') {
            // "[icon]" or "[(~...)...]": an icon, accepted and not shown.
            std::size_t end = token.find(']');
            if (end == std::string::npos) break;
            token.erase(0, end + 1);
            continue;
        } else {
            break;
        }
        token.erase(0, 1);
    }
    it.text = token;
    out.push_back(it);
}

}  // namespace

std::vector<PopupItem> ParsePopup(std::string_view menu) {
    std::vector<PopupItem> out;
    std::string token;
    int depth = 1;
    for (char c : menu) {
        if (c == '|' || c == '{' || c == '}') {
            AddToken(out, token, depth);
            token.clear();
            if (c == '{') ++depth;
            if (c == '}' && depth > 1) --depth;
        } else {
            token += c;
        }
    }
    AddToken(out, token, depth);
    int n = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i].submenu = !out[i].separator && i + 1 < out.size() && out[i + 1].depth > out[i].depth;
        if (!out[i].separator && !out[i].submenu) out[i].number = ++n;
    }
    return out;
}

}  // namespace dt::ui::detail

namespace dt::ui {

int PopupEntries(std::string_view menu) {
    int n = 0;
    for (const auto& it : detail::ParsePopup(menu)) n = std::max(n, it.number);
    return n;
}

}  // namespace dt::ui
