#include "profile_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace profile {

namespace {

using Outcome = SaveOutcome;

constexpr int kMaxLinkHops = 40;
constexpr std::size_t kTagLength = 6;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Returns 0 or the errno value of the close, which can report a failed write.
    int close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int errorOfKind(mode_t mode)
{
    return S_ISDIR(mode) ? EISDIR : EINVAL;
}

// The file that a chain of symbolic links ends at, whether it exists or not.
int resolveLinks(std::string path, std::string& target)
{
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 && errno != ENOENT)
            return errno;
        if (!S_ISLNK(info.st_mode)) {
            target = path;
            return 0;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t size = ::readlink(path.c_str(), link.data(), link.size());
        if (size < 0)
            return errno;
        if (static_cast<std::size_t>(size) == link.size())
            return ENAMETOOLONG;
        link.resize(static_cast<std::size_t>(size));
        path = link.front() == '/' ? link : folderOf(path) + '/' + link;
    }
    return ELOOP;
}

// Random name endings that always hold a capital and a digit, so that the clean-up below does
// not mistake a user's "kormil.ini.backup" for one of ours.
std::string randomTag()
{
    static constexpr std::string_view kCapitals = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static constexpr std::string_view kDigits = "0123456789";
    static constexpr std::string_view kAny =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, kAny.size() - 1);
    std::string tag(kTagLength, ' ');
    for (char& c : tag)
        c = kAny[pick(device)];
    const std::size_t capital = pick(device) % kTagLength;
    tag[capital] = kCapitals[pick(device) % kCapitals.size()];
    tag[(capital + 1 + pick(device) % (kTagLength - 1)) % kTagLength] =
        kDigits[pick(device) % kDigits.size()];
    return tag;
}

bool isOurTag(std::string_view tag)
{
    bool capital = false, digit = false, other = true;
    for (const char c : tag) {
        capital = capital || (c >= 'A' && c <= 'Z');
        digit = digit || (c >= '0' && c <= '9');
        other =
            other && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
    }
    return tag.size() == kTagLength && capital && digit && other;
}

