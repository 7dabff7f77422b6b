#!/usr/bin/python3
"""The library window driven as a user drives it, from outside over the accessibility bus,
against a real clipvane-service: sign-in by the callback link, search, sort, year, adding
through the add sheet and by a second launch, edit, exclude, delete, the settings tabs. After
each step the service's data is read back over its HTTP API. Every control without an
accessible name and every data label without a description fails the run, by name.

usage: window_suite.py BUILD_DIR   (or CLIPVANE_BUILD_DIR); needs Xvfb and dbus-run-session."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

SEEDED = {  # id: (title, date, length)
    "AAAAAAAAAAA": ("Alpine lakes at dawn", "2019-05-01", "12:30"),
    "BBBBBBBBBBB": ("Bread baking basics", "2021-03-10", "1:02:03"),
    "CCCCCCCCCCC": ("Cello suite in G", "2021-11-20", "3:05"),
}


def fake_browser(folder, environment):
    """The desktop's opener, as the application finds it first on PATH: while the file it names
    exists it answers as on a machine with no browser set up; otherwise it is the browser, and
    notes each address it opens in the log it names. Returns (that file, the log)."""
    tools = os.path.join(folder, "bin")
    os.makedirs(tools, exist_ok=True)
    missing, log = os.path.join(folder, "no-browser"), os.path.join(folder, "browser.log")
    opener = os.path.join(tools, "xdg-open")
    with open(opener, "w") as script:
        script.write(f"#!/bin/sh\nif [ -e {missing} ]; then\n"
                     "  echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3\nfi\n"
                     f"echo \"$1\" >> {log}\n")
    os.chmod(opener, 0o755)
    environment["PATH"] = tools + os.pathsep + environment.get("PATH", "")
    return missing, log


def check_no_browser_is_said(main_window):
    """"Continue with Google" without a browser says it could not open one."""
    from window_driver import click, find
    click(find(main_window, "push button", "Continue with Google"))
    find(main_window, "label", "Couldn't open your web browser to sign in.")


def check_filter_menus_open_under_their_buttons(main_window):
    """Each filter menu opens left to right under its button, inside the window."""
    import pyatspi
    from window_driver import Failure, click, descendants, extents, popups, press_keys, wait_for
    left, _, width, _ = extents(main_window)
    buttons = [node for node in descendants(main_window)
               if node.getRoleName() == "push button" and node.description in ("Library", "Sort by", "Year")]
    if len(buttons) != 3:
        raise Failure(f"expected the three filter buttons, found {[b.name for b in buttons]}")
    for button in buttons:
        click(button)
        wait_for(f"the {button.name!r} menu to open", lambda: button.getState().contains(pyatspi.STATE_PRESSED), 5)
        x, y, w, _ = wait_for(f"the {button.name!r} menu on screen", lambda: next(iter(popups()), None), 5)
        bx, by, _, bh = extents(button)
        press_keys(["Escape"])
        wait_for(f"the {button.name!r} menu to close",
                 lambda: not button.getState().contains(pyatspi.STATE_PRESSED) and not popups(), 5)
        if abs(x - bx) > 2 or not by + bh - 2 <= y <= by + bh + 6:
            raise Failure(f"the {button.name!r} menu opens at ({x}, {y}), not under its button at ({bx}, {by + bh})")
        if x < left or x + w > left + width:
            raise Failure(f"the {button.name!r} menu spans x {x}..{x + w}, outside the window's {left}..{left + width}")


def check_no_scroll_bar(sheet, where):
    """A field that holds all of its text shows no scroll bar."""
    from window_driver import Failure, descendants
    if any(node.getRoleName() == "scroll bar" for node in descendants(sheet)):
        raise Failure(f"the {where} shows a scroll bar for a title that fits")


def settings_window(app):
    from window_driver import showing
    return next((w for w in app if w is not None and w.name == "Settings" and showing(w)), None)


def check_settings_close_by_keys(app, main_window):
    """Ctrl+W and Esc close the settings window (no window manager draws a close button here)."""
    from window_driver import chord, find, press, wait_for, window
    for keys in (("Control_L", "w"), ("Escape",)):
        press(find(main_window, "push button", "Settings"))  # opens it, or brings it to the keyboard
        window(app, None, "Settings")
        chord(*keys)
        wait_for(f"{'+'.join(keys)} to close the settings window", lambda: settings_window(app) is None, 5)


def forged_link(service, who):
    return (f"clipvaneshelf://auth?token={urllib.parse.quote(service.token(who), safe='')}"
            f"&email={urllib.parse.quote(who)}")


def question(app, text, timeout=10.0):
    """The shown message window that asks text."""
    from window_driver import descendants, showing, wait_for
    return wait_for(f"the question {text!r}", lambda: next(
        (w for w in app if w is not None and w.getRoleName() != "frame" and showing(w)
         and any(n.name == text for n in descendants(w))), None), timeout)


def check_forged_sign_in_asks_first(app, main_window, service, second_launch):
    """A sign-in link the application did not ask for is never applied unasked, signed out or
    not: it asks, naming the address, with Cancel as the default. The launches that hand links
    over are answered while a question is open, and the questions come one at a time."""
    import pyatspi
    from window_driver import Failure, click, descendants, find, press_keys, wait_for
    second_launch(forged_link(service, "intruder@example.com"))
    second_launch(forged_link(service, "intruder2@example.com"))
    box = question(app, "Sign in as intruder@example.com?")
    cancel = find(box, "push button", "Cancel")
    if not cancel.getState().contains(pyatspi.STATE_IS_DEFAULT):
        raise Failure("Cancel is not the default answer to a sign-in nobody asked for")
    click(find(box, "label", "Sign in as intruder@example.com?"))
    press_keys(["Return"])
    box = question(app, "Sign in as intruder2@example.com?")
    click(find(box, "label", "Sign in as intruder2@example.com?"))
    press_keys(["Escape"])
    wait_for("the questions to close", lambda: not any(
        w is not None and w.getRoleName() != "frame" and any(n.name.startswith("Sign in as") for n in descendants(w))
        for w in app), 10)
    find(main_window, "push button", "Continue with Google")


def check_family_follows_the_account(app, main_window, service, token, sign_in, audit, signed_out):
    """After signing out and in as someone else, the Family tab shows that person's people only."""
    from window_driver import Failure, descendants, find, press, set_text, wait_for, window
    press(find(main_window, "push button", "Settings"))
    settings = window(app, None, "Settings")
    press(find(settings, "page tab", "Family"))
    set_text(find(settings, "text", "E-mail address to invite"), "kin@example.com")
    press(find(settings, "push button", "Invite"))
    find(settings, "label", "kin@example.com")
    if service.call(token, "family.php")["members"] != ["kin@example.com"]:
        raise Failure("the invitation did not reach the service")
    audit(settings, "settings, Family tab with a member")
    press(find(settings, "page tab", "Account"))
    press(find(settings, "push button", "Sign out"))
    find(main_window, "push button", "Continue with Google")
    signed_out()
    sign_in("other@example.com")
    wait_for("the library of the other account",
             lambda: not any(n.name == "Continue with Google" for n in descendants(main_window)), 20)
    press(find(settings, "page tab", "Family"))
    find(settings, "label", "No one yet.")
    if any(node.name == "kin@example.com" for node in descendants(settings)):
        raise Failure("the Family tab still lists the previous account's kin@example.com")


