// The one place that binds a 2-D texture to a texture unit and sets the unit's
// environment. A per-unit cache skips what is already in place, so drawing code
// binds before every quad. Main thread only, with the context current.
#ifndef TEX_BIND_H
#define TEX_BIND_H

class UTL_stat;

const int TEX_bind_units = 8;  // units the cache covers; higher units are ignored

extern int o_tex[TEX_bind_units];  // texture name last bound per unit; -1 unknown
extern int o_mod[TEX_bind_units];  // environment mode last set per unit; -1 unknown
extern UTL_stat gKillTex;           // "perf/kill_tex": every texture but 392 becomes 930

// env: 0 GL_MODULATE; 25 leaves the environment alone; 1, 2 and 10..24 the
// combiner presets (when the hardware combines); any other value is set as
// GL_TEXTURE_ENV_MODE as it stands. Unit 0 is the active unit between calls.
void TEX_bind_ref(int tex, int unit, int env);

// As TEX_bind_ref on unit 0 with mode 0, but never swapped for the placeholder:
// an upload must reach its own texture whatever "perf/kill_tex" says.
void TEX_bind_for_upload(int tex);

// Forgets what every unit holds: after a context switch, or after code that
// binds textures or changes environments behind the cache.
void TEX_reset_bind();

// Sets the unit's environment colour to (level, level, level, level), for units
// below the fixed-function unit count; the cache is not touched.
void TEX_set_blend_level(int unit, float level);

#endif
