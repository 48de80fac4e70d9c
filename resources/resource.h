// Resource identifiers shared by the resource script and the Win32 window.
#pragma once
#define IDI_UPDATER 1
#define IDB_BANNER 100
