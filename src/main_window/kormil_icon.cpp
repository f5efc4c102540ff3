#include "kormil_icon.h"

QIcon kormilIcon()
{
    return QIcon(QStringLiteral(":/kormil/kormil.svg"));
}
