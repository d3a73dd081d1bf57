package com.quillon.velbrix.test;

import com.quillon.velbrix.ipc.IPCException;
import com.quillon.velbrix.ipc.IPCNotFoundException;
import com.quillon.velbrix.ipc.IPCServer;
import com.quillon.velbrix.ipc.impl.NativeIPCClient;
import com.quillon.velbrix.ipc.impl.NativeIPCServer;
import com.quillon.velbrix.jni.FilePermissionsException;
import com.quillon.velbrix.jni.NativeJNI;
import com.quillon.velbrix.ras.EventLog;
import com.quillon.velbrix.ras.Trace;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Cases of the Java bindings run in a real JVM: java JniHarness CASE DIR [NAME]. DIR is the
 * test's own directory (also its IPC directory). Prints "PASS CASE" and exits 0 when every
 * check held, else prints "FAIL: ..." and exits 1.
 */
public final class JniHarness {
    private static String dir;

    private JniHarness() {
    }

    /**
     * Answers "throw" by throwing, "null" with null, "echo:X" with X, "STOP" by ending serve,
     * anything else with its length in bytes.
     */
    static final class TestServer extends NativeIPCServer implements IPCServer {
        final CountDownLatch stop = new CountDownLatch(1);
        final AtomicInteger served = new AtomicInteger();

        @Override
        public byte[] onMessage(byte[] request) {
            served.incrementAndGet();
            String text = new String(request, StandardCharsets.UTF_8);
            if (text.equals("throw")) {
                throw new IllegalStateException("the handler refuses");
            }
            if (text.equals("null")) {
                return null;
            }
            if (text.equals("STOP")) {
                stop.countDown();
                return new byte[0];
            }
            return (text.startsWith("echo:") ? text.substring(5) : String.valueOf(request.length))
                    .getBytes(StandardCharsets.UTF_8);
        }
    }

    /** Has no onMessage(byte[]) at all. */
    static final class HandlerlessServer extends NativeIPCServer {
        public byte[] onMessage(String request) {
            return null;
        }
    }

    public static void main(String[] args) throws Exception {
        String which = args[0];
        dir = args[1];
        try {
            switch (which) {
            case "callbacks": callbacks(); break;
            case "utilities": utilities(); break;
            case "concurrent": concurrent(); break;
            case "serve": serve(args[2]); break;
            case "foreignPipe": foreignPipe(args[2]); break;
            default: fail("unknown case " + which);
            }
        } catch (AssertionError e) {
            System.out.println("FAIL: " + e.getMessage());
            System.exit(1);
        }
        System.out.println("PASS " + which);
        // Returning from main (no System.exit): the JVM only ends once every thread that
        // native code attached has been detached again.
    }

    static void fail(String why) {
        throw new AssertionError(why);
    }

    static void check(boolean condition, String why) {
        if (!condition) {
            fail(why);
        }
    }

    static byte[] bytes(String s) {
        return s.getBytes(StandardCharsets.UTF_8);
    }

    static String text(byte[] b) {
        return new String(b, StandardCharsets.UTF_8);
    }

    static String traceFile() {
        return new File(dir, "trace.txt").getPath();
    }

    static void traceEverything() throws IOException {
        EventLog.setLogFile(new File(dir, "events.log").getPath());
        Trace.setTraceFile(traceFile());
        NativeJNI.rasInitialize("com.quillon.velbrix.native", dir);
        NativeJNI.rasSetLevel("com.quillon.velbrix.native=all");
    }

    static String read(String path) throws IOException {
        return new String(Files.readAllBytes(new File(path).toPath()), StandardCharsets.UTF_8);
    }

