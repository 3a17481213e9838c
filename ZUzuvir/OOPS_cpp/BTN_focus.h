// The keyboard focus of the widget layer: which widget takes the keys.
#ifndef BTN_FOCUS_H
#define BTN_FOCUS_H

// Focus identity of the widget that has the keyboard focus, 0 for none. A
// widget's identity is the integer part of its y plus that of its x shifted left
// by 13 bits.
extern int BTN_focus_id;

// No widget has the keyboard focus afterwards (the clock calls it on every press).
void BTN_unfocus_any();

#endif
