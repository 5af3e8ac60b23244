// Where a caption-less window goes on the screen (sign-in window, main window, message box).
#pragma once

namespace krevol {

struct WindowPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The window of `windowWidth` x `windowHeight` centred in a screen work area of `areaWidth` x
// `areaHeight`: x = (W - w) / 2 and y = (H - h) / 2 (integer division), width W - 2x and height
// h + (H - h) % 2, so the odd pixel of an odd margin goes to the window. On a work area smaller than
// the window in one direction, the window keeps its size there and starts at the area's edge, so
// that its top strip (the only place to drag it from) stays on the screen.
constexpr WindowPlacement centredPlacement(int areaWidth, int areaHeight, int windowWidth = 960,
                                           int windowHeight = 640) {
    WindowPlacement placement;
    if (areaWidth >= windowWidth) {
        placement.x = (areaWidth - windowWidth) / 2;
        placement.width = areaWidth - 2 * placement.x;
    } else {
        placement.width = windowWidth;
    }
    if (areaHeight >= windowHeight) {
        placement.y = (areaHeight - windowHeight) / 2;
        placement.height = windowHeight + (areaHeight - windowHeight) % 2;
    } else {
        placement.height = windowHeight;
    }
    return placement;
}

}  // namespace krevol