    // Replies as the Java caller sees them, with native trace on, so every record also
    // crosses into Java from the native connection threads.
    static void callbacks() throws Exception {
        traceEverything();
        NativeIPCClient unserved = new NativeIPCClient();
        try {
            unserved.initialize("nobodyServesThis", dir, null);
            fail("a client of an unserved name was made");
        } catch (IPCNotFoundException expected) {
            check(expected.getMessage().startsWith("ZRKNV0066E"), "not-found text: " + expected.getMessage());
        }

        HandlerlessServer handlerless = new HandlerlessServer();
        long id = -1;
        try {
            id = handlerless.initialize("handlerless", dir, -1, null);
            fail("a server without onMessage(byte[]) started, handle " + id);
        } catch (IPCException expected) {
            check(expected.getClass() == IPCException.class, "class " + expected.getClass());
            check(expected.getMessage().startsWith("ZRKNV0069E"), "unknown-method text: " + expected.getMessage());
        }
        try (NativeIPCClient c = new NativeIPCClient()) {
            c.connect("handlerless", dir, null);
            fail("the handlerless server is being served");
        } catch (IPCNotFoundException expected) {
            // nothing listens
        }

        TestServer server = new TestServer();
        server.start("callbacks", dir, -1, "admins");
        try (NativeIPCClient client = new NativeIPCClient()) {
            File properties = new File(dir, "agent.properties");
            Files.write(properties.toPath(), bytes("trace=\n"));
            client.connect("callbacks", dir, properties.getPath());
            try {
                client.send(bytes("throw"), 10);
                fail("a throwing handler gave a reply");
            } catch (IPCException expected) {
                check(expected.getClass() == IPCException.class, "class " + expected.getClass());
                check(expected.getMessage().startsWith("ZRKNV0070E"), "exception text: " + expected.getMessage());
            }
            byte[] empty = client.send(bytes("null"), 10);
            check(empty != null && empty.length == 0, "null reply gave " + (empty == null ? "null" : empty.length + " bytes"));
            check(text(client.send(bytes("echo:grüße \u00a7"), -1)).equals("grüße \u00a7"), "echo of non-ASCII text");
            byte[] longest = new byte[1024];
            java.util.Arrays.fill(longest, (byte) 'x');
            check(text(client.send(longest, 10)).equals("1024"), "a 1024-byte request reaches the handler whole");
            try {
                client.send(new byte[1025], 10);
                fail("a request longer than a message went out");
            } catch (IPCException expected) {
                check(expected.getMessage().startsWith("ZRKNV0095E"), "too-long text: " + expected.getMessage());
            }
        }
        NativeIPCClient closed = new NativeIPCClient();
        try {
            closed.sendMessage(0, bytes("x"), 10);
            fail("a message went out on no client");
        } catch (IPCException expected) {
            check(expected.getMessage().startsWith("ZRKNV0062E"), "not-connected text: " + expected.getMessage());
        }
        closed.shutdown(0);
        server.shutdown(0);
        server.stop();
        check(server.served.get() == 4, "served " + server.served.get() + " requests");

        String trace = read(traceFile());
        int ignored = trace.split("shutdown passed NULL nativeId, ignoring", -1).length - 1;
        check(ignored == 2, "shutdown(0) traced " + ignored + " times");
        check(trace.contains("IPCClientRunnable") && trace.contains("{ run(Native Method)"),
              "no entry of the connection thread's run in the Java trace");
        check(trace.contains("JavaCallbackIPCListener") && trace.contains("} onMessage(Native Method)"),
              "no exit of onMessage in the Java trace");
        check(trace.contains("Exception caught invoking Java callback"), "the throwing handler was not traced");
    }

    static void utilities() throws Exception {
        NativeJNI.rasInitialize("com.quillon.velbrix.native", dir);
        File file = new File(dir, "null");   // what a null path must not turn into
        Files.write(file.toPath(), bytes("x"));
        Files.setPosixFilePermissions(file.toPath(), PosixFilePermissions.fromString("rw-rw-rw-"));
        try {
            NativeJNI.checkFilePermissions(null);
            fail("a null path passed the permission check");
        } catch (FilePermissionsException expected) {
            check(expected.getMessage().startsWith("ZRKNV0167E"), "null-path text: " + expected.getMessage());
        }
        try {
            NativeJNI.checkFilePermissions(file.getPath());
            fail("a file everyone may write passed the permission check");
        } catch (FilePermissionsException expected) {
            check(expected.getMessage().startsWith("ZRKNV0145E"), "open-file text: " + expected.getMessage());
        }
        NativeJNI.mkpriv(file.getPath(), false, false);
        NativeJNI.checkFilePermissions(file.getPath());
        check(Files.getPosixFilePermissions(file.toPath()).equals(PosixFilePermissions.fromString("rw-------")),
              "mkpriv left " + PosixFilePermissions.toString(Files.getPosixFilePermissions(file.toPath())));
        NativeJNI.chmod(file.getPath(), 0640);
        check(Files.getPosixFilePermissions(file.toPath()).equals(PosixFilePermissions.fromString("rw-r-----")),
              "chmod left " + PosixFilePermissions.toString(Files.getPosixFilePermissions(file.toPath())));
        try {
            NativeJNI.chmod(new File(dir, "missing").getPath(), 0600);
            fail("chmod of a missing file succeeded");
        } catch (IOException expected) {
            check(expected.getMessage().startsWith("ZRKNV0179E"), "chmod text: " + expected.getMessage());
        }
        boolean root = "root".equals(System.getProperty("user.name"));
        check(NativeJNI.doesCurrentUserHaveSpecialAuthority("x") == root, "special authority");
        check(!NativeJNI.isCurrentUserMemberOfGroup("no-such-group-anywhere"), "member of a missing group");
        for (String nonsense : new String[] {"", "=", ":::", "a,,b=", "com.quillon.velbrix.native=loud",
                                             "+=FLOW:==:x=y=z", "\u00e9=\u00e9"}) {
            NativeJNI.rasSetLevel(nonsense);
        }
        try {
            NativeJNI.rasSetLevel(null);
            fail("a null trace specification was accepted");
        } catch (IOException expected) {
            check(expected.getMessage().equals("GetStringUTFChars failed"), "null text: " + expected.getMessage());
        }
    }

