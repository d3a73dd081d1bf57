package com.quillon.velbrix.ipc;

/** The IPC endpoint exists, but the calling user may not use it. */
public class IPCNotAvailableForUserException extends IPCException {
    private static final long serialVersionUID = 1L;

    public IPCNotAvailableForUserException(String message) {
        super(message);
    }
}
