// The command registry: every command has a slash-separated path ("view/zoom in")
// and a description, and an id given in registration order, from 1.
#ifndef CMND_H
#define CMND_H

#include <string>
#include <vector>

class cmnd_class {
public:
	int add_cmnd(const std::string& path, const std::string& description);

	int                count() const { return (int)cmds.size(); }
	const std::string& path_of(int id) const { return cmds[id - 1].path; }
	const std::string& description_of(int id) const { return cmds[id - 1].description; }

	// The sorted, distinct next components below `prefix`: up to and including
	// the next "/" when there is one, else the rest of the path.
	void get_cmds_in_path(const std::string& prefix, std::vector<std::string>& out) const;

private:
	struct entry {
		std::string path, description;
	};
	std::vector<entry> cmds;
};

extern cmnd_class cmnd;

#endif
