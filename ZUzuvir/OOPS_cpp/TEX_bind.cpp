#include "OOPS_cpp/TEX_bind.h"

#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "UTL/UTL_stats.h"

int o_tex[TEX_bind_units] = {-1, -1, -1, -1, -1, -1, -1, -1};
int o_mod[TEX_bind_units] = {-1, -1, -1, -1, -1, -1, -1, -1};
UTL_stat gKillTex("perf/kill_tex", stat_perf_tuning, 0.0f);

namespace {

const int env_keep = 25;
const int tex_interface = 392, tex_placeholder = 930;

// One combiner source: where it reads and which part of it.
struct comb_src {
	GLenum src, op;
};

enum comb_colour { colour_unchanged, colour_ones, colour_zeros };

// A preset as the table of the texture layer gives it. Unused sources have src 0;
// alpha_scale 0 leaves the scale as it was.
struct comb_preset {
	int         env;
	comb_colour colour;
	bool        colour_first;  // the environment colour goes before GL_COMBINE
	GLenum      rgb_fn;
	comb_src    rgb[3];
	GLenum      alpha_fn;
	comb_src    alpha[3];
	float       alpha_scale;
	bool        floats;  // every value through glTexEnvf
};

const comb_src prev_rgb = {GL_PREVIOUS, GL_SRC_COLOR}, tex_rgb = {GL_TEXTURE, GL_SRC_COLOR};
const comb_src const_rgb = {GL_CONSTANT, GL_SRC_COLOR}, prim_rgb = {GL_PRIMARY_COLOR, GL_SRC_COLOR};
const comb_src prev_a = {GL_PREVIOUS, GL_SRC_ALPHA}, tex_a = {GL_TEXTURE, GL_SRC_ALPHA};
const comb_src const_a = {GL_CONSTANT, GL_SRC_ALPHA}, one_minus_prev_a = {GL_PREVIOUS, GL_ONE_MINUS_SRC_ALPHA};
const comb_src none = {0, 0};

// clang-format off
const comb_preset presets[] = {
	{ 1, colour_unchanged, false, GL_ADD,         {prev_rgb, tex_rgb, none},      GL_REPLACE,     {prev_a, none, none},           1, false},
	{ 2, colour_unchanged, false, GL_ADD,         {prev_rgb, tex_rgb, none},      GL_ADD,         {prev_a, tex_a, none},          1, false},
	{10, colour_unchanged, false, GL_MODULATE,    {prev_rgb, tex_rgb, none},      GL_REPLACE,     {tex_a, none, none},            1, false},
	{11, colour_unchanged, false, GL_REPLACE,     {prev_rgb, none, none},         GL_SUBTRACT,    {tex_a, prev_a, none},          4, false},
	{12, colour_unchanged, false, GL_REPLACE,     {prev_rgb, none, none},         GL_MODULATE,    {one_minus_prev_a, tex_a, none}, 1, false},
	{13, colour_ones,      false, GL_MODULATE,    {prev_rgb, one_minus_prev_a, none}, GL_REPLACE, {const_a, none, none},          1, false},
	{14, colour_unchanged, false, GL_REPLACE,     {prev_rgb, none, none},         GL_REPLACE,     {prev_a, none, none},           1, false},
	{15, colour_ones,      true,  GL_REPLACE,     {prev_rgb, none, none},         GL_REPLACE,     {const_a, none, none},          1, false},
	{16, colour_ones,      true,  GL_MODULATE,    {prev_rgb, tex_rgb, none},      GL_REPLACE,     {const_a, none, none},          1, false},
	{17, colour_ones,      true,  GL_REPLACE,     {tex_a, none, none},            GL_REPLACE,     {const_a, none, none},          1, false},
	{18, colour_unchanged, false, GL_INTERPOLATE, {tex_rgb, prev_rgb, tex_a},     GL_REPLACE,     {prev_a, none, none},           1, false},
	{19, colour_unchanged, false, GL_INTERPOLATE, {tex_rgb, prev_rgb, prev_a},    GL_REPLACE,     {prev_a, none, none},           1, false},
	{20, colour_unchanged, false, GL_MODULATE,    {prev_rgb, tex_a, none},        GL_REPLACE,     {prev_a, none, none},           1, false},
	{21, colour_unchanged, false, GL_INTERPOLATE, {tex_rgb, prev_rgb, const_rgb}, GL_INTERPOLATE, {tex_a, prev_a, const_a},       1, false},
	{22, colour_unchanged, false, GL_INTERPOLATE, {tex_rgb, const_rgb, tex_a},    GL_REPLACE,     {prev_a, none, none},           1, false},
	{23, colour_unchanged, false, GL_MODULATE,    {prev_rgb, prim_rgb, none},     GL_REPLACE,     {prev_a, none, none},           0, false},
	{24, colour_zeros,     false, GL_INTERPOLATE, {prim_rgb, const_rgb, tex_rgb}, GL_REPLACE,     {tex_a, none, none},            1, true},
};
// clang-format on

const comb_preset* find_preset(int env)
{
	for (const comb_preset& p : presets)
		if (p.env == env) return &p;
	return nullptr;
}

void env_set(bool floats, GLenum pname, GLenum value)
{
	if (floats)
		glTexEnvf(GL_TEXTURE_ENV, pname, (GLfloat)value);
	else
		glTexEnvi(GL_TEXTURE_ENV, pname, (GLint)value);
}

void set_colour(comb_colour c)
{
	if (c == colour_unchanged) return;
	const GLfloat v = c == colour_ones ? 1.0f : 0.0f;
	const GLfloat col[4] = {v, v, v, v};
	glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, col);
}

