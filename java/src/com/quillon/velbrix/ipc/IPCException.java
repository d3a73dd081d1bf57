package com.quillon.velbrix.ipc;

/** An IPC request could not be made or was answered with an error. */
public class IPCException extends Exception {
    private static final long serialVersionUID = 1L;

    public IPCException(String message) {
        super(message);
    }
}
