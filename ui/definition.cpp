// Window definitions: numbering of controls and the shorthand builders.
#include "ui/definition.h"

#include <utility>

#include "ui/list_source.h"

namespace dt::ui {

int WindowDef::Add(ControlDef c) {
    bool numbered = c.type != ControlType::Separator;
    controls.push_back(std::move(c));
    return numbered ? Fields() : 0;
}

int WindowDef::Fields() const {
    int n = 0;
    for (const auto& c : controls)
        if (c.type != ControlType::Separator) ++n;
    return n;
}

int WindowDef::IndexOf(int field) const {
    if (field < 1) return -1;
    int n = 0;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].type == ControlType::Separator) continue;
        if (++n == field) return static_cast<int>(i);
    }
    return -1;
}

int WindowDef::FieldOf(const std::string& label) const {
    int n = 0;
    for (const auto& c : controls) {
        if (c.type == ControlType::Separator) continue;
        ++n;
        if (!label.empty() && c.label == label) return n;
    }
    return 0;
}

namespace {
ControlDef Make(ControlType t, std::string text, Rect at) {
    ControlDef c;
    c.type = t;
    c.text = std::move(text);
    c.at = at;
    return c;
}
}  // namespace

ControlDef MenuDef(std::string text, int parent) {
    ControlDef c = Make(ControlType::Menu, std::move(text), {});
    c.parent = parent;
    return c;
}
ControlDef ItemDef(std::string text, int parent, StdAction std) {
    ControlDef c = Make(ControlType::Item, std::move(text), {});
    c.parent = parent;
    c.std = std;
    return c;
}
ControlDef SeparatorDef(int parent) {
    ControlDef c = Make(ControlType::Separator, {}, {});
    c.parent = parent;
    return c;
}
ControlDef PromptDef(std::string text, Rect at) {
    return Make(ControlType::Prompt, std::move(text), at);
}
ControlDef EntryDef(std::string picture, UseVar use, Rect at) {
    ControlDef c = Make(ControlType::Entry, {}, at);
    c.picture = std::move(picture);
    c.use = use;
    return c;
}
ControlDef StringDef(std::string text, Rect at) {
    return Make(ControlType::String, std::move(text), at);
}
ControlDef DisplayDef(std::string picture, UseVar use, Rect at) {
    ControlDef c = Make(ControlType::String, {}, at);
    c.picture = std::move(picture);
    c.use = use;
    return c;
}
ControlDef TextDef(std::string text, Rect at) {
    return Make(ControlType::Text, std::move(text), at);
}
ControlDef ButtonDef(std::string text, Rect at, std::string icon) {
    ControlDef c = Make(ControlType::Button, std::move(text), at);
    c.icon = std::move(icon);
    return c;
}
ControlDef CheckDef(std::string text, UseVar use, Rect at) {
    ControlDef c = Make(ControlType::Check, std::move(text), at);
    c.use = use;
    return c;
}
ControlDef ListDef(std::string format, std::shared_ptr<ListSource> from, Rect at) {
    ControlDef c = Make(ControlType::List, {}, at);
    c.format = std::move(format);
    c.from = std::move(from);
    c.vscroll = true;
    return c;
}
ControlDef SheetDef(Rect at) {
    return Make(ControlType::Sheet, {}, at);
}
ControlDef TabDef(std::string text, int sheet) {
    ControlDef c = Make(ControlType::Tab, std::move(text), {});
    c.parent = sheet;
    return c;
}
ControlDef PanelDef(Rect at) {
    return Make(ControlType::Panel, {}, at);
}

}  // namespace dt::ui
