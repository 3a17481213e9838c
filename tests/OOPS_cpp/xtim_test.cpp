#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/BTN_focus.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/xtim.h"
#include "zuz_test.h"

namespace {

unsigned long long fake_now = 0;
unsigned long long fake_clock() { return fake_now; }

// The clock on a source the test drives, starting from a fresh program.
class Clock : public testing::Test {
protected:
	void SetUp() override
	{
		fake_now = 5000000;  // any origin
		xtim_microseconds = fake_clock;
		xtim_reset_update_state();
		xtim = xtim_class();
		mnw = mnw_class();
		mnw.cur_wind = 0;
		colr = colr_class();
	}
	void TearDown() override
	{
		xtim_microseconds = saved;
		xtim_reset_update_state();
		mnw = mnw_class();
		colr = colr_class();
	}
	// One frame at t seconds after the first.
	void frame(double t)
	{
		fake_now = 5000000 + (unsigned long long)llround(t * 1e6);
		xtim_update();
		mnw.mouse_pressed = mnw.mouse_released = 0;
	}
	unsigned long long (*saved)() = xtim_microseconds;
};

}  // namespace

TEST_F(Clock, FirstFrameMeasuresAtOnceAndSteadyFramesKeepThePeriod)
{
	frame(0);
	EXPECT_EQ(xtim.elapsed_time, 0.0f);
	EXPECT_FLOAT_EQ(xtim.period_ratio, 0.5f);
	const float first = 0.02f * 0.840896415f;  // 0.5^0.25
	for (float p : xtim.frame_period) EXPECT_FLOAT_EQ(p, first);

	// From then on frames of exactly that length keep it.
	double t = 0;
	for (int i = 0; i < 200; ++i) frame(t += first);
	EXPECT_NEAR(xtim.frame_period[1], first, 1e-6);
	EXPECT_NEAR(xtim.period_ratio, 1.0f, 1e-4);
}

TEST_F(Clock, PeriodStaysWithinItsClamps)
{
	struct {
		double frame_len;
		float  limit, ratio;
	} cases[] = {{2.0, 0.05263158f, 1.5f}, {0.02, 0.02f, 1.0f}, {0.000001, 0.0010000999f, 0.5f}};
	for (auto& c : cases) {
		SCOPED_TRACE(c.frame_len);
		SetUp();
		double t = 0;
		for (int i = 0; i < 1000; ++i) {
			frame(t += c.frame_len);
			ASSERT_GE(xtim.frame_period[0], 0.0010000999f);
			ASSERT_LE(xtim.frame_period[0], 0.05263158f);
		}
		EXPECT_NEAR(xtim.frame_period[2], c.limit, 1e-5);
		EXPECT_NEAR(xtim.period_ratio, c.ratio, 1e-4);  // clamped
	}
}

TEST_F(Clock, FixedSizeDialogsFreezeThePeriod)
{
	frame(0);
	for (int wind : {994, 995, 997, 999, 1000}) {
		SCOPED_TRACE(wind);
		mnw.cur_wind = wind;
		const float start = xtim.frame_period[0];
		double t = xtim.elapsed_time;
		for (int i = 0; i < 30; ++i) frame(t += 0.5);  // slow frames pull the period up
		if (wind >= 995 && wind <= 999)
			EXPECT_EQ(xtim.frame_period[0], start);
		else
			EXPECT_GT(xtim.frame_period[0], start);
	}

	// Slow frames of the main window, then a dialog's: its next measurement covers
	// only its own frame, not the main window's.
	mnw.cur_wind = 0;
	double t = xtim.elapsed_time;
	for (int i = 0; i < 30; ++i) frame(t += 0.5);
	mnw.cur_wind = 1000;
	frame(t + 0.001);
	EXPECT_EQ(xtim.period_ratio, 0.5f);
}

// Frames 1/64 s apart: flag k fires in exactly every gap-th frame, the first
// frame in which more than its period has passed since it last fired.
TEST_F(Clock, IntervalFlagsFireForOneFrameEachPeriod)
{
	const int gap[9] = {641, 321, 129, 65, 33, 13, 7, 4, 2};
	for (int n = 0; n <= 1300; ++n) {
		frame(n / 64.0);
		for (int k = 0; k < 9; ++k) {
			ASSERT_EQ(xtim.act_ot_flags[k], n > 0 && n % gap[k] == 0 ? 1 : 0) << "frame " << n << " flag " << k;
			ASSERT_EQ(xtim.sim_ot_flags[k], 0);  // sim_time never moves here
		}
	}
	xtim.sim_time = 11;
	frame(1301 / 64.0);
	EXPECT_EQ(xtim.sim_ot_flags[0], 1);

	// The short periods compare in double: 0.2f is a little more than 0.2.
	SetUp();
	frame(0);
	frame(0.2);
	EXPECT_EQ(xtim.act_ot_flags[5], 1);
}

