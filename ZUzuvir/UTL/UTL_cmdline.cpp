#include "UTL/UTL_cmdline.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "GenC/cmnd.h"
#include "GenC/hl_globals.h"

UTL_cmdline cmdline;

void UTL_cmdline::add(const std::string& arg, const std::string& key, const std::string& value)
{
	args.push_back(arg);
	if (options.count(key))
		xer << "WARNING: command line option " << key << "=" << value << "included twice.\n";
	options[key] = value;
	xer << "     '" << key;
	if (!value.empty()) xer << "'='" << value;
	xer << "'\n";
}

int UTL_cmdline::init_unix(int argc, const char** argv)
{
	for (int i = 1; i < argc; ++i) {
		std::string arg = argv[i];
		size_t eq = arg.find('=');
		if (eq == std::string::npos)
			add(arg, arg, "");
		else
			add(arg, arg.substr(0, eq), arg.substr(eq + 1));
	}
	return init_common();
}

int UTL_cmdline::init_win(const char* line)
{
	const char* p = line;
	while (*p) {
		while (*p && isspace((unsigned char)*p)) ++p;
		if (!*p) break;
		const char* key = p;
		while (*p && *p != '=' && !isspace((unsigned char)*p)) ++p;
		std::string k(key, p);
		std::string v;
		if (*p == '=') {
			const char* val = ++p;
			while (*p && !isspace((unsigned char)*p)) ++p;
			v.assign(val, p);
		}
		if (!k.empty()) add(std::string(key, p), k, v);
	}
	return init_common();
}

int UTL_cmdline::init_common()
{
	if (has_option("--cmnds")) {
		std::string which = get_option("--cmnds");
		if (which == "all") {
			for (int id = 1; id <= cmnd.count(); ++id)
				printf("%-50s %s\n", cmnd.path_of(id).c_str(), cmnd.description_of(id).c_str());
		} else {
			std::vector<std::string> names;
			cmnd.get_cmds_in_path(which, names);
			for (const std::string& n : names) puts(n.c_str());
		}
		fflush(stdout);
		exit(0);
	}
	if (has_option("-h") || has_option("--help")) {
		fputs(UTL_usage_text, stdout);
		fflush(stdout);
		exit(0);
	}
	return 0;
}

bool UTL_cmdline::has_option(const char* key) const
{
	return options.count(key) != 0;
}

std::string UTL_cmdline::get_option(const char* key) const
{
	auto it = options.find(key);
	return it == options.end() ? std::string() : it->second;
}

std::string UTL_cmdline::get_next_arg(const char* key) const
{
	for (size_t i = args.size(); i-- > 0;)
		if (args[i] == key) return i + 1 < args.size() ? args[i + 1] : std::string();
	return std::string();
}

const char* const UTL_usage_text =
	"Usage: Nimbara [options...]\n"
	"\n"
	"Nimbara takes command-line flags in the form of --flag or\n"
	"--flag=value. The OpenGL options apply to all of the simulator's applications;\n"
	"the frame-rate test applies to the simulator itself. The current flags are:\n"
	"\n"
	"--help\n"
	"-h\n"
	"    Prints this message listing all options, then quits.\n"
	"\n"
	"--no_sound\n"
	"    Runs without initialising sound, to isolate a problem with the sound hardware.\n"
	"\n"
	"OPTIONS TO DISABLE HARDWARE ACCELERATION\n"
	"\n"
	"Normally the program uses every capability of your hardware. These options force it\n"
	"not to, at a cost in frame rate, to work around bugs in video drivers.\n"
	"\n"
	"--no_vbos\n"
	"    Does not use vertex buffer objects (GL_ARB_vertex_buffer_object).\n"
	"\n"
	"--no_fbos\n"
	"    Does not use framebuffer objects, even where they are supported.\n"
	"\n"
	"--no_pbos\n"
	"    Does not use pixel-buffer objects, even where they are supported.\n"
	"\n"
	"--no_sprites\n"
	"    Does not use point sprites (GL_ARB_point_sprite).\n"
	"\n"
	"--no_pixel_counters\n"
	"    Does not use occlusion queries (GL_ARB_occlusion_query).\n"
	"\n"
	"--no_aniso_filtering\n"
	"    Does not use anisotropic filtering (GL_EXT_texture_filter_anisotropic).\n"
	"\n"
	"--no_hw_mipmap\n"
	"    Does not generate mipmaps in hardware (GL_SGIS_generate_mipmap); mipmaps are\n"
	"    then made on the processor.\n"
	"\n"
	"--no_fshaders\n"
	"    Does not use fragment shaders, even where they are reported.\n"
	"\n"
	"--no_vshaders\n"
	"    Does not use vertex shaders, even where they are reported.\n"
	"\n"
	"--no_glsl\n"
	"    Does not use GLSL, even where it is supported.\n"
	"\n"
	"--no_threaded_ogl\n"
	"    Does not use OpenGL from several threads.\n"
	"\n"
	"OPTIONS TO ENABLE INCOMPATIBLE HARDWARE ACCELERATION\n"
	"\n"
	"A few features are switched off to work around known driver bugs. These options\n"
	"force them on if your card supports them, at the risk of a crash.\n"
	"\n"
	"--use_vbos\n"
	"    Forces VBOs on, even on drivers once found to be unstable with them.\n"
	"\n"
	"--use_sprites\n"
	"    Forces point sprites on, even where they cause bugs.\n"
	"\n"
	"--use_fshaders\n"
	"    Forces fragment shaders on.\n"
	"\n"
	"--use_vshaders\n"
	"    Forces vertex shaders on.\n"
	"\n"
	"--use_glsl\n"
	"    Forces GLSL on, even where it is avoided because of driver problems.\n"
	"\n"
	"--force_run\n"
	"    Runs even on a machine below the minimum requirements (such as one with only\n"
	"    two texture units). The program is then likely to crash later.\n"
	"\n"
	"FRAMERATE TEST\n"
	"\n"
	"--fps_test=n\n"
	"    Frame-rate test mode. n is a three-digit test number: camera angle, scenery\n"
	"    complexity and weather. Runs for 90 seconds, writes three frame rates to\n"
	"    \"Log.txt\" (panel view, no-panel view, paused no-panel view) and quits.\n"
	"    The preferences file is ignored.\n"
	"\n"
	"--require_fps=n\n"
	"    After --fps_test: runs one 30-second test with the flight model paused, and\n"
	"    exits with 0 when the measured frame rate is above n, else with 1.\n";