    // Many Java callers at once against a native server in this JVM, every native thread
    // tracing into Java; afterwards no thread may still be attached.
    static void concurrent() throws Exception {
        traceEverything();
        TestServer server = new TestServer();
        server.start("concurrent", dir, -1, null);
        final int threads = 16;
        final int requests = 50;
        List<Thread> callers = new ArrayList<>();
        final List<String> failures = java.util.Collections.synchronizedList(new ArrayList<>());
        for (int t = 0; t < threads; ++t) {
            final int n = t;
            Thread caller = new Thread(() -> {
                try (NativeIPCClient client = new NativeIPCClient()) {
                    client.connect("concurrent", dir, null);
                    for (int i = 0; i < requests; ++i) {
                        String want = n + "/" + i;
                        String got = text(client.send(bytes("echo:" + want), 1));
                        if (!got.equals(want)) {
                            failures.add("sent " + want + ", got " + got);
                        }
                        if (i % 10 == 0) {
                            try {
                                client.send(bytes("throw"), 1);
                                failures.add("a throwing handler gave a reply");
                            } catch (IPCException expected) {
                                // and the connection goes on
                            }
                        }
                    }
                } catch (IPCException e) {
                    failures.add(e.toString());
                }
            });
            callers.add(caller);
            caller.start();
        }
        for (Thread caller : callers) {
            caller.join(60000);
            check(!caller.isAlive(), "a caller did not finish");
        }
        check(failures.isEmpty(), failures.size() + " failures, first: " + (failures.isEmpty() ? "" : failures.get(0)));
        check(server.served.get() == threads * (requests + requests / 10), "served " + server.served.get());
        // A connection thread still winding down after its caller left attaches for a moment
        // to trace, so only once stop has joined every native thread is the count final.
        server.stop();
        int attached = attachedThreads();
        check(attached == 0, attached + " native threads stay attached");
        check(read(traceFile()).contains("{ run(Native Method)"), "no native trace reached Java");
    }

    static int attachedThreads() {
        int n = 0;
        for (Thread t : Thread.getAllStackTraces().keySet()) {
            if (t.getName().equals("ostara native thread")) {
                ++n;
            }
        }
        return n;
    }

    // Serves name for a native client of the test until it sends "STOP"; native events of
    // this process go to DIR/events.log.
    static void serve(String name) throws Exception {
        EventLog.setLogFile(new File(dir, "events.log").getPath());
        NativeJNI.rasInitialize("com.quillon.velbrix.native", dir);
        TestServer server = new TestServer();
        server.start(name, dir, -1, null);
        System.out.println("READY");
        System.out.flush();
        check(server.stop.await(60, java.util.concurrent.TimeUnit.SECONDS), "no STOP came");
        server.stop();
    }

    // A pipe that another user serves: the caller may not open it, which is an IPCException
    // of its own kind, not "nobody serves it".
    static void foreignPipe(String name) throws Exception {
        try (NativeIPCClient client = new NativeIPCClient()) {
            client.connect(name, dir, null);
            fail("a client of another user's pipe was made");
        } catch (IPCException expected) {
            check(expected.getClass() == IPCException.class, "class " + expected.getClass());
            check(expected.getMessage().startsWith("ZRKNV0177E"), "text: " + expected.getMessage());
        }
    }
}
