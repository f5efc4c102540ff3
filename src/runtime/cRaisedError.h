#pragma once

#include <QString>
#include <exception>

// An error that a platform component raises instead of returning a code: the socket control,
// the process launcher, a text-to-number conversion. Handlers catch it at their edge; it never
// leaves a Qt slot.
class cRaisedError : public std::exception {
public:
    cRaisedError(int number, QString text) : number(number), text(std::move(text)) {}
    const char* what() const noexcept override { return "cRaisedError"; }

    int number;
    QString text;
};
