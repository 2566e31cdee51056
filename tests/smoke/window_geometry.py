#!/usr/bin/env python3
"""Prints where an X window really is: its client area's top-left corner on
the screen, then the rectangle of the frame a window manager put around it
(left, top, width, height; the client's own when it has no frame).
Usage: window_geometry.py WINDOW_ID"""
import ctypes
import sys


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("pad", ctypes.c_byte * 256)]


def main():
    window = int(sys.argv[1], 0)
    x11 = ctypes.CDLL("libX11.so.6")
    ulong_p = ctypes.POINTER(ctypes.c_ulong)
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ulong_p, ulong_p,
                               ctypes.POINTER(ulong_p), ctypes.POINTER(ctypes.c_uint)]
    x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                          ctypes.c_int, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                                          ulong_p]
    x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XWindowAttributes)]
    x11.XFree.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    root = x11.XDefaultRootWindow(display)
    x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
    if not x11.XTranslateCoordinates(display, window, root, 0, 0, ctypes.byref(x), ctypes.byref(y),
                                     ctypes.byref(child)):
        sys.exit("cannot translate the window's coordinates")

    # The frame is the window's ancestor just below the root.
    frame = window
    while True:
        root_return, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ulong_p(), ctypes.c_uint()
        if not x11.XQueryTree(display, frame, ctypes.byref(root_return), ctypes.byref(parent),
                              ctypes.byref(children), ctypes.byref(count)):
            sys.exit("cannot query the window tree")
        if children:
            x11.XFree(children)
        if parent.value in (0, root):
            break
        frame = parent.value
    attributes = XWindowAttributes()
    if not x11.XGetWindowAttributes(display, frame, ctypes.byref(attributes)):
        sys.exit("cannot read the frame's attributes")
    print(x.value, y.value, attributes.x, attributes.y, attributes.width, attributes.height)
    x11.XCloseDisplay(display)


if __name__ == "__main__":
    main()
