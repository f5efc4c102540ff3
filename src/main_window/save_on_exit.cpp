#include "save_on_exit.h"

#include "frmMain.h"

#include <cstdlib>

namespace {

frmMain* windowToSave = nullptr;

void saveAtExit()
{
    if (windowToSave)
        windowToSave->saveBeforeAbruptExit();
}

} // namespace

cSaveOnExit::cSaveOnExit(frmMain& window)
{
    windowToSave = &window;
    static const bool registered = std::atexit(saveAtExit) == 0;
    static_cast<void>(registered);
}

cSaveOnExit::~cSaveOnExit()
{
    windowToSave = nullptr;
}
