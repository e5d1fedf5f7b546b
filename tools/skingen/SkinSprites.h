#pragma once
// The skin's pictures: each a name, a size in 1x units and a painter.

#include <cairo.h>

#include <functional>
#include <string>
#include <vector>

namespace skingen {

struct Sprite {
    std::string name;
    int width = 0;
    int height = 0;
    std::function<void(cairo_t*)> paint; // draws into (0, 0, width, height)
};

// The control sheet: frames, buttons, boxes, bars, marks, small icons and animations.
std::vector<Sprite> ControlSprites();
// The picture sheet: slides, device and computer pictures, drive tiles, logos.
std::vector<Sprite> PictureSprites();
// The wizard's step picture, a package picture of its own.
Sprite StepPicture();
// The program icon at a pixel size (full colour), and the notification-area variant.
void PaintProgramIcon(cairo_t* cr, int size);
void PaintTrayIcon(cairo_t* cr, int size);

} // namespace skingen
