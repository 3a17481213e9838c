// Letter-case repair of paths, for files named in another case than on disk.
#ifndef MACIBM_FINDPATH_H
#define MACIBM_FINDPATH_H

// Changes `path` in place. When it names an existing item nothing changes;
// otherwise, from the first component on, each component that does not exist as
// written becomes the name of the entry of its parent folder that equals it with
// ASCII letter case ignored (the first such name in byte order, so the choice
// does not depend on the folder's listing order). At the first component without
// such an entry the rest is left as it was. The length never changes.
void findPath(char* path);

#endif