def check_account_deletion_asks_in_a_sheet(app, settings, service, token):
    """Deleting the account asks in the application's own sheet; Esc cancels and sends nothing."""
    from window_driver import find, gone, press, press_keys, window
    press(find(settings, "page tab", "Data & privacy"))
    press(find(settings, "push button", "Delete my account…"))
    sheet = window(app, "dialog", "Delete your account?")
    find(sheet, "push button", "Delete account")
    find(sheet, "push button", "Cancel")
    press_keys(["Escape"])
    gone(app, "dialog", "Delete your account?")
    service.videos(token)  # the account still answers


def in_own_session(build):
    """Runs this script again on its own X server (display picked by the server, so parallel
    runs never collide) inside a private D-Bus session with the accessibility bus."""
    read, write = os.pipe()
    # -noreset: the server would otherwise reset whenever its last client leaves, refusing the next one.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1400x900x24", "-nolisten", "tcp",
                             "-noreset"], pass_fds=(write,))
    os.close(write)
    display = b""
    while not display.endswith(b"\n") and (chunk := os.read(read, 16)):  # the server writes "N", then "\n"
        display += chunk
    os.close(read)
    display = display.decode().strip()
    if not display:
        sys.exit("Xvfb did not start")
    environment = dict(os.environ, DISPLAY=":" + display, CLIPVANE_E2E_SESSION="1")
    try:
        return subprocess.run(["dbus-run-session", "--", sys.executable, __file__, build], env=environment,
                              timeout=110).returncode
    finally:
        xvfb.terminate()
        xvfb.wait()


