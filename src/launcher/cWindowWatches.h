#pragma once

#include "cWindowStyling.h"
#include "process_session.h"

#include <QString>
#include <vector>

// What the Wayland stylers keep of each start while they wait for its window and read its
// state back: a `Watch` has the started `program`, its `style`, the `window` taken for it (null
// while none) and the window that was active at the start (`previous`, null: none). Each start
// is told done exactly once, whichever comes first: its state read back, no window in time, its
// window closed, or the compositor gone.
template <typename Watch> class cWindowWatches : public cWindowStyling {
protected:
    Watch* watchOf(pid_t program)
    {
        for (Watch& watch : watches_) {
            if (watch.program == program)
                return &watch;
        }
        return nullptr;
    }

    void finish(pid_t program, const QString& whyNot = {})
    {
        Watch* watch = watchOf(program);
        if (!watch)
            return;
        const std::int16_t style = watch->style;
        watches_.erase(watches_.begin() + (watch - watches_.data()));
        reportDone(program, style, whyNot);
    }

    void finishAll(const QString& whyNot)
    {
        for (const Watch& watch : std::vector<Watch>(watches_))
            finish(watch.program, whyNot);
    }

    // A start still without a window when its time is up.
    void expire(pid_t program, int watchedMs)
    {
        const Watch* watch = watchOf(program);
        if (watch && !watch->window)
            finish(program, whyNoWindow(program, watchedMs));
    }

    // A window that closed is no one's to hand the focus back to, and one closed before its
    // state was read back leaves nothing to tell.
    template <typename Window> void forgetWindow(const Window* window)
    {
        for (Watch& watch : watches_) {
            if (watch.previous == window)
                watch.previous = nullptr;
        }
        for (const Watch& watch : std::vector<Watch>(watches_)) {
            if (watch.window == window)
                finish(watch.program);
        }
    }

    std::vector<Watch> watches_;
};
