#!/usr/bin/python3
"""Drives a running velmora-time through its accessibility tree (AT-SPI), as
a screen reader or a keyboard user would: finds controls by role and name,
presses them, types, reads values and states, sends keys, and reads the
tray icon by comparing it with the app's own icons. A step that does not
happen in time fails with what the driver saw (the tree as text).

As a program: velmora_driver.py COMMAND [ARGS...]  (one command), or
velmora_driver.py serve  (one command per line on stdin, one JSON reply per
line on stdout). `velmora_driver.py help` lists the commands.
Needs DISPLAY, the D-Bus session of the app, at-spi2-core, xdotool,
imagemagick and xclip; the app runs with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
"""

import json
import os
import shlex
import subprocess
import sys
import tempfile
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# libatspi marks some calls deprecated that have no other binding in Python.
warnings.simplefilter("ignore", DeprecationWarning)

APP = "VelmoraTime"
# Roles that are layout, not something a user reads or operates.
LAYOUT_ROLES = {"filler", "panel", "frame", "window", "application", "separator"}
PRESS_ACTIONS = ("Press", "press", "click", "Toggle", "toggle", "jump")


class DriverError(Exception):
    pass


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout


class Driver:
    def __init__(self, timeout=None):
        self.timeout = float(timeout or os.environ.get("VELMORA_DRIVER_TIMEOUT", 30))
        self._app = None
        self._icons = {}
        self.announced = []
        self.focus_heard = None
        Atspi.init()
        self._listener = Atspi.EventListener.new(self._on_event)
        for event in ("object:property-change:accessible-name", "object:state-changed:showing",
                      "object:state-changed:focused"):
            self._listener.register(event)

    # --- the tree -------------------------------------------------------

    def _on_event(self, event):
        # A shown or renamed alert is what a screen reader announces.
        try:
            source = event.source
            # Menus are not in the app's tree; a screen reader follows the
            # focus into them, and so do we.
            if event.type.startswith("object:state-changed:focused"):
                if event.detail1:
                    self.focus_heard = describe(source)
                return
            if source.get_role_name() != "alert":
                return
            if event.type.startswith("object:state-changed") and not event.detail1:
                return
            # A rename carries its text: the line may be cleared again before
            # this runs (a reload that lands right after), yet it was said.
            text = event.any_data if isinstance(event.any_data, str) else source.get_name()
            # Appearing with a new text may come as a rename and a showing.
            if text and self.announced[-1:] != [text]:
                self.announced.append(text)
        except GLib.Error:
            pass

    def pump(self):
        context = GLib.MainContext.default()
        while context.pending():
            context.iteration(False)

    def app(self):
        if self._app is not None:
            try:
                self._app.get_child_count()
                return self._app
            except GLib.Error:
                self._app = None
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            candidate = desktop.get_child_at_index(i)
            if candidate is not None and candidate.get_name() == APP:
                # Every read asks the app, so nothing stale is ever reported.
                candidate.set_cache_mask(Atspi.Cache.NONE)
                self._app = candidate
                return candidate
        return None

    def walk(self):
        """The app's shown objects in tree order, depth first."""
        root = self.app()
        if root is None:
            return
        stack = [root]
        while stack:
            node = stack.pop()
            try:
                if node is None or (node is not root and "showing" not in states(node)):
                    continue
                yield node
                count = node.get_child_count()
                # Lists of many entries are reached through the picker.
                if role(node) in ("list", "table"):
                    count = 0
                stack.extend(node.get_child_at_index(i) for i in reversed(range(count)))
            except GLib.Error:
                continue

    def dump(self):
        lines = []
        app = self.app()
        if app is None:
            return f"{APP} ist nicht im Barrierefreiheitsbaum."

        def visit(node, depth):
            lines.append("  " * depth + describe(node, with_states=True))
            if role(node) in ("list", "table"):
                return
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                if child is not None and "showing" in states(child):
                    visit(child, depth + 1)

        try:
            visit(app, 0)
        except GLib.Error as error:
            lines.append(f"(Baum unvollständig: {error})")
        return "\n".join(lines)

    def fail(self, what):
        raise DriverError(f"{what}\nzuletzt gesehen:\n{self.dump()}")

    def wait_until(self, what, check):
        """Polls `check` until it gives something true; fails after the timeout."""
        deadline = time.monotonic() + self.timeout
        while True:
            self.pump()
            try:
                found = check()
            except GLib.Error:
                found = None
            if found:
                return found
            if time.monotonic() > deadline:
                self.fail(f"nach {self.timeout:.0f} s nicht eingetreten: {what}")
            time.sleep(0.1)

    def find(self, role_name, name, *wanted):
        """The showing object of that role and name, waiting until it also has
        every wanted state ("enabled", or "!focused" for one it must not have)."""

        def check():
            for node in self.walk():
                if role(node) == role_name and node.get_name() == name:
                    have = states(node)
                    if all((w[1:] not in have) if w.startswith("!") else (w in have) for w in wanted):
                        return node
            return None

        return self.wait_until(f"{role_name} „{name}“ {' '.join(wanted)}".rstrip(), check)

    def controls(self):
        """(role, name) of every shown thing a user reads or operates."""
        found = []
        for node in self.walk():
            r = role(node)
            if r not in LAYOUT_ROLES and (node.get_name() or "focusable" in states(node)):
                found.append((r, node.get_name()))
        return found

    def focused(self):
        for node in self.walk():
            if "focused" in states(node):
                return node
        return None

    # --- acting ---------------------------------------------------------

    def press(self, role_name, name):
        node = self.find(role_name, name, "enabled")
        names = []
        if "Action" in node.get_interfaces():
            names = [Atspi.Action.get_action_name(node, i)
                     for i in range(Atspi.Action.get_n_actions(node))]
        for wanted in PRESS_ACTIONS:
            if wanted in names:
                Atspi.Action.do_action(node, names.index(wanted))
                return
        self.fail(f"{role_name} „{name}“ lässt sich nicht drücken (Aktionen: {names})")

    def focus(self, role_name, name):
        node = self.find(role_name, name, "enabled")
        Atspi.Component.grab_focus(node)
        return self.find(role_name, name, "focused")

    def type(self, role_name, name, text):
        # Real key presses: the app sees what a user typing would cause.
        self.focus(role_name, name)
        xdotool("type", "--delay", "15", text)
        self.wait_until(f"„{text}“ steht in {role_name} „{name}“",
                        lambda: text in value(self.find(role_name, name)))

    def gone(self, role_name, name):
        self.wait_until(f"{role_name} „{name}“ ist nicht mehr zu sehen", lambda: all(
            role(n) != role_name or n.get_name() != name for n in self.walk()))

    def focus_name(self):
        return describe(self.wait_until("ein Bedienelement hat den Fokus", self.focused))

    def move_focus(self, keys, before):
        """Presses `keys` and waits until the focus has left `before`; where it is now."""
        self.key(keys)

        def moved():
            now = self.focused()
            return now if now is not None and describe(now) != before else None

        return describe(self.wait_until(f"der Fokus verlässt {before} nach {keys}", moved))

    def tab_to(self, role_name, name, direction="vor", limit=40):
        """Tab (or Shift+Tab with direction "zurück") until that control has the focus."""
        target = f"{role_name} „{name}“"
        now = self.focus_name()
        for _ in range(limit):
            if now == target:
                return
            now = self.move_focus("shift+Tab" if direction == "zurück" else "Tab", now)
        self.fail(f"{target} nach {limit}-mal Tab nicht erreicht")

    def key(self, *keys):
        for k in keys:
            xdotool("key", k)
            time.sleep(0.05)

    def focus_cycle(self, limit=40):
        """Tab from the focused control round to it again, then Shift+Tab the
        same number of steps: both sequences of "role name"."""
        first = self.focus_name()
        forward, backward = [], []
        for keys, seen in (("Tab", forward), ("shift+Tab", backward)):
            now = first
            for _ in range(limit if keys == "Tab" else len(forward)):
                now = self.move_focus(keys, now)
                seen.append(now)
                if keys == "Tab" and now == first:
                    break
        return forward, backward

    # --- tray icon and clipboard ----------------------------------------

    def tray_icon(self):
        """Geometry (x, y, w, h) of the app's icon in the tray host's window."""

        def windows(cls):
            try:
                ids = xdotool("search", "--onlyvisible", "--class", cls).split()
            except subprocess.CalledProcessError:
                return []
            found = []
            for wid in ids:
                values = dict(line.split("=", 1) for line in
                              xdotool("getwindowgeometry", "--shell", wid).split())
                found.append((int(values["X"]), int(values["Y"]),
                              int(values["WIDTH"]), int(values["HEIGHT"]), wid))
            return found

        def check():
            for tx, ty, tw, th, _ in windows("trayer"):
                for x, y, w, h, wid in windows(APP):
                    if tx <= x and ty <= y and x + w <= tx + tw and y + h <= ty + th:
                        return (x, y, w, h, wid)
            return None

        return self.wait_until("das Symbol erscheint im Tray", check)

    def click_tray(self, button="1"):
        x, y, w, h, _ = self.tray_icon()
        xdotool("mousemove", str(x + w // 2), str(y + h // 2), "click", button)
        # A second click soon after would arrive as a double click.
        time.sleep(0.7)

    def tray_state(self, icons_tool):
        """"stoppuhr" or "aufnahme": which of the app's own icons the tray shows."""
        x, y, w, h, wid = self.tray_icon()
        shown = rgba(["import", "-window", wid])
        distance = {}
        for state, name in (("stoppuhr", "timer"), ("aufnahme", "record.circle.fill")):
            reference = self._icon(icons_tool, name, w, h)
            # Only where the symbol itself is drawn; the rest is the tray's background.
            diffs = [sum(abs(shown[i + c] - reference[i + c]) for c in range(3)) / 3
                     for i in range(0, min(len(shown), len(reference)), 4) if reference[i + 3] >= 200]
            distance[state] = sum(diffs) / max(1, len(diffs))
        best, other = sorted(distance, key=distance.get)
        if distance[best] * 2 >= distance[other]:
            self.fail(f"Tray-Symbol gleicht keinem eigenen Symbol eindeutig: {distance}")
        return best

    def _icon(self, tool, name, w, h):
        if (name, w, h) not in self._icons:
            with tempfile.TemporaryDirectory() as folder:
                subprocess.run([tool, str(w), str(h), folder], check=True, capture_output=True)
                self._icons[(name, w, h)] = rgba(["convert", os.path.join(folder, name + ".png")])
        return self._icons[(name, w, h)]

    def clipboard(self, selection="clipboard", target=None):
        return subprocess.run(["xclip", "-o", "-selection", selection] +
                              (["-t", target] if target else []), check=True,
                              capture_output=True, text=True, timeout=10).stdout

    def wait_announced(self, text):
        """Waits until `text` was announced; what else was heard is kept."""
        if self.wait_until(f"angesagt: {text}", lambda: text in self.announced):
            self.announced.remove(text)
        return text

    def wait_focus_heard(self, role_name, name):
        target = f"{role_name} „{name}“"
        try:
            return self.wait_until(f"der Fokus geht auf {target}",
                                   lambda: self.focus_heard == target and target)
        except DriverError as error:
            raise DriverError(f"zuletzt gehört: {self.focus_heard}; {error}") from error

    def take_announcements(self):
        time.sleep(0.3)
        self.pump()
        taken, self.announced = self.announced, []
        return taken


def role(node):
    return node.get_role_name()


def states(node):
    state_set = node.get_state_set()
    return {Atspi.StateType(s).value_nick for s in state_set.get_states()}


def value(node):
    """What a control shows: its text, its number, or else its name."""
    interfaces = node.get_interfaces()
    if "Text" in interfaces:
        return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))
    if "Value" in interfaces:
        return str(Atspi.Value.get_current_value(node))
    return node.get_name()


