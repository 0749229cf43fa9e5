#include "platform/Termination.h"

namespace {
// Set and read on the UI thread only (the signal handler writes to a socket).
bool g_requested = false;
} // namespace

void Termination::request()
{
    g_requested = true;
}

bool Termination::requested()
{
    return g_requested;
}
