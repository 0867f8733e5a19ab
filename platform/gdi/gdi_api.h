// Visibility of the drawing subset's interface. The subset is one shared library per process
// (like the system's graphics library): the control, the device library and the player all draw
// through it, so a handle made by one is understood by the others.
#pragma once

#if defined(PLATFORM_GDI_BUILDING)
#define PLATFORM_GDI_API __attribute__((visibility("default")))
#else
#define PLATFORM_GDI_API
#endif
