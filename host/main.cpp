// The program Yonderpad. It reads no arguments: everything it does comes from
// the module descriptions, the project file and the settings store.

#include "host/KorvoApp.h"

YonderpadApp theApp;

int main() { return theApp.Main(); }