void set_preset(const comb_preset& p)
{
	if (p.colour_first) set_colour(p.colour);
	env_set(p.floats, GL_TEXTURE_ENV_MODE, GL_COMBINE);
	if (!p.colour_first) set_colour(p.colour);
	env_set(p.floats, GL_COMBINE_RGB, p.rgb_fn);
	for (int i = 0; i < 3 && p.rgb[i].src; ++i) {
		env_set(p.floats, GL_SOURCE0_RGB + i, p.rgb[i].src);
		env_set(p.floats, GL_OPERAND0_RGB + i, p.rgb[i].op);
	}
	env_set(p.floats, GL_COMBINE_ALPHA, p.alpha_fn);
	for (int i = 0; i < 3 && p.alpha[i].src; ++i) {
		env_set(p.floats, GL_SOURCE0_ALPHA + i, p.alpha[i].src);
		env_set(p.floats, GL_OPERAND0_ALPHA + i, p.alpha[i].op);
	}
	if (p.alpha_scale != 0) glTexEnvf(GL_TEXTURE_ENV, GL_ALPHA_SCALE, p.alpha_scale);
}

void bind(int tex, int unit, int env)
{
	// The cache covers units 0..7; a unit outside them has nowhere to be remembered.
	if (unit < 0 || unit >= TEX_bind_units) return;
	if (env == 0) env = GL_MODULATE;
	if (tex == o_tex[unit] && env == o_mod[unit]) return;

	if (unit > 0) glActiveTextureARB(GL_TEXTURE0_ARB + unit);
	if (tex != o_tex[unit]) {
		glBindTexture(GL_TEXTURE_2D, (GLuint)tex);
		o_tex[unit] = tex;
	}
	if (env != env_keep && env != o_mod[unit]) {
		o_mod[unit] = env;
		const comb_preset* p = glExt.combine_avail ? find_preset(env) : nullptr;
		if (p)
			set_preset(*p);
		else
			glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, env);
	}
	if (unit > 0) glActiveTextureARB(GL_TEXTURE0_ARB);
}

}  // namespace

void TEX_bind_ref(int tex, int unit, int env)
{
	if (*gKillTex.value != 0 && tex != tex_interface) tex = tex_placeholder;
	bind(tex, unit, env);
}

void TEX_bind_for_upload(int tex)
{
	bind(tex, 0, 0);
}

void TEX_reset_bind()
{
	for (int i = 0; i < TEX_bind_units; ++i) o_tex[i] = o_mod[i] = -1;
}

void TEX_set_blend_level(int unit, float level)
{
	if (unit < 0 || unit >= ren.num_tex_units) return;
	const GLfloat col[4] = {level, level, level, level};
	if (unit > 0) glActiveTextureARB(GL_TEXTURE0_ARB + unit);
	glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, col);
	if (unit > 0) glActiveTextureARB(GL_TEXTURE0_ARB);
}
