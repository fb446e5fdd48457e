// WindowResizer: the geometry rule, default strategies, the control list, containers and
// the resize pass (deferral, ordering, no-op resizes, the way back to the initial size).
#include "framework/window_resizer.h"

#include <gtest/gtest.h>

#include "fake_window_port.h"

namespace dt {
namespace {

using testing::FakeWindowPort;

constexpr LONG kButton = 9, kPrompt = 10, kEntry = 8, kList = 14, kSheet = 37, kTab = 38, kPanel = 39,
               kMenu = 19, kItem = 20;

WindowRect R(LONG x, LONG y, LONG w, LONG h) {
    return WindowRect{x, y, w, h};
}

TEST(ResizerGeometry, ComputeRectanglePerStrategy) {
    WindowResizer rs;
    const WindowRect orig = R(0, 0, 400, 300), wider = R(0, 0, 500, 300), both = R(0, 0, 800, 600);
    // Scale: position and size by the ratios.
    EXPECT_EQ(rs.ComputeRectangle(0, 0, R(100, 50, 40, 20), orig, both), R(200, 100, 80, 40));
    // Lock: initial position, locked size.
    EXPECT_EQ(rs.ComputeRectangle(0x101, 3, R(100, 50, 40, 20), orig, both), R(100, 50, 40, 20));
    // Right/bottom edge with locked size keeps the distance to the edges.
    EXPECT_EQ(rs.ComputeRectangle(0x202, 3, R(350, 270, 40, 20), orig, both), R(750, 570, 40, 20));
    // Right edge without a size lock scales the distance.
    EXPECT_EQ(rs.ComputeRectangle(0x2, 2, R(300, 10, 40, 20), orig, both), R(600, 20, 80, 20));
    // Left/top edge.
    EXPECT_EQ(rs.ComputeRectangle(0x303, 3, R(30, 40, 10, 10), orig, both), R(30, 40, 10, 10));
    // Centre: offset from the centre kept (locked) or scaled.
    EXPECT_EQ(rs.ComputeRectangle(0x404, 3, R(180, 140, 40, 20), orig, both), R(380, 290, 40, 20));
    EXPECT_EQ(rs.ComputeRectangle(0x4, 0, R(180, 140, 40, 20), orig, wider), R(225, 140, 50, 20));
    // Keep right/bottom margin: the size follows the container.
    EXPECT_EQ(rs.ComputeRectangle(0x303, 12, R(10, 10, 380, 280), orig, both), R(10, 10, 780, 580));
    // Half of the margin change goes into the size.
    EXPECT_EQ(rs.ComputeRectangle(0x303, 48, R(10, 10, 100, 100), orig, both), R(10, 10, 300, 250));
    // A container's own origin: children keep their offset from its new position.
    EXPECT_EQ(rs.ComputeRectangle(0x303, 3, R(60, 70, 10, 10), R(50, 50, 100, 100), R(80, 90, 200, 200)),
              R(90, 110, 10, 10));
    // Scaling inside a container that does not sit at the window's corner keeps the child
    // inside it: only the offset scales.
    EXPECT_EQ(rs.ComputeRectangle(0, 0, R(260, 20, 10, 10), R(250, 10, 100, 100), R(250, 10, 300, 200)),
              R(280, 30, 30, 20));
    // A container without extent scales by 1 instead of dividing by zero.
    EXPECT_EQ(rs.ComputeRectangle(0, 0, R(5, 5, 10, 10), R(0, 0, 0, 0), R(0, 0, 100, 100)), R(5, 5, 10, 10));
}

TEST(ResizerGeometry, NearestEdgeChoosesBySide) {
    WindowResizer rs;
    const WindowRect orig = R(0, 0, 400, 300), now = R(0, 0, 500, 400);
    // Near the left/top: the distance to that edge stays.
    EXPECT_EQ(rs.ComputeRectangle(0x505, 3, R(10, 10, 40, 20), orig, now), R(10, 10, 40, 20));
    // Near the right/bottom: moves with that edge.
    EXPECT_EQ(rs.ComputeRectangle(0x505, 3, R(350, 270, 40, 20), orig, now), R(450, 370, 40, 20));
}

TEST(ResizerDefaults, TableByTypeAndStrategy) {
    USHORT p = 0, s = 0;
    WindowResizer::DefaultStrategies(1, kButton, p, s);
    EXPECT_EQ(p, 0x505);
    EXPECT_EQ(s, 3);
    WindowResizer::DefaultStrategies(2, kPrompt, p, s);
    EXPECT_EQ(p, 0x300);
    EXPECT_EQ(s, 2);
    WindowResizer::DefaultStrategies(1, kPrompt, p, s);
    EXPECT_EQ(p, 0);
    EXPECT_EQ(s, 0);
    WindowResizer::DefaultStrategies(2, kSheet, p, s);
    EXPECT_EQ(p, 0x303);
    EXPECT_EQ(s, 12);
    WindowResizer::DefaultStrategies(1, 12, p, s);
    EXPECT_EQ(s, 3);
    WindowResizer::DefaultStrategies(3, kList, p, s);
    EXPECT_EQ(p, 0x101);
    EXPECT_EQ(s, 3);
    WindowResizer::DefaultStrategies(2, 99, p, s);
    EXPECT_EQ(p, 0);
    EXPECT_EQ(s, 0);
}

class ResizerWindow : public ::testing::Test {
  protected:
    FakeWindowPort port;
    WindowResizer rs;
    void TearDown() override { rs.Shutdown(); }
};

TEST_F(ResizerWindow, ResetKeepsOnlyResizableControlsInNumberOrder) {
    port.Add(1, kMenu, R(0, 0, 0, 0));
    port.Add(2, kItem, R(0, 0, 0, 0), 1);
    port.Add(5, kList, R(10, 10, 100, 100));
    port.Add(3, kTab, R(0, 0, 0, 0));
    port.Add(4, kButton, R(300, 250, 40, 20));
    port.Add(6, kList, R(10, 150, 100, 14));
    port.controls[6].drop = true;
    port.Add(7, kButton, R(0, 0, 10, 10));
    port.controls[7].in_toolbar = true;
    port.Add(8, 200, R(0, 0, 10, 10));  // beyond the layer's control range
    rs.Startup(port, AppStrategy::kSpread, 1, 0);
    ASSERT_EQ(rs.CONTROLQUEUE->Records(), 3u);
    rs.CONTROLQUEUE->Get(1);
    EXPECT_EQ(rs.CONTROLQUEUE->ID, 4);
    rs.CONTROLQUEUE->Get(3);
    EXPECT_EQ(rs.CONTROLQUEUE->ID, 6);
    // A drop-down list takes the defaults of type 8.
    EXPECT_EQ(rs.CONTROLQUEUE->POSITIONALSTRATEGY, 0x300);
    EXPECT_EQ(rs.CONTROLQUEUE->RESIZESTRATEGY, 2);
    EXPECT_EQ(rs.CONTROLQUEUE->TYPE, kList);
    EXPECT_TRUE(port.imm);
    EXPECT_EQ(port.min_size, R(0, 0, 400, 300));
    EXPECT_EQ(rs.DEFERMOVES, 1);
    // A destroyed control leaves the list at the next Reset.
    port.controls.erase(5);
    port.controls[4].rect = R(310, 250, 40, 20);
    rs.Reset();
    EXPECT_EQ(rs.CONTROLQUEUE->Records(), 2u);
    rs.CONTROLQUEUE->Get(1);
    EXPECT_EQ(rs.CONTROLQUEUE->POS, R(310, 250, 40, 20));
}

TEST_F(ResizerWindow, WideningMovesNearRightButtonByTheChange) {
    port.Add(1, kButton, R(350, 270, 40, 20));
    port.Add(2, kButton, R(10, 10, 40, 20));
    rs.Startup(port, AppStrategy::kResize);
    port.SizeTo(500, 300);
    EXPECT_EQ(port.controls[1].rect, R(450, 270, 40, 20));
    EXPECT_EQ(port.controls[2].rect, R(10, 10, 40, 20));
    EXPECT_EQ(rs.RESIZECALLED, 1);
    // The moves were collected as one deferred batch and carried out at the end.
    ASSERT_GE(port.log.size(), 2u);
    EXPECT_EQ(port.log.front(), "Defer 2");
    EXPECT_EQ(port.log.back(), "Defer 0");
}

TEST_F(ResizerWindow, SpreadStrategyListGrowsEntryScales) {
    port.Add(1, kList, R(10, 20, 200, 150));
    port.Add(2, kEntry, R(100, 200, 80, 12));
    rs.Startup(port, AppStrategy::kSpread);
    port.SizeTo(600, 400);
    EXPECT_EQ(port.controls[1].rect, R(10, 20, 400, 250));
    // Type 8: top and height kept, left and width scaled by 1.5.
    EXPECT_EQ(port.controls[2].rect, R(150, 200, 120, 12));
}

TEST_F(ResizerWindow, BackToInitialSizeRestoresEveryRectangle) {
    port.Add(1, kList, R(7, 9, 203, 151));
    port.Add(2, kEntry, R(101, 203, 83, 13));
    port.Add(3, kButton, R(333, 277, 41, 17));
    port.Add(4, kPrompt, R(13, 231, 37, 9));
    port.controls[2].rect = R(101, 203, 83, 13);
    rs.Startup(port, AppStrategy::kResize);
    std::map<LONG, WindowRect> initial;
    for (auto& [id, c] : port.controls) initial[id] = c.rect;
    const LONG sizes[][2] = {{533, 317}, {377, 211}, {1024, 768}, {401, 299}};
    for (auto& s : sizes) port.SizeTo(s[0], s[1]);
    EXPECT_NE(port.controls[2].rect, initial[2]);
    port.SizeTo(400, 300);
    for (auto& [id, c] : port.controls) EXPECT_EQ(c.rect, initial[id]) << "control " << id;
    // RestoreOriginal gives the window its size back too.
    port.SizeTo(640, 480);
    rs.RestoreOriginal();
    EXPECT_EQ(port.window.WIDTH, 400);
    EXPECT_EQ(port.window.HEIGHT, 300);
    for (auto& [id, c] : port.controls) EXPECT_EQ(c.rect, initial[id]) << "control " << id;
}

TEST_F(ResizerWindow, UnchangedSizeDoesNothing) {
    port.Add(1, kList, R(10, 10, 100, 100));
    rs.Startup(port, AppStrategy::kResize);
    port.window.XPOS = 200;  // moved, not sized
    port.Fire(Event::Sized);
    EXPECT_TRUE(port.log.empty());
    EXPECT_EQ(rs.RESIZECALLED, 0);
}

TEST_F(ResizerWindow, NoWidthKeepsWidthAndOrderFollowsDirection) {
    port.Add(1, kList, R(10, 10, 100, 100));
    port.Add(2, kList, R(200, 150, 100, 100));
    port.controls[2].no_width = true;
    rs.Startup(port, AppStrategy::kResize);
    rs.DEFERMOVES = 0;
    port.SizeTo(800, 600);
    EXPECT_EQ(port.controls[2].rect, R(400, 300, 100, 200));
    // Growing: the control farther from the top-left moves first.
    ASSERT_EQ(port.Moves(), 2);
    EXPECT_EQ(port.log[0], "Move 2");
    port.log.clear();
    port.SizeTo(500, 400);
    ASSERT_EQ(port.Moves(), 2);
    EXPECT_EQ(port.log[0], "Move 1");
}

TEST_F(ResizerWindow, ContainersCarryTheirChildren) {
    port.Add(1, kSheet, R(10, 10, 200, 150));
    port.Add(2, kTab, R(10, 10, 200, 150), 1);
    port.Add(3, kEntry, R(20, 30, 50, 12), 2);  // on the tab: its parent becomes the sheet
    port.Add(4, kPanel, R(250, 10, 100, 100));
    port.Add(5, kButton, R(260, 20, 30, 14));  // inside the panel
    port.Add(6, kPrompt, R(260, 20, 20, 8));   // same corner as 5: the innermost wins, no cycle
    rs.Startup(port, AppStrategy::kSpread);
    EXPECT_EQ(rs.ParentOf(3), 1);
    EXPECT_EQ(rs.ParentOf(5), 4);
    EXPECT_EQ(rs.ParentOf(6), 5);
    EXPECT_EQ(rs.ParentOf(4), 0);
    EXPECT_EQ(rs.ParentOf(1), 0);
    port.SizeTo(600, 400);
    // The panel keeps its corner and grows; its children follow its computed rectangle.
    EXPECT_EQ(port.controls[4].rect, R(250, 10, 300, 200));
    // On the sheet (which grew to 400 x 250 at 10, 10): left offset scaled inside the sheet,
    // top kept, height kept.
    EXPECT_EQ(port.controls[3].rect, R(30, 30, 100, 12));
    port.SizeTo(400, 300);
    EXPECT_EQ(port.controls[5].rect, R(260, 20, 30, 14));
    EXPECT_EQ(port.controls[4].rect, R(250, 10, 100, 100));
}

TEST_F(ResizerWindow, ShutdownUnregisters) {
    port.Add(1, kList, R(10, 10, 100, 100));
    rs.Startup(port, AppStrategy::kResize);
    rs.SetStrategy(1, 0x101, 3);
    rs.Shutdown();
    EXPECT_TRUE(port.handlers.empty());
    port.SizeTo(800, 600);
    EXPECT_EQ(port.Moves(), 0);
}

}  // namespace
}  // namespace dt
