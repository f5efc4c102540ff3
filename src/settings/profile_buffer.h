#pragma once

#include "ini_document.h"

#include <cstdint>

namespace profile {

// Answers a GetPrivateProfileStringA call from `document` into the caller's buffer, with the
// Windows rules for defaults and for texts and lists that do not fit. The caller's texts
// are 8-bit text as fromCallerText takes them.
std::int32_t answerRead(const IniDocument& document, const char* section, const char* key,
                        const char* defaultText, char* buffer, std::uint32_t bufferSize);

} // namespace profile
