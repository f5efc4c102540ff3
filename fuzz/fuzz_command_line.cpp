// Splits arbitrary command lines; whatever splits must split the same again once every word is
// put back in single quotes.
#include "launcher/command_line.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    const auto words = cmdline::split(line);
    if (!words)
        return 0;
    std::string quoted;
    for (const std::string& word : *words) {
        quoted += '\'';
        for (char c : word)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        quoted += "' ";
    }
    const auto again = cmdline::split(quoted);
    if (!again || *again != *words)
        std::abort();
    return 0;
}
