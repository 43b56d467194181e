// The bench's hands on the libraries beside the program: which file a library name
// stands for in this test, or that it is missing. Host builds only.
#pragma once

#include <string>

namespace bench {

// From now until bench::Reset, LoadLibraryW of the bare name `name` (compared without
// regard to case, ".dll" added as Windows adds it) loads the file at `path` (a bare file
// name: beside the program) as if it lay beside the program under that name; an empty
// path makes the library missing (ERROR_MOD_NOT_FOUND).
void PlaceLibrary(const std::string& name, const std::string& path);

}  // namespace bench
