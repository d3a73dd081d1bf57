package com.quillon.velbrix.ipc;

/**
 * Receives the requests of an IPC endpoint that this process serves. Called on several native
 * connection threads at once. An exception thrown here reaches the client as an error reply.
 */
public interface IPCServer {
    /** The reply text for a request text; null stands for an empty reply. */
    byte[] onMessage(byte[] request);
}
