// The program-wide objects and tables of the shell. They are built during static
// initialisation (in the order of hl_globals.cpp) and live until exit.
#ifndef HL_GLOBALS_H
#define HL_GLOBALS_H

#include <fstream>
#include <string>

extern std::string   stl_global;  // scratch text for building alert lines
extern std::string   app_path;    // prefix of relative paths; empty for the whole run
extern std::ofstream ouf;         // the framework's output file (ouf_open)
extern std::ofstream xer;         // the log, "Log.txt"

// The window-state record read by widgets and drawing.
struct mnw_class {
	int   cur_wind = -1;          // top window: 0 main, 995..999 dialogs, -1 before the first
	float org_x = 0, org_y = 0;   // origin of the current window in the GL window
	int   pix_dx = 0, pix_dy = 0, pix_depth = 0;
	float cen_x = 0, cen_y = 0, mar_x = 0, mar_y = 0;
	float ortho_l = 0, ortho_b = 0, ortho_r = 0, ortho_t = 0;
	float pix_scale = 0, ui_scale = 0;
	int   tex_res_level = 5;      // 0..5, 5 full resolution
	int   _sec_mon_inuse = 0;
	int   x_res_req = 1024, y_res_req = 768, _col_res_req = 32;
	int   _set_res = 0, _lang = 0, _alias_req = 0, _keylist_up = 1, _prefs_found = 0;
	float mouse_x = 0, mouse_y = 0;
	int   mouse_pressed = 0, mouse_released = 0;
	int   mouse_held = 0, mouse_long_hold = 0, mouse_double = 0, mouse_quick_release = 0;
	float press_time = 0, move_time = 0;
	int   profile_on = 0;
};
extern mnw_class mnw;

// The render settings; the capability fields are written once by the OpenGL probe.
struct ren_class {
	float       max_anisotropy = 0;
	int         num_tex_units = 0;
	int         num_image_units = 0;
	int         num_tex_coords = 0;
	const char* gl_vendor = nullptr;       // owned by OpenGL
	const char* gl_renderer = nullptr;
	const char* gl_version = nullptr;
	const char* gl_extensions = nullptr;
	int         green_mode = 0;            // non-zero draws every colour as a shade of green
	float       global_alpha = 1.0f;       // multiplies every 2-D alpha
};
extern ren_class ren;

extern int app_done;          // the main loop ends when non-zero
extern int g_case_sensitive;  // file paths get their letter case repaired when set

extern float lookup_sin[361];  // sine and cosine of 0..360 whole degrees
extern float lookup_cos[361];
extern float randrat[10000];   // fixed random fractions in [0, 0.9999)

const int scratch_array_bytes = 16 * 1024 * 1024;
extern unsigned char* scratch_array;  // 16-byte aligned, scratch_array_bytes long

// Start-up's share of the tables: points scratch_array at its buffer and fills
// randrat (generator seeded with 1) and the sine and cosine tables.
void MACIBM_init_tables();

#endif
