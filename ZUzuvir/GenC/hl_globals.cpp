#include "GenC/hl_globals.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "GenH/hl_types.h"
#include "OOPS_cpp/tman.h"
#include "OOPS_cpp/xcam.h"
#include "OOPS_cpp/xtim.h"

// Built in this order.
std::string   stl_global;
std::string   app_path;
std::ofstream ouf;
std::ofstream xer;
mnw_class     mnw;
ren_class     ren;
xcam_class    xcam;
tman_class    tman;
xtim_class    xtim;

int app_done = 0;
int g_case_sensitive = 0;

float lookup_sin[361];
float lookup_cos[361];
float randrat[10000];

unsigned char* scratch_array = nullptr;
static unsigned char scratch_store[scratch_array_bytes + 16];

void MACIBM_init_tables()
{
	uintptr_t p = reinterpret_cast<uintptr_t>(scratch_store);
	scratch_array = scratch_store + ((16 - (p & 15)) & 15);

	// The product is taken in double and rounded once: a float rand() already
	// loses its low bits, and a float chain lands one step off for about a
	// third of the table.
	srand(1);
	for (float& r : randrat) r = (float)((double)rand() * (1.0 / 2147483648.0) * 0.9999);

	for (int deg = 0; deg <= 360; ++deg) {
		lookup_sin[deg] = sinf((float)deg * degtorad);
		lookup_cos[deg] = cosf((float)deg * degtorad);
	}
}
