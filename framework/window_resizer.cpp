#include "framework/window_resizer.h"

#include <cmath>
#include <vector>

namespace dt {

namespace {

// Bound on the control walk and on container nesting: a layer that reports a cycle must
// not hang or overflow the resizer.
constexpr int kMaxControls = 100000;
constexpr int kMaxDepth = 64;

// One axis of the position rule. `pos` is the resolved axis strategy (0 .. 4), `initial`
// the control's initial coordinate, `offset` its distance from the container's initial
// edge, `orig_extent` the container's initial extent, `new_start`/`new_extent` its new
// position and extent, `ratio` new / initial extent, `locked` the size lock of the axis.
double AxisPosition(int pos, double initial, double offset, double orig_extent, double new_start,
                    double new_extent, double ratio, bool locked) {
    switch (pos) {
        case 0:  // scale: the offset inside the container scales, the container's origin does
                 // not (scaling the origin too would throw the children of a container that
                 // does not sit at the window's corner out of it)
            return new_start + offset * ratio;
        case 1:  // lock
            return initial;
        case 2: {  // keep the distance to the right / bottom edge
            double margin = orig_extent - offset;
            return new_start + new_extent - (locked ? margin : margin * ratio);
        }
        case 3:  // keep the distance to the left / top edge
            return new_start + offset;
        case 4: {  // keep the offset from the centre
            double from_centre = offset - orig_extent / 2;
            return new_start + new_extent / 2 + (locked ? from_centre : from_centre * ratio);
        }
        default:  // an unknown strategy leaves the control where it is
            return initial;
    }
}

// Nearest edge: left/top (3) when the control is nearer that edge, else right/bottom (2).
int ResolveNearest(int pos, double offset, double extent, double orig_extent) {
    if (pos != 5) return pos;
    return offset < orig_extent - (offset + extent) ? 3 : 2;
}

bool Inside(const WindowRect& outer, LONG x, LONG y) {
    return x >= outer.XPOS && x < outer.XPOS + outer.WIDTH && y >= outer.YPOS &&
           y < outer.YPOS + outer.HEIGHT;
}

}  // namespace

WindowResizer::~WindowResizer() {
    Shutdown();
}

void WindowResizer::DefaultStrategies(BYTE appStrategy, LONG type, USHORT& positional, USHORT& resize) {
    positional = 0;
    resize = 0;
    if (appStrategy == AppStrategy::kSurface) {
        positional = Resize::kLockX | Resize::kLockY;
        resize = Resize::kLockWidth | Resize::kLockHeight;
        return;
    }
    const bool spread = appStrategy == AppStrategy::kSpread;
    switch (type) {
        case 9:
            positional = Resize::kFixNearestX | Resize::kFixNearestY;
            resize = Resize::kLockWidth | Resize::kLockHeight;
            break;
        case 12:
        case 21:
            resize = Resize::kLockWidth | Resize::kLockHeight;
            break;
        case 8:
        case 15:
        case 16:
        case 34:
            positional = spread ? Resize::kFixTop : 0;
            resize = Resize::kLockHeight;
            break;
        case 10:
            if (spread) {
                positional = Resize::kFixTop;
                resize = Resize::kLockHeight;
            }
            break;
        case 3:
        case 4:
        case 11:
        case 13:
        case 14:
        case 37:
        case 39:
            if (spread) {
                positional = Resize::kFixLeft | Resize::kFixTop;
                resize = Resize::kConstantRight | Resize::kConstantBottom;
            }
            break;
        default:
            break;
    }
}

void WindowResizer::Startup(WindowPort& window, BYTE appStrategy, BYTE setMinimum, BYTE setMaximum) {
    Shutdown();
    window_ = &window;
    CONTROLQUEUE = std::make_unique<Queue<ResizerControl>>();
    RESIZELIST = std::make_unique<Queue<ResizerMove>>();
    APPSTRATEGY = appStrategy;
    window.Register(Event::Sized, this, [this] { ResizeAll(); });
    window.SetImm(true);
    Reset();
    if (APPSTRATEGY == AppStrategy::kSpread) SetParentDefaults();
    if (setMinimum) window.SetMinSize(ORIGWIN.WIDTH, ORIGWIN.HEIGHT);
    if (setMaximum) window.SetMaxSize(ORIGWIN.WIDTH, ORIGWIN.HEIGHT);
    DEFERMOVES = 1;
}

void WindowResizer::Shutdown() {
    if (window_ != nullptr) window_->Unregister(Event::Sized, this);
    window_ = nullptr;
    CONTROLQUEUE.reset();
    RESIZELIST.reset();
}

bool WindowResizer::Find(LONG control) {
    if (!CONTROLQUEUE) return false;
    for (std::size_t i = 1, n = CONTROLQUEUE->Records(); i <= n; ++i) {
        CONTROLQUEUE->Get(i);
        if (CONTROLQUEUE->ID == control) return true;
    }
    return false;
}

LONG WindowResizer::ParentOf(LONG control) {
    return Find(control) ? CONTROLQUEUE->PARENTID : 0;
}

void WindowResizer::Reset() {
    if (window_ == nullptr || !CONTROLQUEUE) return;
    WindowRect r = window_->Rect();
    ORIGWIN = ResizerWindow{r.XPOS,
                            r.YPOS,
                            r.WIDTH,
                            r.HEIGHT,
                            BYTE(window_->Maximized() ? 1 : 0),
                            BYTE(window_->Iconized() ? 1 : 0)};
    PREVIOUSWIN = r;

    std::vector<LONG> present;
    LONG f = window_->NextField(0);
    for (int guard = 0; f != 0 && guard < kMaxControls; ++guard, f = window_->NextField(f)) {
        present.push_back(f);
        if (Find(f)) {
            CONTROLQUEUE->POS = window_->ControlRect(f);
            CONTROLQUEUE->Put();
            continue;
        }
        if (window_->InToolBar(f)) continue;
        LONG type = window_->Type(f);
        if (type < 1 || type > 127 || type == LONG(ui::ControlType::Menu) ||
            type == LONG(ui::ControlType::Item) || type == LONG(ui::ControlType::Tab))
            continue;
        ResizerControl entry{};
        entry.ID = f;
        entry.TYPE = type;
        entry.POS = window_->ControlRect(f);
        LONG as_type =
            (type == LONG(ui::ControlType::List) && window_->Drop(f)) ? LONG(ui::ControlType::Entry) : type;
        DefaultStrategies(APPSTRATEGY, as_type, entry.POSITIONALSTRATEGY, entry.RESIZESTRATEGY);
        // The list stays ordered by control number.
        std::size_t pos = 1, n = CONTROLQUEUE->Records();
        while (pos <= n) {
            CONTROLQUEUE->Get(pos);
            if (CONTROLQUEUE->ID > f) break;
            ++pos;
        }
        CONTROLQUEUE->Buffer() = entry;
        CONTROLQUEUE->Add(pos);
    }
    // Controls that were destroyed since the last build leave the list, so that no move is
    // ever computed for a control that no longer exists.
    for (std::size_t i = CONTROLQUEUE->Records(); i >= 1; --i) {
        CONTROLQUEUE->Get(i);
        bool alive = false;
        for (LONG id : present) alive = alive || id == CONTROLQUEUE->ID;
        if (!alive) CONTROLQUEUE->Delete();
    }
    RESIZECALLED = 0;
}

void WindowResizer::SetStrategy(LONG control, USHORT positional, USHORT resize) {
    if (!Find(control)) return;
    CONTROLQUEUE->POSITIONALSTRATEGY = positional;
    CONTROLQUEUE->RESIZESTRATEGY = resize;
    CONTROLQUEUE->Put();
}

void WindowResizer::SetParent(LONG control, LONG parent) {
    if (!Find(control)) return;
    CONTROLQUEUE->PARENTID = parent;
    CONTROLQUEUE->Put();
    if (parent != 0 && Find(parent)) {
        CONTROLQUEUE->HASCHILDREN = 1;
        CONTROLQUEUE->Put();
    }
}

void WindowResizer::SetParentDefaults() {
    if (window_ == nullptr || !CONTROLQUEUE) return;
    const std::size_t n = CONTROLQUEUE->Records();
    std::vector<ResizerControl> all(n);
    for (std::size_t i = 1; i <= n; ++i) {
        CONTROLQUEUE->Get(i);
        all[i - 1] = CONTROLQUEUE->Buffer();
    }
    auto index_of = [&](LONG id) -> int {
        for (std::size_t i = 0; i < n; ++i)
            if (all[i].ID == id) return int(i);
        return -1;
    };
    std::vector<LONG> parent(n, 0);
    std::vector<bool> layer_parent(n, false);
    // The layer's containers first; a tab stands for the sheet that holds it.
    for (std::size_t i = 0; i < n; ++i) {
        LONG p = window_->Parent(all[i].ID);
        if (p != 0 && window_->Type(p) == LONG(ui::ControlType::Tab)) p = window_->Parent(p);
        if (p != 0 && p != all[i].ID && index_of(p) >= 0) {
            parent[i] = p;
            layer_parent[i] = true;
        }
    }
    auto is_ancestor = [&](LONG candidate, std::size_t of) {
        LONG p = parent[of];
        for (std::size_t steps = 0; p != 0 && steps <= n; ++steps) {
            if (p == candidate) return true;
            int k = index_of(p);
            if (k < 0) break;
            p = parent[std::size_t(k)];
        }
        return false;
    };
    auto area = [](const WindowRect& r) { return double(r.WIDTH) * double(r.HEIGHT); };
    // A control outside any layer container encloses the controls whose top-left corner
    // lies inside it. The innermost enclosing control wins, and no control ever becomes an
    // ancestor of itself (which would make a resize recurse without end).
    for (std::size_t c = 0; c < n; ++c) {
        if (layer_parent[c]) continue;
        for (std::size_t o = 0; o < n; ++o) {
            if (o == c || layer_parent[o]) continue;
            if (!Inside(all[c].POS, all[o].POS.XPOS, all[o].POS.YPOS)) continue;
            if (is_ancestor(all[o].ID, c)) continue;
            if (parent[o] != 0) {
                int current = index_of(parent[o]);
                if (current >= 0 && area(all[std::size_t(current)].POS) <= area(all[c].POS)) continue;
            }
            parent[o] = all[c].ID;
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        CONTROLQUEUE->Get(i + 1);
        CONTROLQUEUE->HASCHILDREN = 0;
        CONTROLQUEUE->Put();
    }
    for (std::size_t i = 0; i < n; ++i) SetParent(all[i].ID, parent[i]);
}

WindowRect WindowResizer::ComputeRectangle(USHORT positional, USHORT resize, const WindowRect& ctl,
                                           const WindowRect& orig_container,
                                           const WindowRect& new_container) {
    const double X = ctl.XPOS, Y = ctl.YPOS, W = ctl.WIDTH, H = ctl.HEIGHT;
    const double OW = orig_container.WIDTH, OH = orig_container.HEIGHT;
    const double NX = new_container.XPOS, NY = new_container.YPOS;
    const double NW = new_container.WIDTH, NH = new_container.HEIGHT;
    // A container that had no extent gives no ratio to scale by: keep the scale at 1.
    const double RX = OW != 0 ? NW / OW : 1.0;
    const double RY = OH != 0 ? NH / OH : 1.0;
    const double DX = X - orig_container.XPOS, DY = Y - orig_container.YPOS;

    const int h = ResolveNearest(positional & 0xFF, DX, W, OW);
    const int v = ResolveNearest((positional >> 8) & 0xFF, DY, H, OH);

    double width = W, height = H;
    if (!(resize & (Resize::kConstantRight | Resize::kConstantRightCenter)))
        width = (resize & Resize::kLockWidth) ? W : W * RX;
    if (!(resize & (Resize::kConstantBottom | Resize::kConstantBottomCenter)))
        height = (resize & Resize::kLockHeight) ? H : H * RY;

    const double x = AxisPosition(h, X, DX, OW, NX, NW, RX, resize & Resize::kLockWidth);
    const double y = AxisPosition(v, Y, DY, OH, NY, NH, RY, resize & Resize::kLockHeight);

    if (resize & Resize::kConstantRight)
        width = (NX + NW) - (OW - DX - W) - x;
    else if (resize & Resize::kConstantRightCenter)
        width = ((NX + NW) - (OW - DX) - x) / 2 + W;
    if (resize & Resize::kConstantBottom)
        height = (NY + NH) - (OH - DY - H) - y;
    else if (resize & Resize::kConstantBottomCenter)
        height = ((NY + NH) - (OH - DY) - y) / 2 + H;

    return WindowRect{LONG(std::lround(x)), LONG(std::lround(y)), LONG(std::lround(width)),
                      LONG(std::lround(height))};
}

void WindowResizer::ResizeAll() {
    Resize(0);
}

void WindowResizer::ResizeContainer(LONG container, const WindowRect& orig, const WindowRect& now,
                                    int depth) {
    if (depth > kMaxDepth) return;
    std::vector<ResizerControl> children;
    for (std::size_t i = 1, n = CONTROLQUEUE->Records(); i <= n; ++i) {
        CONTROLQUEUE->Get(i);
        if (CONTROLQUEUE->PARENTID == container && CONTROLQUEUE->ID != container)
            children.push_back(CONTROLQUEUE->Buffer());
    }
    for (const ResizerControl& c : children) {
        ResizerMove move{};
        move.CONTROLID = c.ID;
        move.TYPE = c.TYPE;
        move.BEFORE = window_->ControlRect(c.ID);
        move.AFTER = ComputeRectangle(c.POSITIONALSTRATEGY, c.RESIZESTRATEGY, c.POS, orig, now);
        // Controls farther from the window's top-left corner move first when the window
        // grows, last when it shrinks, so that none passes over another.
        move.PRIORITY = move.BEFORE.XPOS + move.BEFORE.YPOS;
        RESIZELIST->Buffer() = move;
        RESIZELIST->Add();
        // A container's children follow the container's computed rectangle (with deferred
        // moves its current one is still the old).
        if (c.HASCHILDREN) ResizeContainer(c.ID, c.POS, move.AFTER, depth + 1);
    }
}

int WindowResizer::Resize(LONG container) {
    if (window_ == nullptr || !CONTROLQUEUE || !RESIZELIST) return 0;
    RESIZELIST->Free();
    const WindowRect now = window_->Rect();
    if (CONTROLQUEUE->Records() == 0) return 0;
    if (now.WIDTH == PREVIOUSWIN.WIDTH && now.HEIGHT == PREVIOUSWIN.HEIGHT) return 0;

    LONG saved_defer = 0;
    if (DEFERMOVES) {
        saved_defer = window_->DeferMove();
        window_->SetDeferMove(LONG(CONTROLQUEUE->Records()));
    }
    if (now.WIDTH == ORIGWIN.WIDTH && now.HEIGHT == ORIGWIN.HEIGHT) {
        RestoreControls();
    } else {
        WindowRect orig{0, 0, ORIGWIN.WIDTH, ORIGWIN.HEIGHT};
        WindowRect cur{0, 0, now.WIDTH, now.HEIGHT};
        bool known = true;
        if (container != 0) {
            known = Find(container);
            if (known) {
                orig = CONTROLQUEUE->POS;
                cur = window_->ControlRect(container);
            }
        }
        if (known) ResizeContainer(container, orig, cur, 0);
        if (!DEFERMOVES) {
            const bool grown =
                now.WIDTH / 2.0 + now.HEIGHT / 2.0 > PREVIOUSWIN.WIDTH / 2.0 + PREVIOUSWIN.HEIGHT / 2.0;
            RESIZELIST->SortBy([grown](const ResizerMove& a, const ResizerMove& b) {
                return grown ? a.PRIORITY > b.PRIORITY : a.PRIORITY < b.PRIORITY;
            });
        }
        for (std::size_t i = 1, n = RESIZELIST->Records(); i <= n; ++i) {
            RESIZELIST->Get(i);
            if (!(RESIZELIST->AFTER == RESIZELIST->BEFORE)) Apply(RESIZELIST->CONTROLID, RESIZELIST->AFTER);
        }
    }
    if (DEFERMOVES) window_->SetDeferMove(saved_defer < 0 ? saved_defer : 0);
    RESIZECALLED = 1;
    PREVIOUSWIN = now;
    return 0;
}

void WindowResizer::Apply(LONG control, const WindowRect& rect) {
    WindowRect current = window_->ControlRect(control);
    WindowRect target = rect;
    if (window_->NoWidth(control)) target.WIDTH = current.WIDTH;
    if (!(target == current)) window_->SetControlRect(control, target);
}

void WindowResizer::RestoreControls() {
    if (window_ == nullptr || !CONTROLQUEUE) return;
    for (std::size_t i = 1, n = CONTROLQUEUE->Records(); i <= n; ++i) {
        CONTROLQUEUE->Get(i);
        Apply(CONTROLQUEUE->ID, CONTROLQUEUE->POS);
    }
}

void WindowResizer::RestoreOriginal() {
    if (window_ == nullptr) return;
    WindowRect r = window_->Rect();
    r.WIDTH = ORIGWIN.WIDTH;
    r.HEIGHT = ORIGWIN.HEIGHT;
    window_->SetRect(r);
    RestoreControls();
    PREVIOUSWIN = window_->Rect();
}

}  // namespace dt
