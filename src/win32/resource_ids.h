#pragma once

// Resource ids shared by the .rc files and the code. The icon has the lowest id so that it is
// the program file's icon.
#define IDI_IPSETTER 1
#define IDB_KEYBOARD 101
