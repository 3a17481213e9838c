// The shell in this process, in a child of its own: start-up, frames and
// shut-down as the program runs them. Start-up makes the folder of this test
// binary the working folder and writes Log.txt, the crawl and the memory report
// there.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "GenC/MACIBM_alert.h"
#include "GenC/MACIBM_event.h"
#include "GenC/MACIBM_init.h"
#include "GenC/hl_globals.h"
#include "Installer-f/inst_screen.h"
#include "OOPS_cpp/colr.h"
#include "OOPS_cpp/oglp.h"
#include "Platform/plat_system.h"
#include "Thread/hl_thread.h"
#include "hard_texes/hard_tex_layout.h"
#include "hard_texes/hard_texes.h"
#include "zuz_test.h"
// Last: its macros (None, Bool) would break the test framework's headers.
#include <X11/Xlib.h>

namespace {

// The screen as drawn from the images: the background, the window over it.
void expected_pixel(int x, int y, int rgb[3])
{
	const unsigned char* back = t_ins_back_1_dat + ((size_t)y * hard_tex::back_w + x) * 4;
	const int wx = x - (int)inst_window_x, wy = y - (int)inst_window_y;
	const bool in_window = wx >= 0 && wx < hard_tex::installer_w && wy >= 0 && wy < hard_tex::installer_pic_h;
	const unsigned char* win = in_window ? t_installer_dat + ((size_t)wy * hard_tex::installer_row + wx) * 4 : back;
	const float a = in_window ? win[3] / 255.0f : 0;
	for (int c = 0; c < 3; ++c) rgb[c] = (int)(win[c] * a + back[c] * (1 - a) + 0.5f);
}

// What a window manager sends when the close button is pressed.
bool press_close_button()
{
	Display* d = XOpenDisplay(nullptr);
	if (!d) return false;
	Window root, parent, *kids = nullptr, target = 0;
	unsigned count = 0;
	XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &count);
	for (unsigned i = 0; i < count && !target; ++i) {
		char* name = nullptr;
		if (XFetchName(d, kids[i], &name) && name && std::string(name) == "Nimbara 9") target = kids[i];
		if (name) XFree(name);
	}
	if (kids) XFree(kids);
	if (target) {
		XEvent e = {};
		e.xclient.type = ClientMessage;
		e.xclient.window = target;
		e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
		e.xclient.format = 32;
		e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
		XSendEvent(d, target, False, NoEventMask, &e);
	}
	XCloseDisplay(d);
	return target != 0;
}

// A few frames, then the window read back and compared with the images, then
// the close button.
void run_the_screen()
{
	const char* argv[] = {"screen_test", "--pref:_use_max_cpu=1"};
	MACIBM_init(2, argv);
	for (int i = 0; i < 3; ++i) MACIBM_event_proc();
	// Mesa keeps the back buffer over the swap; the frame last shown is still there.
	glReadBuffer(GL_BACK);
	OGL_screenshot(0);
	std::string failures;
	auto rgb = [](const auto* p) { return std::to_string(p[0]) + " " + std::to_string(p[1]) + " " + std::to_string(p[2]); };
	int wrong = 0;
	for (int y = 0; y < 768; ++y)
		for (int x = 0; x < 1024; ++x) {
			int want[3];
			expected_pixel(x, y, want);
			const unsigned char* got = scratch_array + ((size_t)y * 1024 + x) * 3;
			for (int c = 0; c < 3; ++c)
				if (abs(got[c] - want[c]) > 2) {
					if (++wrong <= 5)
						failures += "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + rgb(got) + " want " + rgb(want) + "\n";
					break;
				}
		}
	if (wrong) failures += std::to_string(wrong) + " pixels differ\n";
	// The interface colours as the artwork has them; 39 between 35 and 38.
	for (const hard_tex::swatch& sw : hard_tex::swatches) {
		const unsigned char want[3] = {sw.r, sw.g, sw.b};
		for (int c = 0; c < 3; ++c)
			if (fabsf(colr.palette[sw.entry][c] - want[c] / 255.0f) > 0.002f)
				failures += "palette entry " + std::to_string(sw.entry) + "\n";
	}
	for (int c = 0; c < 3; ++c)
		if (fabsf(colr.palette[39][c] - (colr.palette[35][c] + colr.palette[38][c]) / 2) > 1e-6f)
			failures += "palette entry 39\n";
	if (!press_close_button()) failures += "no window named Nimbara 9\n";
	for (int i = 0; i < 200 && !app_done; ++i) MACIBM_event_proc();
	if (!app_done) failures += "the close button did not end the frames\n";
	MACIBM_finishup(1);

	const std::string log = zuz_test::read_file("Log.txt");
	for (const char* line : {"log.txt for Nimbara 9.00 Beta-25", "\n     '--pref:_use_max_cpu'='1'\n",
	                         "\nOpenGL window    : X11 window 1024 x 768", "\nOpenGL Version   : ",
	                         "\nCPU count        : ", "\nClean exit from threads.\n"})
		if (log.find(line) == std::string::npos) failures += std::string("not in the log: ") + line + "\n";
	fprintf(stderr, "%s", failures.empty() ? "screen ok\n" : failures.c_str());
	fflush(stderr);
	_exit(failures.empty() ? 0 : 3);
}

void* give_up(void*)
{
	__MACIBM_alert(0, "A worker gives up.", "", "", "", t_exit, "tests/Installer/screen_test", 77);
	return nullptr;
}

// A fatal alert on a worker: the next frame shows it, and the program ends.
void worker_fails()
{
	unsetenv("DISPLAY");  // headless
	const char* argv[] = {"screen_test"};
	MACIBM_init(1, argv);
	THREAD_run_async(give_up, nullptr);
	for (int i = 0; i < 1000; ++i) MACIBM_event_proc();
	_exit(0);
}

// Both runs write the log of this binary's folder: one test keeps them apart.
TEST(ScreenDeathTest, FramesUnderXvfbThenAFatalAlertOnAWorker)
{
	zuz_test::Xvfb xvfb;
	if (xvfb.shared_display().empty()) GTEST_SKIP() << "Xvfb cannot start here";
	setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
	EXPECT_EXIT(run_the_screen(), testing::ExitedWithCode(0), "screen ok");
	const std::string folder = plat_app_folder();
	unlink((folder + "stack_crawl.txt").c_str());
	unlink((folder + "MemoryLog.txt").c_str());
	EXPECT_EXIT(worker_fails(), testing::ExitedWithCode(1),
	            "FATAL ERROR \\(tests/Installer/screen_test, line 77\\)\nA worker gives up.\n");
	const std::string crawl = zuz_test::read_file(folder + "stack_crawl.txt");
	EXPECT_EQ(crawl.rfind("  0) _Z14__MACIBM_alert", 0), 0u) << crawl;
	EXPECT_NE(crawl.find("_Z17MACIBM_event_procv"), std::string::npos) << crawl;
	const std::string report = zuz_test::read_file(folder + "MemoryLog.txt");
	EXPECT_EQ(report.rfind("dump_mem_stats: ", 0), 0u) << report.substr(0, 300);
	EXPECT_NE(zuz_test::read_file(folder + "Log.txt").find("\nA worker gives up.\n"), std::string::npos);
	zuz_test::Xvfb::release();
}

}  // namespace
