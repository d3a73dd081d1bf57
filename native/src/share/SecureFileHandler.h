// Writes text lines to a set of size-limited, rotating files: "%g" in the pattern numbers the
// generations, the current file first. Files are private from their first byte (others may
// at most read them) and guarded by a ".lck" lock file; a second handler on the same pattern,
// in this process or another, takes the next free unique number, appended as "." + number.
#ifndef OSTARA_SECUREFILEHANDLER_H
#define OSTARA_SECUREFILEHANDLER_H

#include <cstdio>
#include <string>
#include <vector>

class FileLock;
class KorrThreadSync;
class LogRecord;

class SecureFileHandler
{
public:
    // currentFileNumber replaces "%g" in the current file's name. Throws KorrIOException when
    // the directory, a usable name or the current file cannot be had.
    SecureFileHandler(const std::string& pattern, int limit, int count, bool append, bool canRead,
                      int currentFileNumber);
    virtual ~SecureFileHandler();

    // Appends the line, with its escapes converted, and a line end. A current file at or above
    // the limit is rotated first, so a line is never split and a file may pass the limit by
    // one line. Throws KorrIOException when the line could not be written; the next call
    // opens the file again.
    void publish(const std::string& line);
    void publish(const LogRecord& record);
    // Removes the lock file and releases the lock.
    void close();

    const std::string& getFileName() const { return fileNames[0]; }

    // Each "\u" followed by hexadecimal digits (at most four) becomes the UTF-8 bytes of that
    // code point; every other byte passes unchanged.
    static std::string getUtf8EncodedString(const std::string& text);
    // Empty above 0x10FFFF.
    static std::string convertToUtf8(unsigned int codePoint);

private:
    SecureFileHandler(const SecureFileHandler&);
    SecureFileHandler& operator=(const SecureFileHandler&);

    static std::string getfileName(const std::string& pattern, int generation, long unique);
    bool takeLock(const std::string& fileName);
    void openCurrent(bool rotate, bool truncate);
    bool rotateFile();
    void release();

    int limit;
    int count;
    std::vector<std::string> fileNames;
    bool canRead;
    FileLock* fileLock;
    std::string lockFileName;   // empty unless this handler holds the lock
    std::FILE* out;             // unbuffered; null after a failed write or rotation
    KorrThreadSync* writeLock;
    bool writing;               // a publish of this thread is under way (re-entry guard)
};

#endif
