#include "private_profile.h"

#include "ini_document.h"
#include "profile_buffer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace profile {

namespace {

struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

struct CachedFile {
    IniDocument document;
    FileStamp stamp;
    int readError = 0; // the file exists, but its content could not be read: never overwrite it
    int batchDepth = 0;
    bool dirty = false;
};

std::mutex storeMutex;
std::unordered_map<std::string, CachedFile> cache;

FileStamp stampOf(const std::string& path)
{
    struct stat info {};
    FileStamp stamp;
    if (::stat(path.c_str(), &info) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modified = info.st_mtim;
    stamp.changed = info.st_ctim;
    return stamp;
}

// Returns 0, or the error that kept the file's content from being read.
int readWhole(const std::string& path, std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return error;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (got == 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return 0;
}

CachedFile& current(const std::string& path)
{
    CachedFile& file = cache[path];
    if (file.batchDepth > 0)
        return file;
    const FileStamp stamp = stampOf(path);
    if (stamp == file.stamp)
        return file;
    file = CachedFile{};
    file.stamp = stamp;
    std::string bytes;
    if (stamp.exists)
        file.readError = readWhole(path, bytes);
    file.document = IniDocument::parse(bytes);
    return file;
}

bool writeAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// A symbolic link stays a link: the file it points to is the one replaced.
std::string replacementTarget(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

bool replaceAtomically(const std::string& path, const std::string& bytes)
{
    const std::string target = replacementTarget(path);
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    const mode_t mode = ::stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
    const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

// Writes the cached document to disk; on failure the cache is dropped, so that the next call
// sees the file as it really is.
bool flush(const std::string& path, CachedFile& file)
{
    if (!replaceAtomically(path, file.document.serialize())) {
        cache.erase(path);
        return false;
    }
    file.dirty = false;
    file.stamp = stampOf(path);
    return true;
}

} // namespace

std::int32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                                      char* buffer, std::uint32_t bufferSize, const char* path)
{
    if (!path || !*path)
        return answerRead(IniDocument(), section, key, defaultText, buffer, bufferSize);
    std::lock_guard<std::mutex> lock(storeMutex);
    return answerRead(current(path).document, section, key, defaultText, buffer, bufferSize);
}

std::int32_t WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                        const char* path)
{
    if (!section || !path || !*path)
        return 0;
    const CallerText sectionName(section);
    const CallerText keyName(key ? key : "");
    const CallerText valueText(value ? value : "");
    const std::string_view sectionText = sectionName.text();
    const std::string_view keyText = keyName.text();
    if (!IniDocument::isWritableSection(sectionText) ||
        (key && !IniDocument::isWritableKey(keyText)) ||
        (key && value && !IniDocument::isWritableValue(valueText.text())))
        return 0;

    std::lock_guard<std::mutex> lock(storeMutex);
    CachedFile& file = current(path);
    if (file.readError != 0)
        return 0;
    bool changed;
    if (!key)
        changed = file.document.removeSection(sectionText);
    else if (!value)
        changed = file.document.removeKey(sectionText, keyText);
    else
        changed = file.document.setValue(sectionText, keyText, valueText.text());
    if (!changed)
        return 1;
    file.dirty = true;
    if (file.batchDepth > 0)
        return 1;
    return flush(path, file) ? 1 : 0;
}

int readError(const std::string& path)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return current(path).readError;
}

void forget(const std::string& path)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    const auto found = cache.find(path);
    if (found != cache.end() && found->second.batchDepth == 0)
        cache.erase(found);
}

Batch::Batch(std::string path) : path_(std::move(path)), open_(true), committed_(false)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    ++current(path_).batchDepth;
}

Batch::Batch(Batch&& other) noexcept
    : path_(std::move(other.path_)), open_(other.open_), committed_(other.committed_)
{
    other.open_ = false;
    other.committed_ = true;
}

Batch::~Batch()
{
    commit();
}

bool Batch::commit()
{
    if (!open_)
        return committed_;
    open_ = false;
    std::lock_guard<std::mutex> lock(storeMutex);
    CachedFile& file = cache[path_];
    if (--file.batchDepth > 0) {
        committed_ = true;
        return committed_;
    }
    committed_ = !file.dirty || flush(path_, file);
    return committed_;
}

} // namespace profile
