// WindowResizer: keeps the controls of one resizable window in proportion when the
// window's size changes. It records every control's initial rectangle and computes new
// rectangles from per-control position and size strategies (defaults by control type
// and an application-wide choice). It reaches the window through WindowPort only.
#pragma once

#include <memory>

#include "framework/window_component.h"
#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

// Application-wide default strategies.
namespace AppStrategy {
constexpr BYTE kResize = 1;   // scale everything
constexpr BYTE kSpread = 2;   // the per-type table
constexpr BYTE kSurface = 3;  // leave every control where and how it is
}  // namespace AppStrategy

// Position strategy: low byte horizontal, high byte vertical.
namespace Resize {
constexpr USHORT kScale = 0;
constexpr USHORT kLockX = 1, kLockY = 0x100;
constexpr USHORT kFixRight = 2, kFixBottom = 0x200;
constexpr USHORT kFixLeft = 3, kFixTop = 0x300;
constexpr USHORT kFixXCenter = 4, kFixYCenter = 0x400;
constexpr USHORT kFixNearestX = 5, kFixNearestY = 0x500;
// Size strategy bits.
constexpr USHORT kLockWidth = 1;
constexpr USHORT kLockHeight = 2;
constexpr USHORT kConstantRight = 4;
constexpr USHORT kConstantBottom = 8;
constexpr USHORT kConstantRightCenter = 16;
constexpr USHORT kConstantBottomCenter = 32;
}  // namespace Resize

struct ResizerWindow {
    LONG XPOS = 0;
    LONG YPOS = 0;
    LONG WIDTH = 0;
    LONG HEIGHT = 0;
    BYTE MAXIMIZED = 0;
    BYTE ICONIZED = 0;
};

// One control of the window, with its initial rectangle and strategies.
struct ResizerControl {
    LONG ID;
    LONG TYPE;
    BYTE HASCHILDREN;
    USHORT POSITIONALSTRATEGY;
    USHORT RESIZESTRATEGY;
    WindowRect POS;
    LONG PARENTID;
};
// One move computed by a resize.
struct ResizerMove {
    LONG PRIORITY;
    LONG CONTROLID;
    LONG TYPE;
    WindowRect BEFORE;
    WindowRect AFTER;
};

class WindowResizer {
  public:
    WindowResizer() = default;
    virtual ~WindowResizer();
    WindowResizer(const WindowResizer&) = delete;
    WindowResizer& operator=(const WindowResizer&) = delete;

    BYTE APPSTRATEGY = 0;
    BYTE AUTOTRANSPARENT = 0;
    ResizerWindow ORIGWIN;
    std::unique_ptr<Queue<ResizerControl>> CONTROLQUEUE;
    BYTE DEFERMOVES = 0;
    WindowRect PREVIOUSWIN;
    BYTE RESIZECALLED = 0;
    std::unique_ptr<Queue<ResizerMove>> RESIZELIST;

    // 1: the control's container (PARENTID); 0 for the window or an unknown control.
    virtual LONG ParentOf(LONG control);
    // 2: (re)builds the control list from the window's current state.
    virtual void Reset();
    // 3: Resize(0).
    virtual void ResizeAll();
    // 4: moves the controls of a container (0: the whole window); returns 0.
    virtual int Resize(LONG container);
    // 5: the window and every control get their initial rectangles back.
    virtual void RestoreOriginal();
    // 6: PARENTID of every control from the layer's containers and from enclosure.
    virtual void SetParentDefaults();
    // 7: the new rectangle of a control (initial rectangle `ctl`) whose container had the
    // initial rectangle `orig_container` and now has `new_container`. Pure computation.
    virtual WindowRect ComputeRectangle(USHORT positional, USHORT resize, const WindowRect& ctl,
                                        const WindowRect& orig_container, const WindowRect& new_container);

    // Binds the resizer to `window` (which must outlive Shutdown), builds the control list
    // and registers for size events. setMinimum/setMaximum fix the initial size as the
    // window's minimum/maximum.
    void Startup(WindowPort& window, BYTE appStrategy, BYTE setMinimum = 0, BYTE setMaximum = 0);
    // Unregisters from the window and disposes the lists; safe to call twice.
    void Shutdown();
    // Sets a control's strategies; an unknown control is ignored.
    void SetStrategy(LONG control, USHORT positional, USHORT resize);
    // Sets a control's container; the parent (when not 0) is marked as having children.
    void SetParent(LONG control, LONG parent);
    // Every control back to its initial rectangle.
    void RestoreControls();

    // Default strategies of a control type (after the drop-down rule) for an app strategy.
    static void DefaultStrategies(BYTE appStrategy, LONG type, USHORT& positional, USHORT& resize);

  protected:
    WindowPort* window_ = nullptr;

  private:
    bool Find(LONG control);
    void ResizeContainer(LONG container, const WindowRect& orig, const WindowRect& now, int depth);
    void Apply(LONG control, const WindowRect& rect);
};

}  // namespace dt
