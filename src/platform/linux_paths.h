// Names resolved without being led astray, for the Linux platform layer
// alone: a path is followed one name at a time from a directory's
// descriptor, and a symbolic link is followed only when both the link and
// the directory that holds it belong to the running user or to root.  So a link
// that another user made, or a directory renamed meanwhile, never takes a run
// outside the tree it was asked to convert, and no name is looked up again
// through a path that could be redirected between a check and its use.
#ifndef MORVIDEX_PLATFORM_LINUX_PATHS_H
#define MORVIDEX_PLATFORM_LINUX_PATHS_H

#include <sys/types.h>

#include <cstddef>

namespace morvidex {

// The user the program runs as (its effective user), read at start-up.
extern const uid_t RUNNING_USER;

// Where the next name is looked up: a directory's descriptor (or
// AT_FDCWD), whether the resolution opened it itself and must close it,
// and the links followed so far.
struct place {
  int dir;
  bool owned;
  int links;
};

// A place at dir, which stays the caller's.
inline place place_at(int dir) { return place{dir, false, 0}; }

// Closes what the resolution opened.
void leave_place(place *at);

// Points *leaf at the last name of path and sets *dir_length to the length
// of the directories before it: 0 for a bare name.  Slashes that end path
// stay on the leaf, and a path of slashes alone is a leaf.
void split_path(const char *path, std::size_t *dir_length, const char **leaf);

// Opens name in at's directory with flags, never letting the system follow
// a symbolic link: a link is followed by the program, the same way, when it
// is trusted, and refused as EACCES otherwise.  *at is then the directory
// that holds what was opened.  A name that ends in "/" must be a directory.
// When last is not null, it receives the last name tried (NAME_MAX + 1
// bytes), so that a failed open can be looked into.
int open_following(place *at, const char *name, int flags, mode_t mode, int *fd,
                   char *last = nullptr);

// Moves *at to the directory that holds path's last name, and points
// *leaf at it.  The system resolves the directories in one call where no
// link is on the way; otherwise they are followed one by one.
int find_parent(place *at, const char *path, const char **leaf);

// Opens path from dir as open_following opens a name, in one call where
// no link is on the way.
int open_path(int dir, const char *path, int flags, mode_t mode, int *fd);

} // namespace morvidex

#endif
