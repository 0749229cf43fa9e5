#include "platform/Printers.h"

#include <QPrinterInfo>

namespace {
int g_override = -1;
}

int Printers::count()
{
    if (g_override >= 0)
        return g_override;
    return int(QPrinterInfo::availablePrinterNames().size());
}

void Printers::setCountForTesting(int n)
{
    g_override = n;
}
