#include "main_window/frmMain.h"

void frmMain::cmdListen_Click() {}
