package com.quillon.velbrix.ipc.impl;

import com.quillon.velbrix.ipc.IPCException;
import com.quillon.velbrix.jni.NativeJNI;

/**
 * A client of an IPC endpoint through the native runtime library: connect, send requests one
 * at a time, close. The native client lives until close.
 */
public class NativeIPCClient implements AutoCloseable {
    static {
        NativeJNI.loadLibrary();
    }

    private long nativeClient;

    /**
     * The native client connected to serviceName, or 0 when it could not be made (the properties
     * file could not be read, say). Raises IPCNotFoundException when nothing serves the name.
     * directory is the product's working directory; propertiesFile may be null.
     */
    public native long initialize(String serviceName, String directory, String propertiesFile) throws IPCException;

    /** The reply text; a reply with an error or time-out status is raised as an exception. */
    public native byte[] sendMessage(long nativeClient, byte[] request, int timeout) throws IPCException;

    /** Deletes the native client; 0 is ignored. */
    public native void shutdown(long nativeClient);

    public synchronized void connect(String serviceName, String directory, String propertiesFile)
            throws IPCException {
        if (nativeClient != 0) {
            throw new IPCException("The IPC client is already connected.");
        }
        long id = initialize(serviceName, directory, propertiesFile);
        if (id == 0) {
            throw new IPCException("The IPC client for " + serviceName + " could not be created; the native trace shows why.");
        }
        nativeClient = id;
    }

    /** Sends one request; timeout is the reply polling interval in milliseconds (-1 for 1). */
    public synchronized byte[] send(byte[] request, int timeout) throws IPCException {
        if (nativeClient == 0) {
            throw new IPCException("The IPC client is not connected.");
        }
        return sendMessage(nativeClient, request, timeout);
    }

    @Override
    public synchronized void close() {
        long id = nativeClient;
        nativeClient = 0;
        if (id != 0) {
            shutdown(id);
        }
    }
}
