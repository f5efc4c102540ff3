#pragma once

#include <cstdint>
#include <string>

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
// Each file is parsed once and kept; a change by another program (size, time, inode) is noticed
// on the next call. Every update replaces the file atomically through a temporary file in the
// same directory, so the file on disk always holds either the old or the new content.
namespace profile {

std::int32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                                      char* buffer, std::uint32_t bufferSize, const char* path);
std::int32_t WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                        const char* path);

// 0 when the file is missing or was read; otherwise the errno value that kept it from being read
// (a file in that state is never written).
int readError(const std::string& path);

// Drops the store's parsed copy of the file, so that the next call reads it anew: for a
// caller that knows the file changed within the resolution of its time stamps.
void forget(const std::string& path);

// While a Batch for a file is open, reads of that file use the copy in memory without looking
// at the disk, and writes stay in memory; closing the outermost batch writes them in one
// atomic replacement. Batches of the same file nest.
class Batch {
public:
    explicit Batch(std::string path);
    Batch(Batch&& other) noexcept;
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    Batch& operator=(Batch&&) = delete;
    ~Batch();

    // Closes the batch; returns false when its writes could not reach the disk, in which case
    // the file keeps its content from before the batch. Later calls return the same result.
    bool commit();

private:
    std::string path_;
    bool open_ = false;
    bool committed_ = true;
};

} // namespace profile
