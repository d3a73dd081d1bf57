package com.quillon.velbrix.ras;

import java.io.IOException;

/**
 * The Java process's event log: operator-facing messages, one line each, in the file set with
 * {@link #setLogFile} or on standard error. The native runtime library's events of this process
 * arrive here too (class name and message already formatted). Never calls native code.
 */
public final class EventLog {
    private static LogWriter writer = new LogWriter(System.err);

    private EventLog() {
    }

    /** Appends to path from now on; null goes back to standard error. */
    public static synchronized void setLogFile(String path) throws IOException {
        LogWriter next = path == null ? new LogWriter(System.err) : new LogWriter(path);
        writer.close();
        writer = next;
    }

    public static void infoNoFormat(String className, String message) {
        log('I', className, message);
    }

    public static void warningNoFormat(String className, String message) {
        log('W', className, message);
    }

    public static void errorNoFormat(String className, String message) {
        log('E', className, message);
    }

    public static void configNoFormat(String className, String message) {
        log('C', className, message);
    }

    private static synchronized void log(char level, String className, String message) {
        writer.line(className + " " + level + " " + message);
    }
}
