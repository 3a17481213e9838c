#include "OOPS_cpp/xtim.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/BTN_focus.h"
#include "OOPS_cpp/colr.h"

static unsigned long long steady_microseconds()
{
	using namespace std::chrono;
	return (unsigned long long)duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

unsigned long long (*xtim_microseconds)() = steady_microseconds;

namespace {

const float period_min = 0.0010000999f;
const float period_max = 0.05263158f;  // 1/19

const double ot_period[9] = {10, 5, 2, 1, 0.5, 0.2, 0.1, 0.05, 0.025};

// The update's own state, one set for the program.
struct update_state {
	bool     started = false;
	double   start_time = 0;
	// The two smoothers of the frame period: period, frame counter (kept modulo
	// 10) and the elapsed time at the last measurement.
	float prd_win_0 = 0.02f, last_time_FM = 0;  // main window
	int   cntr_FM = 0;
	float prd_win_n = 0.02f, last_time_UI = 0;  // dialogs
	int   cntr_UI = 0;
	// Last fire times of the interval flags.
	float sim_ot01 = 0, sim_ot02 = 0, sim_ot05 = 0, sim_ot1 = 0, sim_ot2 = 0, sim_ot5 = 0, sim_ot10 = 0,
	      sim_ot20 = 0, sim_ot40 = 0;
	float act_ot01 = 0, act_ot02 = 0, act_ot05 = 0, act_ot1 = 0, act_ot2 = 0, act_ot5 = 0, act_ot10 = 0,
	      act_ot20 = 0, act_ot40 = 0;
	float    mx = 999, my = 999;  // pointer at the previous update
};

update_state st;

bool               have_init_call = false;
unsigned long long init_call = 0;
unsigned long long old_stamp = 0;
bool               have_last_time = false;
float              last_time = 0;

// One smoother: measures on the first run and every tenth after; returns the period.
float smooth(float& prd, int& cntr, float& last_time, float elapsed, float& period_ratio)
{
	int taken = cntr;
	cntr = (cntr + 1) % 10;
	if (taken == 0) {
		float ratio = (float)(((double)(elapsed - last_time) * 0.1) / (double)prd);
		if (ratio < 0.5f) ratio = 0.5f;
		if (ratio > 1.5f) ratio = 1.5f;
		period_ratio = ratio;
		prd = (float)((double)prd * pow((double)ratio, 0.25));
		if (prd < period_min) prd = period_min;
		if (prd > period_max) prd = period_max;
		last_time = elapsed;
	}
	return prd;
}

// Flag k is 1 for the one frame in which its period has passed since it last fired.
// The four short periods compare in double, the rest in single precision.
void interval_flags(float t, float* const last[9], int flags[9])
{
	for (int k = 0; k < 9; ++k) {
		float d = fabsf(t - *last[k]);
		bool fire = k < 5 ? d > (float)ot_period[k] : (double)d > ot_period[k];
		flags[k] = fire ? 1 : 0;
		if (fire) *last[k] = t;
	}
}

}  // namespace

void xtim_reset_update_state()
{
	st = update_state();
	have_init_call = false;
	init_call = 0;
	old_stamp = 0;
	have_last_time = false;
	last_time = 0;
}

xtim_class::xtim_class()
{
	memset(this, 0, sizeof(*this));
	first_frame = 1;
	sim_spare_f[0] = sim_spare_f[1] = 1.0f;
	frame_period[0] = frame_period[1] = 0.02f;
	period_ratio = 1.0f;
	time_of_day[0] = time_of_day[1] = 43200.0f;
	sim_factor = 1.0f / 19.0f;
	day_of_year = 90;
}

long long xtim_class::microsecs()
{
	unsigned long long now = xtim_microseconds();
	if (!have_init_call) {
		have_init_call = true;
		init_call = now;
	}
	return (long long)(now - init_call);
}

int xtim_class::del_time(unsigned long long* old)
{
	if (!old) old = &old_stamp;
	unsigned long long now = (unsigned long long)microsecs();
	int d = (int)(now - *old);
	*old = now;
	return d;
}

void xtim_class::current_month_day(int* month, int* day)
{
	static const int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
	int d = day_of_year < 0 ? 0 : day_of_year;
	int m = 0;
	// Days past the year's end stay in December.
	while (m < 11 && d >= month_days[m]) d -= month_days[m++];
	*month = m;
	*day = d + 1;
}

void xtim_hrs_min_sec(float seconds, float* hrs, float* min, float* sec)
{
	float h = truncf(seconds / 3600.0f);
	float m = truncf(seconds / 60.0f) - h * 60.0f;
	*hrs = h;
	*min = m;
	*sec = truncf(seconds) - h * 3600.0f - m * 60.0f;
}

void xtim_update()
{
	// Time.
	double now = (double)xtim_class::microsecs() / 1000000.0;
	if (!st.started) {
		st.started = true;
		st.start_time = now;
	}
	const float t = (float)(now - st.start_time);
	xtim.elapsed_time = t;

	// Frame period. Each window kind keeps its own smoother; the idle one's last
	// measurement time follows along so that it measures only its own frames.
	if (mnw.cur_wind != 0 && mnw._sec_mon_inuse == 0) {
		st.last_time_FM = t;
		if (mnw.cur_wind >= 995 && mnw.cur_wind <= 999) {
			st.last_time_UI = t;  // fixed-size dialogs leave the period alone
		} else {
			float p = smooth(st.prd_win_n, st.cntr_UI, st.last_time_UI, t, xtim.period_ratio);
			xtim.frame_period[0] = xtim.frame_period[1] = xtim.frame_period[2] = p;
		}
	} else {
		float p = smooth(st.prd_win_0, st.cntr_FM, st.last_time_FM, t, xtim.period_ratio);
		xtim.frame_period[0] = xtim.frame_period[1] = xtim.frame_period[2] = p;
		st.last_time_UI = t;
	}

	// Interval flags.
	float* const sim_last[9] = {&st.sim_ot01, &st.sim_ot02, &st.sim_ot05, &st.sim_ot1, &st.sim_ot2,
	                            &st.sim_ot5,  &st.sim_ot10, &st.sim_ot20, &st.sim_ot40};
	float* const act_last[9] = {&st.act_ot01, &st.act_ot02, &st.act_ot05, &st.act_ot1, &st.act_ot2,
	                            &st.act_ot5,  &st.act_ot10, &st.act_ot20, &st.act_ot40};
	interval_flags(xtim.sim_time, sim_last, xtim.sim_ot_flags);
	interval_flags(t, act_last, xtim.act_ot_flags);

	// Mouse timing, against the press time from before this frame.
	const float press = mnw.press_time;
	mnw.mouse_long_hold = mnw.mouse_held && t > press + 0.25f;
	mnw.mouse_double = mnw.mouse_pressed && press + 0.25f > t;
	mnw.mouse_quick_release = mnw.mouse_released && press + 0.25f > t;
	if (mnw.mouse_pressed) {
		mnw.mouse_held = 1;
		mnw.move_time = mnw.press_time = t;
		BTN_unfocus_any();
	}
	if (mnw.mouse_released) {
		mnw.mouse_held = 0;
		mnw.mouse_long_hold = 0;
	}
	if (fabsf(mnw.mouse_x - st.mx) > 0.5f || fabsf(mnw.mouse_y - st.my) > 0.5f) mnw.move_time = t;
	st.mx = mnw.mouse_x;
	st.my = mnw.mouse_y;

	// Blinking highlights: a level between 0.4 and 1.0, about 0.314 s a cycle.
	const float q = (float)(0.7 + 0.3 * (double)sinf(20.0f * t));
	colr.assign(79, q, q, q);
	colr.assign(80, q, (float)(0.5 * q), 0);
	colr.assign(81, q, (float)(0.3 * q), (float)(0.3 * q));
	colr.assign(82, (float)(0.3 * q), (float)(0.3 * q), q);
	colr.assign(83, (float)(0.2 * q), (float)(0.8 * q), (float)(0.2 * q));
	colr.assign(84, (float)(0.7 * q), (float)(0.7 * q), (float)(0.2 * q));
}

void xtim_class::profile_chart(std::string label, int total)
{
	if (!mnw.profile_on) return;

	int d = del_time(nullptr);
	std::streamsize keep = xer.precision();
	std::ios::fmtflags keep_flags = xer.flags();
	xer << label << "=";
	xer.width(6);
	xer.precision(0);
	// Fixed: with no digits after the point, 12.3 prints 12, not 1e+01.
	xer << std::fixed << d * 0.1 << " | ";
	xer.flags(keep_flags);
	if (total) {
		float now = (float)((double)microsecs() / 1000000.0);
		if (!have_last_time) {
			have_last_time = true;
			last_time = now;
		}
		xer.precision(3);
		xer << "   total: " << now - last_time << " sec for topwi=" << mnw.cur_wind << "\n";
		last_time = now;
	}
	xer.precision(keep);
}
