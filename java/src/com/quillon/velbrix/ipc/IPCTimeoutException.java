package com.quillon.velbrix.ipc;

/** An IPC request was answered with a time-out. */
public class IPCTimeoutException extends IPCException {
    private static final long serialVersionUID = 1L;

    public IPCTimeoutException(String message) {
        super(message);
    }
}
