#pragma once

class frmMain;

// Qt ends the program with exit() when the display connection breaks (the X server went away
// at logout, say); no window closes then, and the table would not be saved. While a
// cSaveOnExit lives, such an exit saves the table first, unattended.
class cSaveOnExit {
public:
    explicit cSaveOnExit(frmMain& window);
    ~cSaveOnExit();
    cSaveOnExit(const cSaveOnExit&) = delete;
    cSaveOnExit& operator=(const cSaveOnExit&) = delete;
};
