package com.quillon.velbrix.jni;

/** A file is open to broader groups than the product allows, or its permissions cannot be read. */
public class FilePermissionsException extends Exception {
    private static final long serialVersionUID = 1L;

    public FilePermissionsException(String message) {
        super(message);
    }
}
