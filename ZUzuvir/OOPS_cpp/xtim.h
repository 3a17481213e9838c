// The program's clock: real elapsed time, the smoothed frame period, interval
// flags that fire once per period, the mouse timing flags of mnw and the pulsing
// palette entries, all advanced once per frame by xtim_update.
#ifndef XTIM_H
#define XTIM_H

#include <string>

class xtim_class {
public:
	xtim_class();

	static long long microsecs();  // since the first clock reading of the program
	// Microseconds since *old (the shared stamp when null), storing the new stamp
	// there; cut to 32 bits.
	static int del_time(unsigned long long* old);
	void current_month_day(int* month, int* day);  // 0-based month, 1-based day
	void profile_chart(std::string label, int total);

	int   first_frame;          // 1 until the first per-frame hook has run
	int   sim_spare_i[3];       // the simulator's; not used here
	float sim_spare_f[2];
	float frame_period[3];      // smoothed frame period in seconds, the same in all three
	float period_ratio;         // last clamped ratio of measured to assumed frame time
	int   frame_count;
	float elapsed_time;         // real seconds since the first update
	float sim_time;             // nothing advances it here
	int   sim_spare_a[2];
	float time_of_day[2];       // seconds since midnight; not advanced here
	int   sim_spare_b;
	float sim_factor;           // 1/19; not read here
	int   sim_spare_c[2];
	int   day_of_year;          // 0-based
	int   sim_spare_d[2];
	int   sim_ot_flags[9];      // 1 for one frame each 10, 5, 2, 1, 0.5, 0.2, 0.1, 0.05, 0.025 s of sim_time
	int   act_ot_flags[9];      // the same on elapsed_time
};

extern xtim_class xtim;

// Advances the clock by one frame.
void xtim_update();

// Hours, minutes and seconds of a count of seconds, each cut toward zero.
void xtim_hrs_min_sec(float seconds, float* hrs, float* min, float* sec);

// The clock's source of microseconds (any fixed origin); a steady clock unless a
// test drives it.
extern unsigned long long (*xtim_microseconds)();

// Test seam: forgets the first reading, the smoothers, the interval flags' last
// fire times and the pointer position, as at program start.
void xtim_reset_update_state();

#endif
