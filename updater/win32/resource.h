#pragma once
// Resource identifiers of Updater7304.exe, shared by the resource script and the window code.

// The program icon; the lowest icon id is also the program file's icon.
#define IDI_UPDATER 1
