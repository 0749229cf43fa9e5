#pragma once

// The installed printers, as far as the program cares: how many there are.
namespace Printers {
int count();
// Lets tests pretend a number of printers; negative = ask the system again.
void setCountForTesting(int n);
} // namespace Printers
