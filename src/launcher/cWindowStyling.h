#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <sys/types.h>

// Gives the windows of a program that has just started the window style it was started with
// (0 hidden, 1 normal and focused, 2 minimised and focused, 3 maximised and focused, 4 normal,
// 6 minimised; 4 and 6 leave the focus where it was).
class cWindowStyling {
public:
    virtual ~cWindowStyling() = default;
    virtual void apply(pid_t program, std::int16_t windowStyle) = 0;

    // Told, once for each apply and when the styler is done with that program, why the style
    // did not take; `whyNot` is empty when it took or when nothing could be learnt.
    using Done =
        std::function<void(pid_t program, std::int16_t windowStyle, const QString& whyNot)>;
    // Told a line about what styles can do on this desktop at all.
    using Notice = std::function<void(const QString& line)>;
    void setReports(Done done, Notice notice)
    {
        done_ = std::move(done);
        notice_ = std::move(notice);
    }

protected:
    void reportDone(pid_t program, std::int16_t windowStyle, const QString& whyNot = {}) const
    {
        if (done_)
            done_(program, windowStyle, whyNot);
    }
    void reportNotice(const QString& line) const
    {
        if (notice_)
            notice_(line);
    }

private:
    Done done_;
    Notice notice_;
};
