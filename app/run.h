// Run control: one run of the tool, from initialising the class library to
// the exit status.
#pragma once

#include <iosfwd>

namespace app {

// Runs the tool on argv[1]. Writes the greeting line on out, and on err only
// when the class library can't be initialised. Returns 1 when the run ends
// before the data file is open, 0 once it was opened.
int run(int argc, char* argv[], std::ostream& out, std::ostream& err);

}  // namespace app
