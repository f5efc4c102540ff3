#pragma once

#include "ini_document.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The private-profile store: the two classic INI calls, served by our own store in standard C++
// and answering as the Windows calls do (the file's rules are in ini_document.h). A null pointer
// is an absent argument. Texts are 8-bit: UTF-8, or Windows-1252 where they are no valid UTF-8;
// files are read and written back in their own encoding (text_encoding.h).
//
// GetPrivateProfileStringA fills `buffer` and returns the number of bytes placed in it,
// without the terminating NUL:
//   - section and key given: the key's value, cut to bufferSize - 1, or, when the file, the
//     section, the key or its value is missing, the default text (absent means empty) without
//     its trailing spaces; a value or default in quotes loses its quotes, and one byte more
//     when the buffer just misses the closing quote;
//   - section given, key absent: the section's key names, each followed by a NUL, and one more
//     NUL at the end, which the count leaves out; the default text instead when that list is
//     empty or starts with an empty name;
//   - section absent: the file's section names in the same form.
//   Names are copied while more than two bytes are left; a list that does not fit ends with a
//   name cut so that its NUL takes the last byte but one, a second NUL in the last byte, and
//   the result bufferSize - 2, so the cut name has no NUL of its own within the count.
//
// WritePrivateProfileStringA returns nonzero for success and 0 for failure:
//   - key and value given: the key takes the value; section, key and file are created as needed;
//   - value absent: the key is removed;  key absent: the whole section is removed.
//   Names or values that could not be read back unchanged (line breaks, a key holding '=' or
//   starting with ';' or '[') are refused with 0, as is a file that exists but cannot be read.
//
// Outside a batch every call reads the file anew (its text is parsed again only when it differs
// from the text last read or saved). Only regular files are read: a FIFO, a
// device or a socket at the path is never opened, so no call blocks. A symbolic link stays a
// link; the file it points to is the one read and written, and created when it is missing.
//
// A save replaces the file atomically through a temporary file beside it ("NAME.XXXXXX"; those
// left by an interrupted save are removed), keeping the file's mode, owner and group; a new
// file gets 0666 less the umask. A file without any write permission bit is read-only, also for
// root. Where replacing would change what the file is - it has other hard links, its folder is
// not writable, its owner or group cannot be given to a new file - the bytes are written into
// the file itself instead, and put back as they were when that fails.
namespace profile {

// What became of one save.
struct SaveOutcome {
    // What the file holds afterwards.
    enum class File { Untouched, Replaced, WrittenInPlace, Damaged };
    // Why the bytes went into the file itself instead of a replacement.
    enum class InPlace { No, HardLinks, FolderNotWritable, OwnerKept };

    File file = File::Untouched;
    // 0 when every step succeeded, the durability checks included; otherwise the errno value of
    // the step that failed. A refused write gives EILSEQ (a text the file cannot hold) or the
    // file's read error.
    int error = 0;
    InPlace inPlace = InPlace::No;
    // The backup written before the save, or empty.
    std::string backup;
    // The error is the backup's: the file was left as it was.
    bool backupFailed = false;
};

std::int32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                                      char* buffer, std::uint32_t bufferSize, const char* path);
std::int32_t WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                        const char* path);

// Calls `visit` with the section's key names as a key-list read gives them, however many, except
// that an empty first name does not hide the others (a caller that must see every key, to keep
// it, needs them all). The texts last as long as the call.
void forEachKeyName(const char* section, const char* path,
                    const std::function<void(std::string_view name)>& visit);

// Calls `visit` with every key of the section that a value read finds, in file order, and the
// value that GetPrivateProfileStringA reads for it with an empty default into a buffer of
// `bufferSize` bytes: the same as one such read per key, in one pass over the section. The
// texts last as long as the call.
void forEachValue(const char* section, std::uint32_t bufferSize, const char* path,
                  const std::function<void(std::string_view key, std::string_view value)>& visit);

// 0 when the file is missing or was read; otherwise the errno value that kept it from being read
// (a file in that state is never written): EISDIR for a folder, EINVAL for anything else that
// is no regular file.
int readError(const std::string& path);

// The lines of the file's sections of that name (see IniDocument::sectionLines).
IniDocument::SectionLines sectionLines(const std::string& path, const std::string& section);

// A file's text as read or saved, with its parsed document.
struct FileText {
    std::string path;
    std::shared_ptr<const std::string> bytes;
    IniDocument document;
};

// Each thread keeps its own batches and its own text last read or saved, which a read uses
// unparsed while the file holds exactly those bytes (see above). A thread may read a file for
// another: it takes its text last read, which the other makes its own with useAsLastText.
std::optional<FileText> takeLastText();
void useAsLastText(FileText text);

// While a Batch for a file is open, the file is read once and kept in memory: reads use that
// copy, writes change it, and closing the outermost batch writes it in one save. A batch in
// which any write was refused writes nothing. Batches of the same file nest.
class Batch {
public:
    explicit Batch(std::string path);
    Batch(Batch&& other) noexcept;
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    Batch& operator=(Batch&&) = delete;
    ~Batch();

    // Has the save that closes the batch first copy the file, as it was when the batch opened,
    // to "PATH.bak" (the earlier backup becomes "PATH.bak.1"); without that copy nothing is
    // saved. Only a save that changes the file makes a backup.
    void keepBackup();

    // True while the batch is open with that very text as its copy of the file: the file held
    // exactly those bytes when the batch read it (given with useAsLastText before it opened).
    bool holds(const std::shared_ptr<const std::string>& bytes) const;

    // Closes the batch; returns false when its writes did not all reach the disk. Later calls
    // return the same result.
    bool commit();
    // What the closing save did; all defaults when there was nothing to save.
    const SaveOutcome& outcome() const { return outcome_; }

private:
    std::string path_;
    bool open_ = false;
    bool committed_ = true;
    SaveOutcome outcome_;
};

} // namespace profile
