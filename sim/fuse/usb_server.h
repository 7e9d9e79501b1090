// The simulated reader served as a hidraw node: a FUSE file under a fresh /dev-like
// folder, with a sysfs-like tree beside it that the hidraw backend reads.
#pragma once

#include <ostream>

namespace sim {
struct SimOptions;

// Serves until SIGINT/SIGTERM, then unmounts and removes what it made. Prints
// ZARN60_SYSFS_ROOT=<dir> and ZARN60_DEV_ROOT=<dir> on `out` once the node is ready.
// Returns the process exit status.
int ServeUsb(const SimOptions& options, std::ostream& out);

}  // namespace sim
