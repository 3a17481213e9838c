// The one call of the scenery library into the image loaders: a region's tiles
// from a 360 x 180 image.
#ifndef DSF_REGION_BITMAP_H
#define DSF_REGION_BITMAP_H

#include <string>

enum { dsf_bitmap_done = 0, dsf_bitmap_unreadable = 1, dsf_bitmap_wrong_size = 2 };

// Loads path (".png", then ".bmp") as a one-byte alpha image. When it is 360
// wide and 180 high, tile (x, y) of mask becomes 1 where the pixel in column x
// of row y (bottom-up) is non-zero, else 0. *width and *height receive the
// image's size; the mask is untouched unless the result is dsf_bitmap_done.
int dsf_region_bitmap(const std::string& path, unsigned char* mask, int* width, int* height);

#endif