def main(build):
    import pyatspi
    from window_driver import (Failure, Service, application, chord, click, descendants, find, gone, press,
                               press_keys, row_names, set_text, showing, text_of, type_keys, unnamed, wait_for,
                               window)
    folder = tempfile.mkdtemp(prefix="clipvane-e2e-")
    service = Service(os.path.join(build, "service", "clipvane-service"), folder)
    program = os.path.join(build, "src", "app", "clipvane")
    command = [program, "--profile", os.path.join(folder, "profile"), "--api", service.api]
    environment = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                       QTWEBENGINE_DISABLE_SANDBOX="1", QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-zygote")
    no_browser, opened = fake_browser(folder, environment)
    problems = []
    started = time.monotonic()

    def step(name):
        print(f"[{time.monotonic() - started:5.1f} s] {name}", flush=True)

    def audit(root, where):
        problems.extend(unnamed(root, where))

    def second_launch(argument):
        done = subprocess.run(command + [argument], env=environment, timeout=30, capture_output=True, text=True)
        if done.returncode != 0:
            raise Failure(f"a second launch with {argument[:40]}… ended with {done.returncode}: {done.stderr}")

    def on_service(what, check):
        wait_for(f"the service to hold {what}", lambda: check(service.videos(token)), 20)

    app_process = None
    try:
        email = "window@example.com"
        token = service.token(email)
        for youtube_id, (title, date, length) in SEEDED.items():
            service.call(token, "upsert.php", {"url": f"https://youtu.be/{youtube_id}", "title": title})
            service.call(token, "upsert.php", {"youtube_id": youtube_id, "upload_date": date, "duration": length})

        def focus(node):
            node.queryComponent().grabFocus()
            wait_for(f"the keyboard focus on {node.name!r}", lambda: node.getState().contains(pyatspi.STATE_FOCUSED), 5)

        def on_screen(role, name):
            return any(n.getRoleName() == role and n.name == name for n in descendants(main_window))

        step("start on a fresh profile")
        app_process = subprocess.Popen(command, env=environment, stderr=open(os.path.join(folder, "app.log"), "w"))
        app = application(app_process)
        main_window = window(app, "frame", "Clipvane")
        audit(main_window, "onboarding")
        step("continue with Google on a machine without a browser")
        open(no_browser, "w").close()
        check_no_browser_is_said(main_window)
        os.remove(no_browser)
        step("sign in with the keyboard alone; Ctrl+N there waits for the library")
        focus(find(main_window, "push button", "Continue with Google"))
        chord("Control_L", "n")
        chord("Return")
        address = wait_for("the sign-in page to open in the browser",
                           lambda: os.path.exists(opened) and open(opened).read().strip())
        state = urllib.parse.parse_qs(urllib.parse.urlparse(address).query).get("state", [""])[0]
        second_launch(f"clipvaneshelf://auth?token={urllib.parse.quote(token, safe='')}"
                      f"&email={urllib.parse.quote(email)}&state={urllib.parse.quote(state)}")
        videos = find(main_window, "list", "Videos", 20)
        window(app, "dialog", "Add a video")
        chord("Escape")
        gone(app, "dialog", "Add a video")
        # Without a window manager the keyboard focus does not come back by itself: a click brings it.
        click(find(main_window, "text", re.compile(r"Search \d+ videos?")))
        chord("Control_L", "n")  # asked again: a change again, and a command key even from a text field
        window(app, "dialog", "Add a video")
        chord("Escape")
        gone(app, "dialog", "Add a video")
        wait_for("the first sync to list the three videos", lambda: videos.childCount == 3, 20)
        wait_for("the status to read “3 of 3 videos”",
                 lambda: find(main_window, "label", re.compile(r"3 of 3 videos?"), 0.1))
        audit(main_window, "library window")

        step("a video added on another device shows without a focus change or a local edit")
        added_at = time.monotonic()
        service.call(token, "upsert.php", {"url": "https://youtu.be/LLLLLLLLLLL", "title": "Live from elsewhere"})
        wait_for("the change stream to bring the other device's video", lambda: videos.childCount == 4)
        print(f"   shown {1000 * (time.monotonic() - added_at):.0f} ms after the service took it", flush=True)
        service.call(token, "delete.php", {"youtube_id": "LLLLLLLLLLL"})
        wait_for("the change stream to take the other device's delete", lambda: videos.childCount == 3)

        def titled(name, title):  # a row reads "title, facts"
            return name == title or name.startswith(title + ", ")

        def shows(expected, what):
            try:
                wait_for(f"the list to show {what}", lambda: len(names := row_names(videos)) == len(expected)
                         and all(titled(n, t) for n, t in zip(names, expected)))
            except Failure as failure:
                raise Failure(f"{failure}; expected {expected}, the rows read {row_names(videos)}")

        def listed(title):
            return any(titled(name, title) for name in row_names(videos))

        step("search with real keystrokes, then by setting the text")
        field = find(main_window, "text", re.compile(r"Search \d+ videos?"))
        click(field)
        wait_for("the search field to take the keyboard focus",
                 lambda: field.getState().contains(pyatspi.STATE_FOCUSED), 5)
        type_keys("bread")
        wait_for("the typed search to reach the field", lambda: text_of(field) == "bread")
        shows(["Bread baking basics"], "only")
        set_text(field, "cello")
        shows(["Cello suite in G"], "only")
        set_text(field, "")
        shows(["Cello suite in G", "Bread baking basics", "Alpine lakes at dawn"], "newest first")
        on_service("the three seeded videos untouched", lambda held: len(held) == 3)

        def choose(button_name, downs, chosen):
            """Opens a filter button's menu with a click and picks the entry downs rows down with the
            keyboard: pop-up menus are not on the bus, but the button reads pressed while one is open."""
            button = find(main_window, "push button", button_name)
            click(button)
            wait_for(f"the {button_name!r} menu to open", lambda: button.getState().contains(pyatspi.STATE_PRESSED), 5)
            press_keys(["Down"] * downs + ["Return"])
            find(main_window, "push button", chosen)

        step("sort by length, then by title through the menu bar")
        choose("Newest", 4, "Longest")
        shows(["Bread baking basics", "Alpine lakes at dawn", "Cello suite in G"], "longest first")
        press(find(main_window, "menu item", "Title"))
        shows(["Alpine lakes at dawn", "Bread baking basics", "Cello suite in G"], "by title")

        step("pick a year, then all years again")
        choose("All years", 2, "2021")
        shows(["Bread baking basics", "Cello suite in G"], "the videos of 2021")
        choose("2021", 1, "All years")
        wait_for("the list to show all three again", lambda: videos.childCount == 3)

        step("filter menus open under their buttons")
        check_filter_menus_open_under_their_buttons(main_window)

        step("Help, Keyboard Shortcuts shows its sheet; Escape closes it")
        press(find(main_window, "menu item", "Keyboard Shortcuts"))
        audit(window(app, "dialog", "Keyboard Shortcuts"), "keyboard shortcuts sheet")
        press_keys(["Escape"])
        gone(app, "dialog", "Keyboard Shortcuts")

        step("add through the add sheet; a link the library refuses keeps it open with the reason")
        press(find(main_window, "push button", "Add a video"))
        sheet = window(app, "dialog", "Add a video")
        audit(sheet, "add sheet")
        link = find(sheet, "text", "YouTube link")
        set_text(link, "https://youtu.be/x-abcdef1")
        press(find(sheet, "push button", "Add"))
        find(sheet, "label", "A video ID can't begin with “x-”.")
        set_text(link, "https://youtu.be/DDDDDDDDDDD")
        press(find(sheet, "push button", "Add"))
        gone(app, "dialog", "Add a video")
        wait_for("the added video in the list", lambda: videos.childCount == 4)
        on_service("the video added in the sheet", lambda held: "DDDDDDDDDDD" in held)

        step("hand a link to the running application from a second launch")
        second_launch("https://www.youtube.com/watch?v=EEEEEEEEEEE")
        wait_for("the handed link in the list", lambda: videos.childCount == 5)
        on_service("the handed link", lambda held: "EEEEEEEEEEE" in held and len(held) == 5)

        step("a paste of several links adds each")
        subprocess.run(["xclip", "-selection", "clipboard"], input="https://youtu.be/GGGGGGGGGGG and\n"
                       "https://youtu.be/HHHHHHHHHHH", text=True, env=environment, check=True, timeout=10)
        click(find(main_window, "text", re.compile(r"Search \d+ videos?")))
        chord("Control_L", "Shift_L", "v")
        wait_for("both pasted videos in the list", lambda: videos.childCount == 7)
        on_service("both pasted links", lambda held: "GGGGGGGGGGG" in held and "HHHHHHHHHHH" in held)

        def select(title):
            index = wait_for(f"a row titled {title!r}",
                             lambda: [titled(name, title) for name in row_names(videos)].index(True) + 1) - 1
            click(videos.getChildAtIndex(index))
            wait_for(f"the details of {title!r}", lambda: find(main_window, "label", title, 0.1))

        step("select three rows with Shift+Down, delete them at once, and Ctrl+Z brings them back")
        select("Cello suite in G")
        chord("Shift_L", "Down")
        chord("Shift_L", "Down")
        find(main_window, "label", "3 videos selected")
        audit(main_window, "library window with three videos selected")
        chord("Delete")
        sheet = window(app, "dialog", "Delete 3 videos?")
        audit(sheet, "delete confirmation of three videos")
        chord("Tab")  # from Cancel, which Return would press, to the deleting button
        chord("space")
        gone(app, "dialog", sheet.name)
        wait_for("the three videos to leave the list", lambda: videos.childCount == 4)
        field = find(main_window, "text", re.compile(r"Search \d+ videos?"))
        click(field)  # without a window manager the closed sheet leaves no window active
        type_keys("q")
        chord("Control_L", "z")  # in the search field it takes back the typing, not the deletion
        wait_for("the typing taken back", lambda: text_of(field) == "" and videos.childCount == 4)
        click(videos)
        chord("Control_L", "z")
        wait_for("the three videos back in the list", lambda: videos.childCount == 7)
        find(main_window, "label", "Delete undone: 3 videos are back.")
        on_service("all seven videos after the undo", lambda held: len(held) == 7)

        step("import a file through File, Import…, and Ctrl+Z takes the whole import back")
        notes = os.path.join(folder, "notes.md")
        with open(notes, "w", encoding="utf-8") as file:
            file.write("Watch https://youtu.be/IIIIIIIIIII\n- again: https://youtu.be/GGGGGGGGGGG\n"
                       "- and <https://www.youtube.com/watch?v=JJJJJJJJJJJ&t=5>\n")
        press(find(main_window, "menu item", "Import…"))
        chooser = window(app, "dialog", "Import Videos")
        name_field = wait_for("the file name field to take the keyboard focus", lambda: next(
            (n for n in descendants(chooser) if n.getRoleName() == "text"
             and n.getState().contains(pyatspi.STATE_FOCUSED)), None))
        set_text(name_field, notes)
        chord("Return")
        gone(app, "dialog", "Import Videos")
        wait_for("the two new videos in the list", lambda: videos.childCount == 9)
        find(main_window, "label", "Added 2 videos. 1 already in your library.")
        on_service("the imported videos", lambda held: "IIIIIIIIIII" in held and "JJJJJJJJJJJ" in held)
        click(videos)
        chord("Control_L", "z")
        wait_for("the imported videos to leave the list", lambda: videos.childCount == 7)
        find(main_window, "label", "Import undone: 2 videos were removed.")
        on_service("the imported videos removed", lambda held: not {"IIIIIIIIIII", "JJJJJJJJJJJ"} & set(held))

        step("edit a video's details (Return on the focused pill opens the sheet)")
        select("Alpine lakes at dawn")
        audit(main_window, "library window with a video selected")
        focus(find(main_window, "push button", "Edit"))
        chord("Return")
        sheet = window(app, "dialog", "Edit details")
        audit(sheet, "edit sheet")
        check_no_scroll_bar(sheet, "edit sheet")
        for label, value in (("Title", "Lakes, edited"), ("Date", "2001-02-03"), ("Length", "1:02:03")):
            set_text(find(sheet, "text", label), value)
        press(find(sheet, "push button", "Save"))
        gone(app, "dialog", "Edit details")
        wait_for("the edited title in the list", lambda: listed("Lakes, edited"))
        on_service("the edited details", lambda held: (held["AAAAAAAAAAA"]["title"], held["AAAAAAAAAAA"]
                   ["upload_date"], held["AAAAAAAAAAA"]["duration"]) == ("Lakes, edited", "2001-02-03", "1:02:03"))

        step("exclude a video (Space on the focused pill presses it and plays nothing)")
        select("Bread baking basics")
        focus(find(main_window, "push button", "Exclude"))
        chord("space")
        wait_for("the excluded video to leave the list", lambda: not listed("Bread baking basics"))
        on_service("the video excluded", lambda held: held["BBBBBBBBBBB"]["excluded"] == 1)

        step("delete a video after confirming")
        select("Cello suite in G")
        press(find(main_window, "push button", "Delete"))
        sheet = window(app, "dialog", "Delete “Cello suite in G”?")
        audit(sheet, "delete confirmation")
        press(find(sheet, "push button", "Delete video"))
        gone(app, "dialog", sheet.name)
        wait_for("the deleted video to leave the list", lambda: not listed("Cello suite in G"))
        on_service("the video deleted", lambda held: "CCCCCCCCCCC" not in held and len(held) == 6)

        step("mark a video watched through the Edit menu")
        select("Lakes, edited")
        press(find(main_window, "menu item", "Mark as Watched"))
        find(main_window, "menu item", "Mark as Unwatched")  # the menu now offers the opposite
        on_service("the video watched", lambda held: held["AAAAAAAAAAA"]["watched"] == 1)

        step("Ctrl+E from the search field excludes the selected video")
        select("Lakes, edited")
        focus(find(main_window, "text", re.compile(r"Search \d+ videos?")))
        chord("Control_L", "e")
        wait_for("the excluded video to leave the list", lambda: not listed("Lakes, edited"))
        on_service("the video excluded", lambda held: held["AAAAAAAAAAA"]["excluded"] == 1)

        step("Escape closes the assistant first, then leaves browse mode")
        chord("Control_L", "b")
        wait_for("browse mode", lambda: on_screen("push button", "Back to the list (Esc)"))
        chord("Control_L", "y")
        wait_for("the assistant's panel", lambda: on_screen("text", "Ask about your videos…"))
        chord("Escape")
        wait_for("the assistant's panel to close", lambda: not on_screen("text", "Ask about your videos…"))
        if not on_screen("push button", "Back to the list (Esc)"):
            raise Failure("Escape left browse mode while the assistant's panel was open")
        chord("Escape")
        wait_for("browse mode to end", lambda: not on_screen("push button", "Back to the list (Esc)"))

        step("a family member's shared video cannot be changed from the menus or their keys")
        relative = service.token("mum@example.com")
        service.call(relative, "upsert.php", {"url": "https://youtu.be/FFFFFFFFFFF", "title": "Mum's garden"})
        service.call(relative, "family.php", {"action": "add", "email": email})
        chord("Control_L", "r")
        select("Mum's garden")
        for item in ("Edit Details…", "Mark as Watched", "Exclude / Include", "Delete…"):
            if find(main_window, "menu item", item).getState().contains(pyatspi.STATE_ENABLED):
                raise Failure(f"“{item}” is offered for a shared video")
        chord("Control_L", "BackSpace")
        chord("Control_L", "e")
        time.sleep(0.5)
        if any(w is not None and w.getRoleName() == "dialog" and showing(w) for w in app):
            raise Failure("Ctrl+Backspace asked to delete a shared video")
        on_service("the shared video untouched", lambda held: held["FFFFFFFFFFF"]["excluded"] == 0)

        step("open each settings tab")
        press(find(main_window, "push button", "Settings"))
        settings = window(app, None, "Settings")
        for tab, button in (("Account", "Sign out"), ("Family", "Invite"), ("Adding videos", "Link my account"),
                            ("Data & privacy", "Export my data…")):
            press(find(settings, "page tab", tab))
            find(settings, "push button", button)
            audit(settings, f"settings, {tab} tab")
        press(find(settings, "page tab", "Account"))
        find(settings, "label", email)
        on_service("the library unchanged by the settings", lambda held: len(held) == 7)

        step("deleting the account asks first, in a sheet")
        check_account_deletion_asks_in_a_sheet(app, settings, service, token)

        step("the settings window closes with Ctrl+W and Esc")
        check_settings_close_by_keys(app, main_window)

        def sign_in(address):  # as a person does: through the browser, answering this sign-in's state
            asked = len(open(opened).read().splitlines())
            press(find(main_window, "push button", "Continue with Google"))
            address_opened = wait_for("the sign-in page to open in the browser",
                                      lambda: (lines := open(opened).read().splitlines())[asked:] and lines[-1])
            state = urllib.parse.parse_qs(urllib.parse.urlparse(address_opened).query).get("state", [""])[0]
            second_launch(f"clipvaneshelf://auth?token={urllib.parse.quote(service.token(address), safe='')}"
                          f"&email={urllib.parse.quote(address)}&state={urllib.parse.quote(state)}")

        def signed_out():
            step("a sign-in link nobody asked for asks first, even while signed out")
            check_forged_sign_in_asks_first(app, main_window, service, second_launch)

        step("the Family tab follows the account signed in")
        check_family_follows_the_account(app, main_window, service, token, sign_in, audit, signed_out)

        step("quit with a sign-in question open")
        second_launch(forged_link(service, "intruder@example.com"))
        second_launch(forged_link(service, "intruder3@example.com"))
        question(app, "Switch to intruder@example.com?")
        app_process.send_signal(signal.SIGTERM)
        if (status := app_process.wait(20)) != 0:
            raise Failure(f"the application ended with {status} when asked to quit")
    except Failure as failure:
        print(f"FAIL: {failure}\n(the programs' logs are in {folder})", file=sys.stderr)
        return 1
    finally:
        if app_process is not None and app_process.poll() is None:
            app_process.kill()
        service.stop()
    if problems:
        print("FAIL: the accessibility contract is broken:\n  " + "\n  ".join(dict.fromkeys(problems)),
              file=sys.stderr)
        return 1
    step("all steps passed")
    shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    build = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("CLIPVANE_BUILD_DIR", "")
    if not os.path.isdir(build):
        sys.exit(__doc__)
    build = os.path.abspath(build)
    if os.environ.get("CLIPVANE_E2E_SESSION") != "1":
        sys.exit(in_own_session(build))
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    sys.exit(main(build))
