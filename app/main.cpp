// main.cpp - the program quorvix-mini: the one place that registers the plug-in libraries
// (filters, measurement, the composite dialog) with the main screen, then runs it.  The
// program takes no command line: it opens empty.
#include "app/mainscreen.h"

int main() { return RunMainScreen(); }
