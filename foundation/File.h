#pragma once

#include <cstdint>

namespace velmora {

/// One OS file handle and the file-system queries. Every failure throws
/// SystemException with the errno of the failed call. Used by one thread at
/// a time; the handle is closed only by close().
class File {
public:
    enum Flags : uint32_t {
        READ = 1,
        WRITE = 2,
        WRITE_THROUGH = 4,
        /// Create a new file and fail if it exists; without it the file must exist.
        CREATE = 8,
    };

    File() = default;
    /// Opens path with the flags; throws on failure.
    File(const char* path, uint32_t flags);
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    /// Opens path with the flags; throws on failure (an open handle is closed first).
    void open(const char* path, uint32_t flags);
    /// Closes the handle; true when that succeeded or nothing was open.
    bool close();
    bool isOpen() const { return m_handle >= 0; }

    /// Reads up to count bytes; 0 at the end of the file.
    uint32_t read(void* buffer, uint32_t count);
    /// Writes count bytes; returns the bytes written.
    uint32_t write(const void* buffer, uint32_t count);
    void seek(uint64_t position);
    uint64_t tell();
    /// Ends the file at the current position.
    void truncate();
    /// Ends the file at size (and moves there).
    void truncate(uint64_t size);
    /// Forces written data to the device.
    void flush();
    uint64_t size();

    /// Creates a new file of size bytes (fails if it exists).
    static void create(const char* path, uint64_t size);
    /// Whether the file exists (any kind but a directory), asked of the file
    /// system without opening it: false for a missing file in an existing
    /// directory; throws when a directory on the path is missing or cannot
    /// be searched, and with EISDIR when path names a directory.
    static bool exists(const char* path);
    static bool remove(const char* path);
    static bool rename(const char* oldPath, const char* newPath);
    static uint64_t size(const char* path);
    /// Whether nobody may write the file (no write permission bit set).
    static bool isReadOnly(const char* path);
    /// Free bytes on the directory's file system available to the caller.
    static uint64_t freeSize(const char* directory);
    /// Whether path names a whole physical disk (the "\\.\PHYSICALDRIVE" form).
    static bool isPhysicalDrive(const char* path);

private:
    int m_handle = -1;
};

} // namespace velmora
