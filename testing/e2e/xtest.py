"""Key events by X key code straight into the X server through XTEST: far faster than one xdotool a key."""
import ctypes
import threading


class XTest:
    def __init__(self, display):
        self.x11, self.xtst = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XFlush.argtypes = self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display %s" % display)

    def move(self, key):
        """Presses `key` (an X key code), or releases it when negative."""
        self.xtst.XTestFakeKeyEvent(self.dpy, abs(key), key > 0, 0)
        self.x11.XFlush(self.dpy)

    def presses(self, keycode, count, stop=threading.Event()):
        """`count` press and release pairs of `keycode` (sent as Xlib's buffer fills), until `stop` is set."""
        for _ in range(count):
            if stop.is_set():
                break
            self.xtst.XTestFakeKeyEvent(self.dpy, keycode, 1, 0)
            self.xtst.XTestFakeKeyEvent(self.dpy, keycode, 0, 0)
        self.x11.XFlush(self.dpy)

    def close(self):
        self.x11.XCloseDisplay(self.dpy)
