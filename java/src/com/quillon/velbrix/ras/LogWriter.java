package com.quillon.velbrix.ras;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.PrintWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.text.SimpleDateFormat;
import java.util.Date;

/** One destination of log lines: a file opened for appending, or a standard stream. */
final class LogWriter {
    private final PrintWriter out;
    private final String path;

    LogWriter(String path) throws IOException {
        this.path = path;
        Writer w = new OutputStreamWriter(new FileOutputStream(path, true), StandardCharsets.UTF_8);
        this.out = new PrintWriter(w);
    }

    LogWriter(java.io.PrintStream stream) {
        this.path = null;
        this.out = new PrintWriter(new OutputStreamWriter(stream, StandardCharsets.UTF_8));
    }

    String getPath() {
        return path;
    }

    /** Writes "[date time zone] thread " + text as one line and flushes it. */
    void line(String text) {
        String stamp = new SimpleDateFormat("dd/MM/yyyy HH:mm:ss.SSS z").format(new Date());
        out.println("[" + stamp + "] " + String.format("%08x", Thread.currentThread().getId()) + " " + text);
        out.flush();
    }

    void close() {
        if (path != null) {
            out.close();
        }
    }
}
