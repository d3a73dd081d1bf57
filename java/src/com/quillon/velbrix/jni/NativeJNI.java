package com.quillon.velbrix.jni;

import java.io.File;
import java.io.IOException;
import java.net.URISyntaxException;

/**
 * File-permission and group checks of the native runtime library, and the start-up and trace
 * setting of its diagnostics in this process. Loads the library on first use.
 */
public final class NativeJNI {
    private static boolean loaded;

    static {
        loadLibrary();
    }

    private NativeJNI() {
    }

    /**
     * Loads the native runtime library "ostara": from java.library.path (or the system's search
     * path), else from the lib64 directory beside the directory of the jar holding this class.
     */
    public static synchronized void loadLibrary() {
        if (loaded) {
            return;
        }
        try {
            System.loadLibrary("ostara");
        } catch (UnsatisfiedLinkError notOnPath) {
            File beside = besideJar();
            if (beside == null || !beside.isFile()) {
                throw notOnPath;
            }
            System.load(beside.getAbsolutePath());
        }
        loaded = true;
    }

    private static File besideJar() {
        try {
            File jar = new File(NativeJNI.class.getProtectionDomain().getCodeSource().getLocation().toURI());
            File javaDir = jar.getParentFile() == null ? null : jar.getParentFile().getParentFile();
            return javaDir == null ? null : new File(new File(javaDir, "lib64"), System.mapLibraryName("ostara"));
        } catch (URISyntaxException | SecurityException | NullPointerException e) {
            return null;
        }
    }

    /** Fails when the file is open to everyone, or to a broad group such as "users". */
    public static native void checkFilePermissions(String path) throws FilePermissionsException, IOException;

    public static native void chmod(String path, int mode) throws IOException;

    public static native boolean doesCurrentUserHaveSpecialAuthority(String name) throws IOException;

    public static native boolean isCurrentUserMemberOfGroup(String group) throws IOException;

    public static native void mkGroupVexilWrite(String path, boolean everyoneWrite) throws IOException;

    public static native void mkGroupWrite(String path, String group, boolean everyoneWrite) throws IOException;

    public static native void mkpriv(String path, boolean everyoneRead, boolean everyoneWrite) throws IOException;

    /**
     * Sends the native library's events and trace of this process to {@link com.quillon.velbrix.ras.EventLog}
     * and {@link com.quillon.velbrix.ras.Trace}; logPath is where its failure reports go.
     */
    public static native void rasInitialize(String traceSpecNamePrefix, String logPath) throws IOException;

    /** Applies a trace specification ("names=level:...") to the native library. */
    public static native void rasSetLevel(String traceSpecification) throws IOException;
}
