#pragma once

#include <cstdint>
#include <sys/types.h>

// Gives the windows of a program that has just started the window style it was started with
// (0 hidden, 1 normal and focused, 2 minimised and focused, 3 maximised and focused, 4 normal,
// 6 minimised; 4 and 6 leave the focus where it was).
class cWindowStyling {
public:
    virtual ~cWindowStyling() = default;
    virtual void apply(pid_t program, std::int16_t windowStyle) = 0;
};
