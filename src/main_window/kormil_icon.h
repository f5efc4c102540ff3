#pragma once

#include <QIcon>

// Kormil's icon, the one installed for the desktop's menu, compiled into the program.
QIcon kormilIcon();
