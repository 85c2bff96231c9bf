#include "ui/main/main_layout.h"

#include <algorithm>
#include <cmath>

namespace ondrel {

ScrollRange Rtn_ScrollRange(int viewport, int content) {
    ScrollRange r;
    if (viewport >= content) return r;
    const int excess = content - viewport;
    r.maximum = int(std::nearbyint(excess / 10.0));  // halves to even
    if (r.maximum <= 0 || viewport <= 0) return r;
    const int pages = (excess + viewport - 1) / viewport;
    r.largeStep = int(std::nearbyint(double(r.maximum) / pages));
    return r;
}

ResizeResult MainResize(int innerWidth, int innerHeight) {
    using namespace main_twips;
    ResizeResult r;
    const int bottom = std::min(innerHeight, 0 + kViewportHeight + 480);
    const int limit = kTabWidth + 90;
    int strip = innerWidth - kScrollLeft + 90;
    r.scrollShown = strip <= limit;
    if (!r.scrollShown) strip = limit;
    r.scrollTop = bottom - kScrollHeight;
    if (strip > 0) r.scrollWidth = strip;
    if (innerWidth - kViewportLeft > 0) r.viewportWidth = innerWidth - kViewportLeft;
    return r;
}

}  // namespace ondrel
