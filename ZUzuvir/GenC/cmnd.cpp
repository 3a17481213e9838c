#include "GenC/cmnd.h"

#include <algorithm>

cmnd_class cmnd;

int cmnd_class::add_cmnd(const std::string& path, const std::string& description)
{
	cmds.push_back({path, description});
	return (int)cmds.size();
}

void cmnd_class::get_cmds_in_path(const std::string& prefix, std::vector<std::string>& out) const
{
	out.clear();
	for (const entry& c : cmds) {
		if (c.path.size() <= prefix.size() || c.path.compare(0, prefix.size(), prefix) != 0) continue;
		size_t slash = c.path.find('/', prefix.size());
		out.push_back(slash == std::string::npos ? c.path.substr(prefix.size())
		                                         : c.path.substr(prefix.size(), slash + 1 - prefix.size()));
	}
	std::sort(out.begin(), out.end());
	out.erase(std::unique(out.begin(), out.end()), out.end());
}
