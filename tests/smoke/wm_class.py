#!/usr/bin/env python3
"""Prints an X window's WM_CLASS as the window system holds it: the instance
name and the class name, one a line. Usage: wm_class.py WINDOW_ID"""
import ctypes
import sys


class XClassHint(ctypes.Structure):
    _fields_ = [("res_name", ctypes.c_char_p), ("res_class", ctypes.c_char_p)]


def main():
    window = int(sys.argv[1], 0)
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XGetClassHint.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XClassHint)]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    hint = XClassHint()
    if not x11.XGetClassHint(display, window, ctypes.byref(hint)):
        sys.exit("the window has no WM_CLASS")
    print(hint.res_name.decode())
    print(hint.res_class.decode())
    x11.XCloseDisplay(display)


if __name__ == "__main__":
    main()
