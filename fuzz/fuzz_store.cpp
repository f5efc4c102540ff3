// Reads arbitrary file bytes through every read form of the store, then writes one key, and
// checks what the store promises: counts and terminators within the buffer, refused line
// breaks, what was written reads back, and a new section leaves every earlier byte in place
// (unless a Windows-1252 file has to take a character that code page lacks).
#include "settings/private_profile.h"
#include "settings/text_encoding.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& scratchFile()
{
    static const std::string path = [] {
        char folder[] = "/tmp/kormil-fuzz-XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        return std::string(folder) + "/fuzz.ini";
    }();
    return path;
}

std::string readFile(const std::string& path)
{
    std::string bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.append(chunk, got);
        std::fclose(file);
    }
    return bytes;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

#define check(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "failed: %s (line %d)\n", #condition, __LINE__);                  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// Reads a list and returns its names; checks the count and the terminating NULs.
std::vector<std::string> readList(const char* section, std::uint32_t size, const char* path)
{
    std::vector<char> buffer(size, 'x');
    const int count =
        profile::GetPrivateProfileStringA(section, nullptr, nullptr, buffer.data(), size, path);
    check(count >= 0 && static_cast<std::uint32_t>(count) < size);
    check(buffer[count] == '\0');
    std::vector<std::string> names;
    for (int start = 0, i = 0; i < count; ++i) {
        if (buffer[i] == '\0') {
            names.emplace_back(buffer.data() + start, i - start);
            start = i + 1;
        }
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto bufferSize = input.ConsumeIntegralInRange<std::uint32_t>(1, 300);
    const std::string value = input.ConsumeRandomLengthString(80);
    const std::string original = input.ConsumeRemainingBytesAsString();
    const std::string& path = scratchFile();
    writeFile(path, original);

    const std::vector<std::string> sections = readList(nullptr, 8192, path.c_str());
    readList(nullptr, bufferSize, path.c_str());
    for (std::size_t s = 0; s < sections.size() && s < 8; ++s) {
        const std::vector<std::string> keys = readList(sections[s].c_str(), 8192, path.c_str());
        for (std::size_t k = 0; k < keys.size() && k < 8; ++k) {
            std::vector<char> buffer(bufferSize, 'x');
            const int count =
                profile::GetPrivateProfileStringA(sections[s].c_str(), keys[k].c_str(), "dflt",
                                                  buffer.data(), bufferSize, path.c_str());
            check(count >= 0 && static_cast<std::uint32_t>(count) < bufferSize);
            check(buffer[count] == '\0');
        }
    }

    const char* section = "zz fuzz";
    bool sectionIsNew = true;
    for (const std::string& name : sections)
        sectionIsNew = sectionIsNew && strcasecmp(name.c_str(), section) != 0;
    const std::string written = value.substr(0, value.find('\0'));
    const int result =
        profile::WritePrivateProfileStringA(section, "key", written.c_str(), path.c_str());
    if (written.find_first_of("\r\n") != std::string::npos) {
        check(result == 0);
        check(readFile(path) == original);
        return 0;
    }
    check(result == 1);
    // The caller's bytes are text in UTF-8, or else in Windows-1252; they read back in UTF-8.
    const std::string text(profile::CallerText(written.c_str()).text());
    std::vector<char> buffer(512, 'x');
    const int count = profile::GetPrivateProfileStringA(section, "key", nullptr, buffer.data(), 512,
                                                        path.c_str());
    check(std::string(buffer.data(), count) == text);
    // Only a Windows-1252 file that could not hold the text as Windows-1252 changes encoding.
    profile::FileEncoding before;
    profile::FileEncoding after;
    profile::decodeFile(original, before);
    profile::decodeFile(readFile(path), after);
    check(after.charset == before.charset ||
          before.charset == profile::FileEncoding::Charset::Windows1252);
    if (sectionIsNew && after.charset == before.charset)
        check(readFile(path).compare(0, original.size(), original) == 0);
    return 0;
}