def describe(node, with_states=False):
    line = f"{role(node)} „{node.get_name()}“"
    if with_states:
        have = states(node) & {"enabled", "focused", "focusable", "checked", "expanded", "busy"}
        description = node.get_description()
        line += (f" = {value(node)!r}" if "Text" in node.get_interfaces() else "") + \
            (f" [{', '.join(sorted(have))}]" if have else "") + \
            (f" – {description}" if description and description != node.get_name() else "")
    return line


def rgba(command):
    return subprocess.run(command + ["-depth", "8", "rgba:-"], check=True,
                          capture_output=True).stdout


COMMANDS = {
    "wait-app": ("", lambda d: d.wait_until(f"{APP} erscheint im Baum", d.app) and ""),
    "find": ("ROLLE NAME [ZUSTAND...]", lambda d, r, n, *s: describe(d.find(r, n, *s), True)),
    "press": ("ROLLE NAME", lambda d, r, n: d.press(r, n)),
    "focus": ("ROLLE NAME", lambda d, r, n: d.focus(r, n) and ""),
    "type": ("ROLLE NAME TEXT", lambda d, r, n, t: d.type(r, n, t)),
    "value": ("ROLLE NAME", lambda d, r, n: value(d.find(r, n))),
    "gone": ("ROLLE NAME", lambda d, r, n: d.gone(r, n)),
    "tab-to": ("ROLLE NAME [vor|zurück]", lambda d, r, n, w="vor": d.tab_to(r, n, w)),
    "key": ("TASTE...", lambda d, *k: d.key(*k)),
    "focused": ("", lambda d: d.focus_name()),
    "focus-heard": ("ROLLE NAME", lambda d, r, n: d.wait_focus_heard(r, n)),
    "focus-cycle": ("", lambda d: "\n".join("\t".join(pair) for pair in zip(*d.focus_cycle()))),
    "controls": ("", lambda d: "\n".join(f"{r}\t{n}" for r, n in d.controls())),
    "announcements": ("", lambda d: "\n".join(d.take_announcements())),
    "announced": ("TEXT", lambda d, text: d.wait_announced(text)),
    "tray-icon": ("", lambda d: "{2}x{3}+{0}+{1}".format(*d.tray_icon())),
    "click-tray": ("[TASTE]", lambda d, button="1": d.click_tray(button)),
    "tray-state": ("SYMBOLPROGRAMM", lambda d, tool: d.tray_state(tool)),
    "clipboard": ("[clipboard|primary] [ZIELTYP]",
                  lambda d, s="clipboard", t=None: d.clipboard(s, t)),
    "dump": ("", lambda d: d.dump()),
}


