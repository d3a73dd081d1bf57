package com.quillon.velbrix.ipc;

/** No process serves the requested IPC name. */
public class IPCNotFoundException extends IPCException {
    private static final long serialVersionUID = 1L;

    public IPCNotFoundException(String message) {
        super(message);
    }
}