TEST_F(Clock, PressesReleasesAndHolds)
{
	struct step {
		double t;
		int    pressed, released;
		int    held, long_hold, dbl, quick;
	} steps[] = {
		{1.00, 1, 0, 1, 0, 0, 0},
		{1.10, 0, 1, 0, 0, 0, 1},  // quick release
		{1.20, 1, 0, 1, 0, 1, 0},  // 0.2 s after the last press: double
		{1.50, 1, 0, 1, 1, 0, 0},  // 0.3 s after: not double; held since 1.2
		{1.70, 0, 0, 1, 0, 0, 0},
		{1.76, 0, 0, 1, 1, 0, 0},  // held for 0.26 s
		{1.80, 0, 1, 0, 0, 0, 0},  // releasing clears it
		{2.00, 1, 1, 0, 0, 0, 0},  // press and release in one frame: not held
		{2.27, 1, 0, 1, 0, 0, 0},  // 0.27 s after: not double
		{2.55, 0, 1, 0, 0, 0, 0},  // released 0.28 s after the press: not quick
	};
	frame(0);
	for (const step& s : steps) {
		SCOPED_TRACE(s.t);
		BTN_focus_id = 1234;
		mnw.mouse_pressed = s.pressed;
		mnw.mouse_released = s.released;
		frame(s.t);
		// held, long hold, double, quick release
		EXPECT_EQ(std::vector<int>({mnw.mouse_held, mnw.mouse_long_hold, mnw.mouse_double, mnw.mouse_quick_release}),
		          std::vector<int>({s.held, s.long_hold, s.dbl, s.quick}));
		if (s.pressed) {
			EXPECT_FLOAT_EQ(mnw.press_time, (float)s.t);
		}
		EXPECT_EQ(BTN_focus_id, s.pressed ? 0 : 1234);  // a press drops the keyboard focus
	}
}

TEST_F(Clock, MovementTime)
{
	frame(0);
	EXPECT_EQ(mnw.move_time, 0.0f);  // the pointer "moved" from 999, 999
	mnw.mouse_x = 0.4f;
	frame(1);
	EXPECT_EQ(mnw.move_time, 0.0f);
	mnw.mouse_y = 0.6f;
	frame(2);
	EXPECT_EQ(mnw.move_time, 2.0f);
}

TEST_F(Clock, PulsingEntries)
{
	const double pi = 3.14159265358979;
	struct {
		double t;
		float  q;
	} cases[] = {{0, 0.7f}, {pi / 40, 1.0f}, {3 * pi / 40, 0.4f}};
	for (auto& c : cases) {
		SCOPED_TRACE(c.t);
		frame(c.t);
		const float q = c.q;
		const float want[6][3] = {{q, q, q},
		                          {q, 0.5f * q, 0},
		                          {q, 0.3f * q, 0.3f * q},
		                          {0.3f * q, 0.3f * q, q},
		                          {0.2f * q, 0.8f * q, 0.2f * q},
		                          {0.7f * q, 0.7f * q, 0.2f * q}};
		for (int e = 0; e < 6; ++e)
			for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(colr.palette[79 + e][ch], want[e][ch], 2e-5) << 79 + e;
	}
	EXPECT_EQ(colr.palette[78][0], 0.44f);  // neighbours untouched
	EXPECT_EQ(colr.palette[85][0], 1.0f);
}

TEST_F(Clock, CalendarStampsAndProfile)
{
	struct {
		int day, month, mday;
	} days[] = {{0, 0, 1}, {31, 1, 1}, {59, 2, 1}, {90, 3, 1}, {364, 11, 31}, {400, 11, 67}, {-5, 0, 1}};
	for (auto& d : days) {
		int m, md;
		xtim.day_of_year = d.day;
		xtim.current_month_day(&m, &md);
		EXPECT_EQ(std::make_pair(m, md), std::make_pair(d.month, d.mday)) << d.day;
	}
	float h, m, s;
	xtim_hrs_min_sec(3725, &h, &m, &s);
	EXPECT_EQ(std::vector<float>({h, m, s}), std::vector<float>({1, 2, 5}));

	EXPECT_EQ(xtim_class::microsecs(), 0);  // counts from the first reading
	unsigned long long stamp = 0;
	fake_now += 70;
	EXPECT_EQ(xtim_class::del_time(&stamp), 70);

	zuz_test::LogCapture log;
	xtim.profile_chart("off", 1);  // the switch is off
	mnw.profile_on = 1;
	xtim_class::del_time(nullptr);
	fake_now += 50;
	xtim.profile_chart("event", 0);
	xtim.profile_chart("finish", 1);
	fake_now += 1234000;
	xtim_class::del_time(nullptr);
	fake_now += 20;
	mnw.cur_wind = 2;
	xtim.profile_chart("finish", 1);
	fake_now += 123;
	xtim.profile_chart("netlist", 0);
	fake_now += 10000000;
	xtim.profile_chart("sbuff", 0);
	xer << 1.23456 << "\n";  // the log's own precision and format are left alone
	EXPECT_EQ(log.text(),
	          "event=     5 | finish=     0 |    total: 0 sec for topwi=0\n"
	          "finish=     2 |    total: 1.23 sec for topwi=2\n"
	          "netlist=    12 | sbuff=1000000 | 1.23456\n");
}
