#pragma once
// GIO, and GObject with it, are loaded on the first call into either rather
// than with the program: nothing the first window shows needs them, and
// loading and relocating the seven libraries they bring costs the start
// milliseconds. The program is built against their headers only; this unit
// defines each function of theirs that it calls and hands the call on.
//
// A GIO function called anywhere in app/ or zel/ must be listed in
// Zel_gio.cpp, or the program does not link.
