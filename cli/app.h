// zarn60's program: the command line read into one subcommand, that subcommand run, and
// its outcome made an exit code. Every failure ends as one "zarn60: " line on stderr.
#pragma once

namespace cli {

int Main(int argc, char** argv);

}  // namespace cli