// Temporaries of an interrupted save: ours by name, a plain file of our own, and not locked by
// a save that is still writing it.
void removeStaleTemporaries(const std::string& target)
{
    const std::string folder = folderOf(target);
    const std::size_t slash = target.rfind('/');
    const std::string prefix =
        (slash == std::string::npos ? target : target.substr(slash + 1)) + '.';
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return; // a left-over temporary costs only space; the save itself goes on
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (name.size() != prefix.size() + kTagLength || name.substr(0, prefix.size()) != prefix ||
            !isOurTag(name.substr(prefix.size())))
            continue;
        Descriptor fd(::openat(::dirfd(listing), entry->d_name,
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat info {};
        if (fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid() && info.st_nlink == 1 &&
            ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
    ::closedir(listing);
}

// Some file systems cannot sync a folder and say so with EINVAL; nothing more can be made
// durable on them.
int syncFolder(const std::string& folder)
{
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno;
    if (::fsync(fd.get()) != 0 && errno != EINVAL)
        return errno;
    return fd.close();
}

// Writes the whole text from the start of the file, cuts what lies beyond it, and syncs.
int putWhole(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return put < 0 ? errno : EIO;
        done += static_cast<std::size_t>(put);
    }
    if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 || ::fsync(fd) != 0)
        return errno;
    return 0;
}

// Gives the new file the mode, owner and group of `like`. Not being allowed to set the owner or
// group is told apart, so that the caller can decide what it means.
int copyIdentity(int fd, const struct stat& like, bool& ownerRefused)
{
    struct stat mine {};
    if (::fstat(fd, &mine) != 0)
        return errno;
    if (mine.st_uid != like.st_uid || mine.st_gid != like.st_gid) {
        const uid_t owner = mine.st_uid != like.st_uid ? like.st_uid : static_cast<uid_t>(-1);
        const gid_t group = mine.st_gid != like.st_gid ? like.st_gid : static_cast<gid_t>(-1);
        if (::fchown(fd, owner, group) != 0) {
            if (errno != EPERM)
                return errno;
            ownerRefused = true;
        }
    }
    return ::fchmod(fd, like.st_mode & 07777) == 0 ? 0 : errno;
}

struct Temporary {
    std::string path;
    bool ownerRefused = false;
};

// Writes `bytes` durably into a new file beside `target`, like `like` when given (else with
// 0666 less the umask). With `ownerRequired`, a refused owner or group stops it early. On
// failure no temporary is left.
int writeTemporary(const std::string& target, const std::string& bytes, const struct stat* like,
                   bool ownerRequired, Temporary& temporary)
{
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary.path = target + '.' + randomTag();
        fd = ::open(temporary.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    Descriptor file(fd);
    // Only keeps a concurrent clean-up away; a file system without locks loses nothing else.
    static_cast<void>(::flock(fd, LOCK_EX | LOCK_NB));
    int error = like ? copyIdentity(fd, *like, temporary.ownerRefused) : 0;
    if (error == 0 && temporary.ownerRefused && ownerRequired)
        error = EPERM;
    if (error == 0)
        error = putWhole(fd, bytes);
    if (const int closed = file.close(); error == 0)
        error = closed;
    if (error != 0)
        ::unlink(temporary.path.c_str());
    return error;
}

int writeBackup(const std::string& target, const std::string& previous, const struct stat& like)
{
    const std::string backup = target + ".bak";
    Temporary temporary;
    // A backup that its owner could not have made is still a backup.
    if (const int error = writeTemporary(target, previous, &like, false, temporary))
        return error;
    struct stat info {};
    const bool hadBackup = ::lstat(backup.c_str(), &info) == 0;
    if ((hadBackup && ::rename(backup.c_str(), (backup + ".1").c_str()) != 0) ||
        ::rename(temporary.path.c_str(), backup.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.path.c_str());
        return error;
    }
    return syncFolder(folderOf(target));
}

// Writes into the file itself, and puts the old bytes back when that fails.
Outcome writeInPlace(const std::string& target, const std::string& bytes,
                     const std::string& previous, Outcome::InPlace why, Outcome outcome)
{
    outcome.inPlace = why;
    Descriptor fd(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        outcome.error = errno;
        return outcome;
    }
    if (!S_ISREG(info.st_mode)) {
        outcome.error = errorOfKind(info.st_mode);
        return outcome;
    }
    // Space first, so that a full disk stops the save before the file is touched.
    if (bytes.size() > previous.size()) {
        const int error = ::posix_fallocate(fd.get(), 0, static_cast<off_t>(bytes.size()));
        if (error != 0 && error != EOPNOTSUPP && error != EINVAL) {
            outcome.error = error;
            return outcome;
        }
    }
    outcome.error = putWhole(fd.get(), bytes);
    if (outcome.error != 0) {
        outcome.file =
            putWhole(fd.get(), previous) == 0 ? Outcome::File::Untouched : Outcome::File::Damaged;
        return outcome;
    }
    outcome.file = Outcome::File::WrittenInPlace;
    outcome.error = fd.close();
    return outcome;
}

} // namespace

int readFile(const std::string& path, std::string& bytes, const std::string* known, bool* same)
{
    if (same)
        *same = false;
    // Looked at before it is opened: opening a FIFO or a device can block or act on it.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return errorOfKind(info.st_mode);
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return errorOfKind(info.st_mode);
    bytes.clear();
    // The bytes that matched `known` so far, not copied yet; npos once they differ.
    std::size_t matched = known ? 0 : std::string::npos;
    const auto copyMatched = [&] {
        bytes.reserve(std::max(static_cast<std::size_t>(info.st_size), matched));
        bytes.assign(*known, 0, matched);
        matched = std::string::npos;
    };
    if (!known)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        const std::string_view read(chunk, static_cast<std::size_t>(got));
        if (got == 0) {
            if (matched != std::string::npos && matched == known->size())
                *same = true;
            else if (matched != std::string::npos)
                copyMatched();
            return 0;
        }
        if (matched != std::string::npos &&
            std::string_view(*known).substr(matched, read.size()) == read) {
            matched += read.size();
            continue;
        }
        if (matched != std::string::npos)
            copyMatched();
        bytes.append(read);
    }
}

SaveOutcome saveFile(const std::string& path, const std::string& bytes, const std::string& previous,
                     bool keepBackup)
{
    Outcome outcome;
    std::string target;
    if ((outcome.error = resolveLinks(path, target)) != 0)
        return outcome;
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        outcome.error = errno;
        return outcome;
    }
    if (exists) {
        if (!S_ISREG(info.st_mode))
            outcome.error = errorOfKind(info.st_mode);
        // No write bit at all means read-only, also for root, whom access() lets write anyway.
        else if ((info.st_mode & 0222) == 0)
            outcome.error = EACCES;
        else if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            outcome.error = errno;
        if (outcome.error != 0)
            return outcome;
    }
    if (exists && keepBackup) {
        outcome.error = writeBackup(target, previous, info);
        outcome.backup = target + ".bak";
        outcome.backupFailed = outcome.error != 0;
        if (outcome.backupFailed)
            return outcome;
    }
    // Another name of the file would keep the old bytes if this one were replaced.
    if (exists && info.st_nlink > 1)
        return writeInPlace(target, bytes, previous, Outcome::InPlace::HardLinks, outcome);

    removeStaleTemporaries(target);
    Temporary temporary;
    const int error = writeTemporary(target, bytes, exists ? &info : nullptr, true, temporary);
    if (exists && temporary.ownerRefused)
        return writeInPlace(target, bytes, previous, Outcome::InPlace::OwnerKept, outcome);
    if (exists && (error == EACCES || error == EPERM))
        return writeInPlace(target, bytes, previous, Outcome::InPlace::FolderNotWritable, outcome);
    if (error != 0 || ::rename(temporary.path.c_str(), target.c_str()) != 0) {
        outcome.error = error != 0 ? error : errno;
        if (error == 0)
            ::unlink(temporary.path.c_str());
        return outcome;
    }
    outcome.file = Outcome::File::Replaced;
    outcome.error = syncFolder(folderOf(target));
    return outcome;
}

} // namespace profile
