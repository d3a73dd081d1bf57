// Points the service's standard output and error at fresh "stdout.log" and "stderr.log" in
// <directory>\logs, or in the temporary directory (%TMP%, else the system's) when that cannot
// be had; the previous run's non-empty files become generation 1 ("stdout.log.1"). A service
// has no standard handles: the C runtime's descriptors 1 and 2 and the process's standard
// handles are both set. Both streams move together or not at all; a link at the name is refused.
#ifndef OSTARAPCSERVICE_REDIRECTSTDSTREAMS_H
#define OSTARAPCSERVICE_REDIRECTSTDSTREAMS_H

#include <string>

// Returns the directory the streams now write to. Throws KorrException "Failed to redirect
// stdout or stderr due to error: ..." when neither directory could take them.
std::string redirectStdStreams(const std::string& directory);

#endif
