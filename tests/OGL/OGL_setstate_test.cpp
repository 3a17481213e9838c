// The state cache against the state Mesa actually holds.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "OGL/OGL_setstate.h"
#include "gl_test_context.h"

namespace {

// Every state the cache stands for, read back from OpenGL, as text for the message.
std::string gl_state()
{
	GLboolean mask = GL_FALSE;
	glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
	GLint active = 0;
	glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &active);
	std::string s = "fog " + std::to_string(glIsEnabled(GL_FOG)) + " light " + std::to_string(glIsEnabled(GL_LIGHTING)) +
	                std::to_string(glIsEnabled(GL_LIGHT0)) + " blend " + std::to_string(glIsEnabled(GL_BLEND)) +
	                " test " + std::to_string(glIsEnabled(GL_ALPHA_TEST)) + " depth " +
	                std::to_string(glIsEnabled(GL_DEPTH_TEST)) + std::to_string(mask) + " units ";
	for (int i = 0; i < 8; ++i) {
		glActiveTextureARB(GL_TEXTURE0_ARB + i);
		s += std::to_string(glIsEnabled(GL_TEXTURE_2D));
	}
	glActiveTextureARB(active);
	return s + " active " + std::to_string(active - GL_TEXTURE0_ARB);
}

std::string expected_state(int fog, int units, int lit, int alpha, int depth_read, int depth_write)
{
	std::string s = "fog " + std::to_string(fog == 0) + " light " + std::string(lit == 2 ? "11" : "00") + " blend " +
	                std::to_string(alpha == 5 || alpha == 7) + " test " + std::to_string(alpha == 6 || alpha == 7) +
	                " depth " + std::to_string(depth_read == 8) + std::to_string(depth_write == 10) + " units ";
	for (int i = 0; i < 8; ++i) s += i < units ? "1" : "0";
	return s + " active 0";
}

}  // namespace

TEST(SetState, AgreesWithOpenGLThroughRandomCalls)
{
	gl_test_context();
	ASSERT_GE(ren.num_tex_units, 8);
	std::mt19937 rng(12345);
	auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
	for (int i = 0; i < 5000; ++i) {
		// Counts beyond the unit count and below zero included.
		const int fog = pick(0, 1), tex = pick(-2, 40), lit = pick(2, 3), alpha = pick(4, 7);
		const int dr = pick(8, 9), dw = pick(10, 11);
		OGL_setstate(fog, tex, lit, alpha, dr, dw);
		const int n = tex < 0 ? 0 : std::min(tex, ren.num_tex_units);
		ASSERT_EQ(num_units, n);
		ASSERT_EQ(gl_state(), expected_state(fog, std::min(n, 8), lit, alpha, dr, dw))
			<< "call " << i << ": " << fog << "," << tex << "," << lit << "," << alpha << "," << dr << "," << dw;
		ASSERT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
	}
}

TEST(SetState, EdgeCases)
{
	gl_test_context();
	struct step {
		int tex, alpha;
		int units_on;  // units with 2-D texturing afterwards
		int blend, test;
	};
	const step steps[] = {
		{3, 5, 3, 1, 0},   // three units on
		{1, 5, 1, 1, 0},   // 3 -> 1: units 1 and 2 off, unit 0 stays
		{0, 7, 0, 1, 1},   // 1 -> 0: only the current unit changes
		{-1, 3, 0, 1, 1},  // negative count; an alpha outside 4..7 changes nothing
		{8, 4, 8, 0, 0},   // after it, alpha 4 really switches blending and the test off
		{8, 6, 8, 0, 1},
		{8, 1, 8, 0, 1},
		{1, 5, 1, 1, 0},
	};
	for (const step& s : steps) {
		OGL_setstate(1, s.tex, 3, s.alpha, 9, 11);
		// alpha 4: neither, 5: blending, 6: the test, 7: both
		EXPECT_EQ(gl_state(), expected_state(1, s.units_on, 3, 4 + s.blend + 2 * s.test, 9, 11))
			<< "tex " << s.tex << " alpha " << s.alpha;
	}
}
