#include "tests/support/TestClock.h"
#include "tests/support/Recorders.h"
