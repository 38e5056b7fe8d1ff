#include "foundation/File.h"

#include "foundation/SystemException.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velmora {

namespace {

int openFlags(uint32_t flags)
{
    int mode;
    if ((flags & File::READ) && (flags & File::WRITE))
        mode = O_RDWR;
    else if (flags & File::WRITE)
        mode = O_WRONLY;
    else
        mode = O_RDONLY;
    if (flags & File::WRITE_THROUGH)
        mode |= O_DSYNC;
    if (flags & File::CREATE)
        mode |= O_CREAT | O_EXCL;
    return mode | O_CLOEXEC;
}

[[noreturn]] void throwLastError(const char* function, int line)
{
    throw SystemException("SystemException", __FILE__, line, function, errno);
}

} // namespace

#define VELMORA_THROW_ERRNO() throwLastError(__PRETTY_FUNCTION__, __LINE__)

File::File(const char* path, uint32_t flags)
{
    open(path, flags);
}

void File::open(const char* path, uint32_t flags)
{
    close();
    const int handle = ::open(path, openFlags(flags), 0644);
    if (handle < 0)
        VELMORA_THROW_ERRNO();
    m_handle = handle;
}

bool File::close()
{
    if (m_handle < 0)
        return true;
    const int result = ::close(m_handle);
    m_handle = -1;
    return result == 0;
}

uint32_t File::read(void* buffer, uint32_t count)
{
    ssize_t n;
    do {
        n = ::read(m_handle, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        VELMORA_THROW_ERRNO();
    return static_cast<uint32_t>(n);
}

uint32_t File::write(const void* buffer, uint32_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_handle, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            VELMORA_THROW_ERRNO();
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}

void File::seek(uint64_t position)
{
    if (::lseek(m_handle, static_cast<off_t>(position), SEEK_SET) < 0)
        VELMORA_THROW_ERRNO();
}

uint64_t File::tell()
{
    const off_t position = ::lseek(m_handle, 0, SEEK_CUR);
    if (position < 0)
        VELMORA_THROW_ERRNO();
    return static_cast<uint64_t>(position);
}

void File::truncate()
{
    if (::ftruncate(m_handle, static_cast<off_t>(tell())) != 0)
        VELMORA_THROW_ERRNO();
}

void File::truncate(uint64_t size)
{
    seek(size);
    truncate();
}

void File::flush()
{
    if (::fsync(m_handle) != 0)
        VELMORA_THROW_ERRNO();
}

uint64_t File::size()
{
    struct stat info;
    if (::fstat(m_handle, &info) != 0)
        VELMORA_THROW_ERRNO();
    return static_cast<uint64_t>(info.st_size);
}

void File::create(const char* path, uint64_t size)
{
    File file(path, READ | WRITE | WRITE_THROUGH | CREATE);
    try {
        file.truncate(size);
    } catch (const SystemException&) {
        file.close();
        throw;
    }
    file.close();
}

bool File::exists(const char* path)
{
    // Asked of the file system, never by opening: an open blocks on a FIFO
    // without a writer and needs read permission the question does not.
    struct stat info;
    if (::stat(path, &info) == 0) {
        if (S_ISDIR(info.st_mode))
            throw SystemException(VELMORA_THROW_SITE("SystemException"), EISDIR);
        return true;
    }
    const int error = errno;
    if (error == ENOENT) {
        // ENOENT stands for both a missing file and a missing directory on
        // the path; only the first is an answer.
        char parent[4096];
        std::snprintf(parent, sizeof parent, "%s", path);
        char* slash = std::strrchr(parent, '/');
        const char* directory = ".";
        if (slash == parent)
            directory = "/";
        else if (slash != nullptr) {
            *slash = '\0';
            directory = parent;
        }
        if (::stat(directory, &info) == 0 && S_ISDIR(info.st_mode))
            return false;
        throw SystemException(VELMORA_THROW_SITE("SystemException"), ENOENT);
    }
    throw SystemException(VELMORA_THROW_SITE("SystemException"), error);
}

bool File::remove(const char* path)
{
    return std::remove(path) == 0;
}

bool File::rename(const char* oldPath, const char* newPath)
{
    return std::rename(oldPath, newPath) == 0;
}

uint64_t File::size(const char* path)
{
    struct stat info;
    if (::stat(path, &info) != 0)
        VELMORA_THROW_ERRNO();
    return static_cast<uint64_t>(info.st_size);
}

bool File::isReadOnly(const char* path)
{
    struct stat info;
    if (::stat(path, &info) != 0)
        VELMORA_THROW_ERRNO();
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

uint64_t File::freeSize(const char* directory)
{
    struct statvfs info;
    if (::statvfs(directory, &info) != 0)
        VELMORA_THROW_ERRNO();
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

bool File::isPhysicalDrive(const char* path)
{
    static const char prefix[] = "\\\\.\\PHYSICALDRIVE";
    return path != nullptr && std::strncmp(path, prefix, sizeof prefix - 1) == 0;
}

} // namespace velmora
