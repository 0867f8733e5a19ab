// Visibility of the window system's interface. The window system is one shared library per
// process (like the system's user interface library): the host and the control both link it,
// so they see the same windows, queues, timers and host site.
#pragma once

#if defined(PLATFORM_UI_BUILDING)
#define PLATFORM_UI_API __attribute__((visibility("default")))
#else
#define PLATFORM_UI_API
#endif
