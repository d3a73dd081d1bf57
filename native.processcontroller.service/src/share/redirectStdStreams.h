// Points the service's standard output and error at fresh "stdout.log" and "stderr.log" in
// <directory>/logs, or in the temporary directory when that cannot be had; the previous run's
// non-empty files become generation 1 ("stdout.log.1"). Both streams move together or not at
// all (open, then redirect), so a failure never leaves a stream closed; a file that is a link
// (or, on Linux, belongs to another user) is refused, which matters in a shared directory.
#ifndef OSTARAPCSERVICE_REDIRECTSTDSTREAMS_H
#define OSTARAPCSERVICE_REDIRECTSTDSTREAMS_H

#include <string>

// Returns the directory the streams now write to. Throws KorrException "Failed to redirect
// stdout or stderr due to error: ..." when neither directory could take them.
std::string redirectStdStreams(const std::string& directory);

#endif
