#pragma once

// Makes standard input, output and error safe to use for the program's whole life: a closed one
// is opened on /dev/null, so that no file the program opens later takes its number, and SIGPIPE
// is ignored, so that a reader who quits (`kormil 2>&1 | less`) cannot end the program. Started
// programs get the default disposition back.
void keepStandardStreamsSafe();

// Sends all later writes to standard error to /dev/null, once nobody reads it any more.
void stopWritingToStandardError();
