#pragma once

#include "ini_document.h"

#include <cstddef>
#include <cstdint>

namespace profile {

// Answers a GetPrivateProfileStringA call from `document` into the caller's buffer, with the
// Windows rules for defaults and for texts and lists that do not fit. The caller's texts
// are 8-bit text as fromCallerText takes them.
// How many bytes of a value of `size` bytes (`quoted`: it stood in quotes) a read into a buffer
// of `bufferSize` bytes gives.
std::size_t readLength(std::size_t size, bool quoted, std::uint32_t bufferSize);

std::int32_t answerRead(const IniDocument& document, const char* section, const char* key,
                        const char* defaultText, char* buffer, std::uint32_t bufferSize);

} // namespace profile
