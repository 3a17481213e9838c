// The installer's screen: what the shell calls every frame, and the drawing of
// pieces of the installer's images.
#ifndef INST_SCREEN_H
#define INST_SCREEN_H

// Highlights of interface_rect: palette entry 103 is white, or tinted green or red.
enum { rect_plain = 0, rect_hilite_good = 1, rect_hilite_bad = 2 };

// Draws the w x h texels of the installer window image (ref 393) from texel
// (s, t) at window pixel (x, y), texel for pixel, tinted as `hilite` says.
void interface_rect(float x, float y, int s, int t, int w, int h, int hilite);

// Where the installer window stands on the 1024 x 768 screen.
const float inst_window_x = 7, inst_window_y = 7;

// The per-frame hook: draws the installer's screen.
void APP_update();

#endif
