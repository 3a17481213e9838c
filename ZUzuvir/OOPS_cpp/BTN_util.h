// The widget layer's label and frame routines that the text boxes draw with.
#ifndef BTN_UTIL_H
#define BTN_UTIL_H

#include <string>

// Splits a widget label into the piece drawn left of the widget, the piece drawn
// right of it and a third piece. The third piece is everything after the first
// "{" (a closing "}" at its end is dropped); what comes before it is split at the
// first "|": left piece before, right piece after. A label with neither is all
// left piece.
void BTN_expand_label(const std::string& label, std::string& left, std::string& right, std::string& third);

// A horizontal three-part frame from the interface sheet (left cap, stretched
// middle, right cap), centred on x (rounded) and vertically on y, w wide
// (rounded to an even number of pixels). Type 9 is the framed text field; any
// other type is fatal. The flag is accepted and not used by the field frame.
void BTN_frame1(int type, float x, float y, float w, int flag);

// A label in charset 100, palette entry 43 (81 when lit): side 0 ends the text
// at x, 1 centres it on x, 2 starts it at x. A label wider than 150 px that holds
// a space is split at the space nearest its middle into two lines, 5 px above
// and 5 px below y.
void BTN_util_draw_label(float x, float y, int side, const std::string& text, int lit);

#endif
