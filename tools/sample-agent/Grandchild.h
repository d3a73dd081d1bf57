// Starts a process that inherits the agent's standard output and outlives it, for tests of a
// descendant that keeps the controller's pipe open.
#ifndef OSTARA_SAMPLE_AGENT_GRANDCHILD_H
#define OSTARA_SAMPLE_AGENT_GRANDCHILD_H

// The word that makes the agent's own program only sleep, as the grandchild where there is no
// sleep program.
#define SAMPLE_AGENT_SLEEP_WORD "--grandchild-sleep"

// The grandchild's process id, or -1 when it could not be started.
long startGrandchild();

#endif
