#pragma once

class cShutdownSignals;
class frmMain;

// On SIGTERM, SIGINT or SIGHUP: closes the window unattended, which saves the table, and ends
// every running event loop, a message box's included. `requested` turns true.
void closeOnShutdownSignals(cShutdownSignals& shutdown, frmMain& window, bool& requested);
