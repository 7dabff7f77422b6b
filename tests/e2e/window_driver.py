"""Drives a running clipvane window from outside over the accessibility bus, and reads the
service's data over its HTTP API. Waits poll with short timeouts; each failure says what it
waited for."""

import ctypes
import json
import os
import re
import subprocess
import time
import urllib.request

import pyatspi


class Failure(Exception):
    pass


def wait_for(what, probe, timeout=10.0):
    """Polls probe() until it returns something truthy and returns that."""
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        try:
            value = probe()
            if value:
                return value
            last = value
        except Failure:
            raise
        except Exception as error:  # a tree that changes under us answers with errors for a moment
            last = error
        time.sleep(0.03)
    raise Failure(f"timed out after {timeout:g} s waiting for {what} (last seen: {last!r})")


class Service:
    """A real clipvane-service on a free loopback port with its own data folder."""

    def __init__(self, binary, folder):
        self.binary, self.data = binary, os.path.join(folder, "service")
        self.log_path = os.path.join(folder, "service.log")
        with open(self.log_path, "w") as log:
            self.process = subprocess.Popen([binary, "serve", "--listen", "127.0.0.1:0", "--data", self.data],
                                            stdout=subprocess.DEVNULL, stderr=log)
        port = wait_for("the service to listen", self._port, 30)
        self.api = f"http://127.0.0.1:{port}/api"

    def _port(self):
        if self.process.poll() is not None:
            raise Failure("the service ended at start: " + open(self.log_path).read())
        match = re.search(r"listening on http://127\.0\.0\.1:(\d+)", open(self.log_path).read())
        return match and match.group(1)

    def token(self, email):
        return subprocess.check_output([self.binary, "token", email, "--data", self.data], text=True).strip()

    def call(self, token, path, body=None):
        request = urllib.request.Request(f"{self.api}/{path}", data=None if body is None else json.dumps(body).encode(),
                                         headers={"Authorization": "Bearer " + token,
                                                  "Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.load(reply)

    def videos(self, token):
        """The account's live videos by YouTube id."""
        rows = self.call(token, "videos.php?limit=500")["videos"]
        return {row["youtube_id"]: row for row in rows if not row["deleted"]}

    def stop(self):
        self.process.terminate()
        self.process.wait(20)


def application(process):
    """The accessible application of a started process, once its window is on the bus."""
    pid = process.pid

    def probe():
        if process.poll() is not None:
            raise Failure(f"the application ended with {process.returncode} before its window appeared")
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == pid and app.childCount:
                return app
    return wait_for(f"process {pid} on the accessibility bus", probe, 30)


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def descendants(node, keep_hidden=False):
    """Every showing node under node (and the menus of a menu bar; every node with keep_hidden), but
    never the rows of a list."""
    for child in node:
        if child is None or not (keep_hidden or showing(child)):
            continue
        yield child
        if child.getRoleName() not in ("list", "table", "tree", "tree table"):
            yield from descendants(child, keep_hidden or child.getRoleName() == "menu bar")


def find(root, role, name=None, timeout=10.0):
    """The first showing node with the role whose name equals name (or matches it, a pattern)."""
    def matches(node):
        if node.getRoleName() != role:
            return False
        return name is None or (name.fullmatch(node.name) if hasattr(name, "fullmatch") else node.name == name)
    what = f"a {role} named {getattr(name, 'pattern', name)!r}" if name is not None else f"a {role}"
    return wait_for(what, lambda: next((n for n in descendants(root) if matches(n)), None), timeout)


def window(app, role, title, timeout=10.0):
    """A shown top-level window of the application (of any role when role is None)."""
    def probe():
        return next((w for w in app if w is not None and role in (None, w.getRoleName()) and showing(w)
                     and (title is None or w.name == title)), None)
    try:
        return wait_for(f"the {role or 'window'} {title!r}" if title else f"a {role}", probe, timeout)
    except Failure as failure:
        open_windows = [f"{w.getRoleName()} {w.name!r}" for w in app if w is not None and showing(w)]
        raise Failure(f"{failure}; the application shows {', '.join(open_windows) or 'no window'}") from None


def gone(app, role, title, timeout=10.0):
    wait_for(f"the {role} {title!r} to close",
             lambda: not any(w is not None and w.getRoleName() == role and w.name == title and showing(w)
                             for w in app), timeout)


def press(node):
    """Presses a button or triggers a menu item through its first action."""
    node.queryAction().doAction(0)


_x11 = None


def _display():
    global _x11
    if _x11 is None:
        x11, xtest = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XStringToKeysym.restype = ctypes.c_ulong
        x11.XKeysymToKeycode.argtypes = (ctypes.c_void_p, ctypes.c_ulong)
        _x11 = (x11, xtest, ctypes.c_void_p(x11.XOpenDisplay(None)))
    return _x11


def click(node):
    """A real mouse click at the middle of node on screen. The accessibility registry moves the
    pointer but its button presses never reach the window on Xvfb: clicks go through XTest."""
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    if box.width <= 0 or box.height <= 0:
        raise Failure(f"cannot click {node.getRoleName()} {node.name!r}: it has no area on screen")
    x11, xtest, display = _display()
    xtest.XTestFakeMotionEvent(display, -1, box.x + box.width // 2, box.y + box.height // 2, ctypes.c_ulong(0))
    for pressed in (1, 0):
        xtest.XTestFakeButtonEvent(display, 1, pressed, ctypes.c_ulong(0))
        x11.XFlush(display)
        time.sleep(0.02)


def type_keys(text):
    """Real key presses, to whatever holds the keyboard focus."""
    for character in text:
        pyatspi.Registry.generateKeyboardEvent(0, character, pyatspi.KEY_STRING)
        time.sleep(0.01)


KEYS = {"Down": 0xFF54, "Up": 0xFF52, "Return": 0xFF0D, "Escape": 0xFF1B}


def press_keys(names):
    """Named keys (Down, Return, …) pressed one after another."""
    for name in names:
        pyatspi.Registry.generateKeyboardEvent(KEYS[name], None, pyatspi.KEY_SYM)
        time.sleep(0.02)


def chord(*names):
    """Real key presses through XTest, as a keyboard makes them: the keys named by their X names
    (Control_L, n, Escape, Return, space) go down in order and come up in reverse."""
    x11, xtest, display = _display()
    codes = [x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode())) for name in names]
    for pressed, order in ((1, codes), (0, list(reversed(codes)))):
        for code in order:
            xtest.XTestFakeKeyEvent(display, code, pressed, ctypes.c_ulong(0))
            x11.XFlush(display)
            time.sleep(0.02)
    time.sleep(0.05)


class _WindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


def popups():
    """The boxes (x, y, width, height) of the pop-ups on screen: menus are not on the accessibility
    bus, but they are the mapped override-redirect windows of the X server."""
    x11, _, display = _display()
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    root, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    x11.XQueryTree(display, ctypes.c_ulong(x11.XDefaultRootWindow(display)), ctypes.byref(root), ctypes.byref(parent),
                   ctypes.byref(children), ctypes.byref(count))
    boxes = []
    for i in range(count.value):
        attributes = _WindowAttributes()
        if x11.XGetWindowAttributes(display, ctypes.c_ulong(children[i]), ctypes.byref(attributes)) and \
                attributes.map_state == 2 and attributes.override_redirect and attributes.width > 1:
            boxes.append((attributes.x, attributes.y, attributes.width, attributes.height))
    if children:
        x11.XFree(children)
    return boxes


def extents(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def set_text(node, text):
    node.queryEditableText().setTextContents(text)


def text_of(node):
    return node.queryText().getText(0, -1)


def row_names(listing, limit=50):
    """The accessible texts of a short list's rows."""
    count = listing.childCount
    if count > limit:
        raise Failure(f"the list holds {count} rows; only short lists are read row by row")
    return [listing.getChildAtIndex(i).name for i in range(count)]


CONTROLS = {"push button", "toggle button", "check box", "radio button", "text", "password text", "entry",
            "combo box", "spin button", "slider", "menu item", "check menu item", "radio menu item",
            "page tab", "list", "table"}
DATA = re.compile(r"[0-9@]")


def unnamed(root, where):
    """Problems of the accessible tree under root: a control without a name (hidden ones too: a name
    must not wait for the control to appear), a shown label whose text is data (holds a digit or an
    address) without a description, a list whose first row has no text."""
    problems = []
    for node in descendants(root, keep_hidden=True):
        role, name = node.getRoleName(), node.name
        if role not in CONTROLS and not showing(node):
            continue
        place = f"{where}: {role}"
        parent = node.parent
        if parent is not None and parent.name:
            place += f" in {parent.getRoleName()} {parent.name!r}"
        if role in CONTROLS and not name.strip():
            problems.append(f"{place} has no accessible name")
        if role == "label" and DATA.search(name) and not node.description.strip():
            problems.append(f"{place} {name!r} shows data but has no accessible description")
        if role in ("list", "table") and node.childCount and not node.getChildAtIndex(0).name.strip():
            problems.append(f"{place} {name!r}: its rows have no accessible text")
    return problems
