#pragma once

class frmMain;

// When the display connection breaks (the X server went away at logout, say), Qt says so and
// ends the program with exit() at once: no window closes, and the table would not be saved.
// While a cSaveOnDisplayLoss lives, Qt's word of it saves the table first, unattended, while
// everything the save uses still exists. One may live at a time: a second throws
// std::logic_error.
class cSaveOnDisplayLoss {
public:
    explicit cSaveOnDisplayLoss(frmMain& window);
    ~cSaveOnDisplayLoss();
    cSaveOnDisplayLoss(const cSaveOnDisplayLoss&) = delete;
    cSaveOnDisplayLoss& operator=(const cSaveOnDisplayLoss&) = delete;
};
