#pragma once

#include <QString>

// The text with every character that a terminal would act on instead of showing written as a
// visible escape: control characters (C0, DEL, C1) as \n, \r, \t or \xHH, and the
// bidirectional embeddings, overrides and isolates as \uHHHH. Other text is left as it is.
QString terminalSafe(const QString& text);
