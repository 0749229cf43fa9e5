// The table interface's own meta-object code, in an object of its own: whoever links only
// the rules does not pull in the file commands through a shared one.
#include "protocol/Table.h"

#include "moc_Table.cpp"
