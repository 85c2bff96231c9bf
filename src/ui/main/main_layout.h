#pragma once

namespace ondrel {

// The main window's resize and scroll rules, in twips, apart from any widget.
struct ScrollRange {
    int smallStep = 36;
    int largeStep = 36;
    int maximum = 0;
};

// viewport: width of picMain(0); content: width of picMain(1).
ScrollRange Rtn_ScrollRange(int viewport, int content);

struct ResizeResult {
    bool scrollShown = false;
    int scrollTop = 0;
    int scrollWidth = 0;    // picScroll; the bar is 90 narrower; 0 = unchanged
    int viewportWidth = 0;  // picMain(0); 0 = unchanged
};

// The layout after a resize to the given inner size, from the designed values.
ResizeResult MainResize(int innerWidth, int innerHeight);

namespace main_twips {
inline constexpr int kInnerWidth = 16545;
inline constexpr int kInnerHeight = 12120;
inline constexpr int kViewportLeft = 225;
inline constexpr int kViewportHeight = 11085;
inline constexpr int kContentWidth = 16080;
inline constexpr int kTabWidth = 16050;
inline constexpr int kScrollLeft = 225;
inline constexpr int kScrollHeight = 465;
}  // namespace main_twips

}  // namespace ondrel
