// Conversion of one file into its lower- or upper-case sibling, and the
// directory walks that find the files to convert.
#ifndef MORVIDEX_TRANSLATE_TRANSLATE_H
#define MORVIDEX_TRANSLATE_TRANSLATE_H

#include <cstddef>

namespace morvidex {

// The case mode chosen on the command line.  MODE_NONE converts exactly
// like MODE_LOWER.
constexpr int MODE_NONE = 0;
constexpr int MODE_LOWER = 1;
constexpr int MODE_UPPER = 2;

// The suffixes of converted files.
constexpr char SUFFIX_LOWER[] = ".lo";
constexpr char SUFFIX_UPPER[] = ".up";

// The extension of name: from its first "." anywhere, directory parts
// included, to its end; the empty string at its end when it has no ".".
// What comes before it is the stem.
const char *extension_of(const char *name);

// The sibling's name: path up to its first "." anywhere, then ".up" for
// MODE_UPPER or ".lo" otherwise.  name holds output_name_size(path) bytes,
// the terminating zero included.
std::size_t output_name_size(const char *path);
void output_name(const char *path, int case_mode, char *name);

// Converts path into its sibling and prints the progress line, or reports
// why it could not on standard error.  The source is never changed, and a
// target that could not be written whole is removed.  The conversion may
// run beside others and its report come later, but reports come in the
// order of the calls, each after everything printed before the call.
void translate_file(const char *path, int case_mode);

// Finishes and reports every conversion still pending; called before the
// process ends.
void finish_translations();

// Whether a walk converts the file called name: not the program's own
// file, not a sibling written by a conversion, and, with a pattern, only
// when the pattern is "*" followed by the name's whole extension.
bool is_eligible(const char *name, const char *pattern);

// Converts the eligible files of dir, and with recurse those of every
// directory below it, each beside its source.  Ends the process with
// status 1 when a directory cannot be listed or the current directory
// cannot be read.
void translate_directory(const char *dir, int recurse, int case_mode,
                         const char *pattern);

} // namespace morvidex

#endif
