package com.quillon.velbrix.ipc.impl;

import com.quillon.velbrix.ipc.IPCException;
import com.quillon.velbrix.jni.NativeJNI;

/**
 * Serves an IPC endpoint through the native runtime library. Each request goes to this
 * object's onMessage(byte[]), so a subclass implements {@link com.quillon.velbrix.ipc.IPCServer};
 * without that method the server cannot start. The native server lives until stop.
 */
public class NativeIPCServer {
    static {
        NativeJNI.loadLibrary();
    }

    private long nativeServer;

    /**
     * The native server, listening on serviceName, or 0 when it could not be made. Raises
     * IPCException when the endpoint cannot be served or this object has no onMessage(byte[]).
     * maxConnections below 0 means no limit; adminGroup may be null.
     */
    public native long initialize(String serviceName, String directory, int maxConnections, String adminGroup)
            throws IPCException;

    /** Stops the native server once its requests in progress are answered; 0 is ignored. */
    public native void shutdown(long nativeServer);

    public void start(String serviceName, String directory, int maxConnections, String adminGroup)
            throws IPCException {
        synchronized (this) {
            if (nativeServer != 0) {
                throw new IPCException("The IPC server for " + serviceName + " is already running.");
            }
            long id = initialize(serviceName, directory, maxConnections, adminGroup);
            if (id == 0) {
                throw new IPCException("The IPC server for " + serviceName + " could not be created; the native trace shows why.");
            }
            nativeServer = id;
        }
    }

    /** Stopping waits for requests in progress, so it must not hold a lock that onMessage takes. */
    public void stop() {
        long id;
        synchronized (this) {
            id = nativeServer;
            nativeServer = 0;
        }
        if (id != 0) {
            shutdown(id);
        }
    }
}
