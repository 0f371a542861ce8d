// Resource numbers of the module (macros: the resource compiler reads this file too).
#pragma once

#define IDS_PROJNAME 100
#define IDB_TOOLBOX 101
#define IDR_VGRAPH 102
#define IDD_VGRAPH 103
#define IDR_NVGRAPH 106
#define IDB_BACKGROUND 202
#define IDB_LOGO 203