USAGE = "Befehle:\n" + "\n".join(f"  {c} {a}".rstrip() for c, (a, _) in COMMANDS.items())


def run(driver, words):
    if not words or words[0] not in COMMANDS:
        raise DriverError(USAGE)
    # The app shows up in the tree a moment after it starts.
    driver.wait_until(f"{APP} erscheint im Baum", driver.app)
    try:
        out = COMMANDS[words[0]][1](driver, *words[1:])
    except TypeError as error:
        raise DriverError(f"{words[0]} {COMMANDS[words[0]][0]}: {error}") from error
    return "" if out is None else str(out)


def main(argv):
    if argv[1:2] in ([], ["help"], ["--help"]):
        print(__doc__.strip() + "\n\n" + USAGE)
        return 0
    if argv[1:2] == ["serve"]:
        driver = Driver()
        for line in sys.stdin:
            try:
                reply = {"ok": True, "out": run(driver, shlex.split(line))}
            except (DriverError, GLib.Error, subprocess.SubprocessError) as error:
                reply = {"ok": False, "error": str(error)}
            except Exception as error:  # noqa: BLE001 - a fault of ours must not end the session
                reply = {"ok": False, "error": f"{type(error).__name__}: {error}"}
            print(json.dumps(reply, ensure_ascii=False), flush=True)
        return 0
    try:
        out = run(Driver(), argv[1:])
    except (DriverError, GLib.Error, subprocess.SubprocessError) as error:
        print(f"velmora_driver: {error}", file=sys.stderr)
        return 1
    if out:
        print(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
