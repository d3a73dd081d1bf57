package com.quillon.velbrix.sample;

import com.quillon.velbrix.ipc.IPCException;
import com.quillon.velbrix.ipc.IPCServer;
import com.quillon.velbrix.ipc.impl.NativeIPCServer;
import com.quillon.velbrix.jni.NativeJNI;
import com.quillon.velbrix.ras.EventLog;
import com.quillon.velbrix.ras.Trace;

import java.io.File;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadInfo;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicLong;

/**
 * A Java agent for the process controller to supervise. It takes from its command line the
 * controller's process id, the name of its own IPC endpoint and the controller's lock file,
 * serves the endpoint through the native runtime library and logs through its event log
 * ("agentevent.log" in the logs directory beside the lock file). Requests: "STOPC"/"STOPI"
 * end it with exit code 0, "GETA" returns its status, "JCOR" writes a thread dump to
 * standard output, "TRAC" changes the trace. Exit codes: 0 stopped, 78 bad command line,
 * 1 the endpoint could not be served.
 */
public final class SampleAgent extends NativeIPCServer implements IPCServer {
    private static final String CLASS = "com.quillon.velbrix.sample.SampleAgent";
    private static final String TRACE_PREFIX = "com.quillon.velbrix.native";

    private final String controllerPid;
    private final String serviceName;
    private final long started = System.currentTimeMillis();
    private final AtomicLong requests = new AtomicLong();
    private final CountDownLatch stopRequested = new CountDownLatch(1);
    private volatile String lastStop = "";

    private SampleAgent(String controllerPid, String serviceName) {
        this.controllerPid = controllerPid;
        this.serviceName = serviceName;
    }

    public static void main(String[] args) throws InterruptedException {
        String pid = System.getProperty("com.quillon.velbrix.native.pc.processid");
        String service = System.getProperty("com.quillon.velbrix.ipc.service.name");
        String lockFile = System.getProperty("com.quillon.velbrix.native.pc.lockFileName");
        if (args.length > 0 && (args[0].equals("--help") || args[0].equals("-h"))) {
            System.out.println(usage());
            System.exit(0);
        }
        if (isEmpty(pid) || isEmpty(service) || isEmpty(lockFile)) {
            System.err.println("SampleAgent: missing option.\n" + usage());
            System.exit(78);
        }
        File workDir = new File(lockFile).getAbsoluteFile().getParentFile();
        File logDir = new File(workDir, "logs");
        if (!logDir.isDirectory() && !logDir.mkdirs()) {
            System.err.println("SampleAgent: cannot create the log directory " + logDir);
            System.exit(78);
        }
        try {
            EventLog.setLogFile(new File(logDir, "agentevent.log").getPath());
            NativeJNI.rasInitialize(TRACE_PREFIX, logDir.getPath());
            String spec = System.getProperty("com.quillon.velbrix.traceSpecification");
            if (!isEmpty(spec)) {
                applyTrace(spec, logDir);
            }
        } catch (IOException e) {
            System.err.println("SampleAgent: diagnostics could not be set up: " + e.getMessage());
            System.exit(78);
        }
        SampleAgent agent = new SampleAgent(pid, service);
        try {
            agent.start(service, workDir.getPath(), -1, null);
        } catch (IPCException e) {
            EventLog.errorNoFormat(CLASS, "The sample agent cannot serve " + service + ": " + e.getMessage());
            System.exit(1);
        }
        EventLog.infoNoFormat(CLASS, "The sample agent serves " + service + " for the process controller " + pid + ".");
        System.out.println("SampleAgent ready on " + service);
        System.out.flush();
        agent.stopRequested.await();
        agent.stop();   // answers the stop request before the endpoint goes
        EventLog.infoNoFormat(CLASS, "The sample agent stopped on request " + agent.lastStop + ".");
        System.exit(0);
    }

    @Override
    public byte[] onMessage(byte[] request) {
        String text = new String(request, StandardCharsets.UTF_8);
        requests.incrementAndGet();
        if (Trace.isOn()) {
            Trace.entry(this, "onMessage", text);
        }
        String reply;
        if (text.startsWith("STOPC") || text.startsWith("STOPI")) {
            lastStop = text.substring(0, 5);
            stopRequested.countDown();
            reply = "";
        } else if (text.startsWith("GETA")) {
            reply = status();
        } else if (text.startsWith("JCOR")) {
            System.out.print(threadDump());
            System.out.flush();
            reply = "Thread dump written to standard output.";
        } else if (text.startsWith("TRAC")) {
            reply = changeTrace(text);
        } else {
            throw new IllegalArgumentException("The sample agent does not know the request \"" + text + "\".");
        }
        if (Trace.isOn()) {
            Trace.exit(this, "onMessage", reply);
        }
        return reply.getBytes(StandardCharsets.UTF_8);
    }

    private String status() {
        long uptime = (System.currentTimeMillis() - started) / 1000;
        return "agentPid=" + ProcessHandle.current().pid() + ",controllerPid=" + controllerPid + ",requests="
                + requests.get() + ",serviceName=" + serviceName + ",state=running,uptimeSeconds=" + uptime;
    }

    private static String threadDump() {
        StringBuilder b = new StringBuilder("Thread dump of the sample agent\n");
        for (ThreadInfo t : ManagementFactory.getThreadMXBean().dumpAllThreads(true, true)) {
            b.append(t.toString());
        }
        return b.append("End of thread dump\n").toString();
    }

    // "<trace:traceClasses>X</trace:traceClasses><trace:traceLevel>Y</trace:traceLevel>" → X=Y.
    private String changeTrace(String text) {
        String classes = element(text, "trace:traceClasses");
        String level = element(text, "trace:traceLevel");
        if (classes == null || level == null) {
            throw new IllegalArgumentException("Malformed trace request: " + text);
        }
        try {
            File logDir = new File(System.getProperty("com.quillon.velbrix.native.pc.lockFileName"))
                    .getAbsoluteFile().getParentFile();
            applyTrace(classes + "=" + level, new File(logDir, "logs"));
        } catch (IOException e) {
            throw new IllegalStateException("The trace could not be changed: " + e.getMessage(), e);
        }
        return "Trace set to " + classes + "=" + level;
    }

    private static String element(String text, String name) {
        int open = text.indexOf("<" + name + ">");
        if (open < 0) {
            return null;
        }
        int start = open + name.length() + 2;
        int close = text.indexOf("</" + name + ">", start);
        return close < 0 ? text.substring(start) : text.substring(start, close);
    }

    private static void applyTrace(String spec, File logDir) throws IOException {
        Trace.setTraceFile(new File(logDir, "agenttrace.txt").getPath());
        NativeJNI.rasSetLevel(spec);
    }

    private static boolean isEmpty(String s) {
        return s == null || s.isEmpty();
    }

    private static String usage() {
        return "usage: java -Dcom.quillon.velbrix.native.pc.processid=PID"
                + " -Dcom.quillon.velbrix.ipc.service.name=NAME"
                + " -Dcom.quillon.velbrix.native.pc.lockFileName=FILE"
                + " [-Dcom.quillon.velbrix.traceSpecification=SPEC] -jar sample-agent.jar\n"
                + "The process controller passes these options when it starts the agent.";
    }
}
