#include "GenC/MACIBM_event.h"

#include "GenC/MACIBM_alert.h"
#include "GenC/hl_globals.h"
#include "Installer-f/inst_screen.h"
#include "Installer-f/inst_services.h"
#include "OOPS_cpp/oglp.h"
#include "OOPS_cpp/tman.h"
#include "OOPS_cpp/xtim.h"
#include "Platform/plat_gl.h"
#include "Platform/plat_signals.h"
#include "Thread/hl_exception.h"

static const char* const kFile = "ZUzuvir/GenC/MACIBM_event";
const int one_tick_ms = 17;  // a sixtieth of a second, rounded up

void MACIBM_startwind(int wind)
{
	mnw.cur_wind = wind;
	mnw.org_x = mnw.org_y = 0;
	OGL_viewport(2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1.0f, 0);
	// GL starts with (ONE, ZERO): every blended picture's edges would come out opaque.
	OGL_nrml_colors();
	OGL_plot_back_col();
}

static void pump_events()
{
	static plat_gl_input in;
	plat_gl_pump_events(stg._use_max_cpu ? 0 : one_tick_ms, &in);
	// Window pixels from the top-left to interface units from the bottom-left.
	mnw.mouse_x = (float)in.x / mnw.ui_scale;
	mnw.mouse_y = (float)(mnw.pix_dy - 1 - in.y) / mnw.ui_scale;
	mnw.mouse_pressed |= in.pressed;
	mnw.mouse_released |= in.released;
	if (in.close || plat_quit_requested()) app_done = 1;
}

static void texture_alert(bool failed, void (tman_class::*mute)())
{
	if (!failed) return;
	__MACIBM_alert(0, "Some textures could not be loaded.", "", "", "", t_alert, kFile, __LINE__);
	(tman.*mute)();
}

void MACIBM_event_proc()
{
	mnw.mouse_pressed = mnw.mouse_released = 0;
	xtim.profile_chart("init", 0);

	if (mnw.cur_wind == 0) MACIBM_startwind(0);
	xtim.profile_chart("startwin", 0);

	pump_events();
	xtim.profile_chart("event", 0);

	if (mnw.cur_wind == 0) {
		THREAD_check_exception(1);
		texture_alert(tman.has_scene_load_fail(), &tman_class::mute_scene_load_fail);
		texture_alert(tman.has_plane_load_fail(), &tman_class::mute_plane_load_fail);
		texture_alert(tman.has_instl_load_fail(), &tman_class::mute_instl_load_fail);
	}
	xtim.profile_chart("netlist", 0);

	xtim_update();
	if (mnw.cur_wind == 0) APP_update();
	xtim.first_frame = 0;
	xtim.profile_chart("menu", 0);

	OGL_sbuff();
	xtim.profile_chart("sbuff", 0);

	xtim.frame_count += 1;
	xtim.profile_chart("oglwork", 0);
	xtim.profile_chart("finish", 1);
}
