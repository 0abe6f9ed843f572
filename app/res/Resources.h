#pragma once
// Resource identifiers of Cardwick.exe, shared by Cardwick.rc and the code that loads them.

// The program icon: the executable's icon, the forms' design-time icon, the About box's picture.
#define IDI_CARDWICK 1

// The main window's image list, in image order: idle, reading, and a tick that no code shows.
#define IDI_IMAGE_IDLE 101
#define IDI_IMAGE_READING 102
#define IDI_IMAGE_TICK 103

// The settings dialog's check mark, drawn transparent on its light grey.
#define IDB_CHECKMARK 201

// The busy animation of the main window and the settings dialog: 16 by 16, eight frames.
#define IDR_BUSY 301
