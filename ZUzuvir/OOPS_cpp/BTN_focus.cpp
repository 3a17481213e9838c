#include "OOPS_cpp/BTN_focus.h"

int BTN_focus_id = 0;

void BTN_unfocus_any()
{
	BTN_focus_id = 0;
}
