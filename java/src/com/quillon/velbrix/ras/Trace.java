package com.quillon.velbrix.ras;

import java.io.IOException;

/**
 * The Java process's trace: one line per method entry, exit, data point or thrown exception,
 * written to the file set with {@link #setTraceFile}; without one, trace is off. The native
 * runtime library's trace records of this process arrive through the nativeMethod operations,
 * their methods named "name(Native Method)". Never calls native code, so a native thread
 * that holds the native trace lock while it writes here cannot meet a lock cycle.
 */
public final class Trace {
    private static LogWriter writer;

    private Trace() {
    }

    /** Writes to path (appending) from now on; null switches trace off. */
    public static synchronized void setTraceFile(String path) throws IOException {
        LogWriter next = path == null ? null : new LogWriter(path);
        if (writer != null) {
            writer.close();
        }
        writer = next;
    }

    public static synchronized boolean isOn() {
        return writer != null;
    }

    public static void entry(Object object, String method, Object... args) {
        write(object == null ? "null" : object.getClass().getName(), object, "{ ", method, join(args));
    }

    public static void exit(Object object, String method, Object result) {
        write(object == null ? "null" : object.getClass().getName(), object, "} ", method, String.valueOf(result));
    }

    public static void nativeMethodEntry(String className, long object, String method, String[] args) {
        write(className, address(object), "{ ", method, join((Object[]) args));
    }

    public static void nativeMethodExit(String className, long object, String method, String value) {
        write(className, address(object), "} ", method, value);
    }

    public static void nativeMethodExit(String className, long object, String method) {
        write(className, address(object), "} ", method, "");
    }

    public static void nativeMethodData(String className, String level, long object, String method, String[] args) {
        write(className, address(object), "d " + level.trim() + " ", method, join((Object[]) args));
    }

    public static void nativeMethodThrowing(String className, long object, String method, String exception) {
        write(className, address(object), "! ", method, exception);
    }

    private static String address(long object) {
        return object == 0 ? null : "@" + Long.toHexString(object);
    }

    private static String join(Object... args) {
        if (args == null) {
            return "";
        }
        StringBuilder b = new StringBuilder();
        for (Object a : args) {
            if (b.length() > 0) {
                b.append(' ');
            }
            b.append(a);
        }
        return b.toString();
    }

    private static synchronized void write(String className, Object object, String kind, String method, String text) {
        if (writer == null) {
            return;
        }
        String who = object == null ? className : className + " " + (object instanceof String ? object
                : "@" + Integer.toHexString(System.identityHashCode(object)));
        writer.line(who + " " + kind + method + (text.isEmpty() ? "" : " " + text));
    }
}
