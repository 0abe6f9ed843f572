"""The pieces of an end-to-end run: the real Cardwick.exe under Wine, reader-sim on a pty plugged
into one of the prefix's COM ports, the UI driver that reads and works Cardwick's windows as a user
would, and KeySink, the focused window that records what Cardwick types.

Every time here is the host's monotonic clock (time.monotonic_ns), the clock reader-sim stamps its
log with, so the two can be compared. Wine programs share our pipes with Wine's helper processes:
their output is read line by line up to a sentinel, never to the end of the stream.
"""

import argparse
import contextlib
import os
import queue
import re
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

MAIN_CAPTION = "Orvela Cardwick"
INVALID_PORT_SETTINGS = "Invalid Port Settings!\n\nPlease configure the Port Settings in Properties."
SENDING_TIMEOUT = ("Data sending timeout! Module will be disconnected now.\nPlease re-connect.\n\n"
                   "If the error remains, check your device connection and Port Settings in Properties.")
DEVICE_UNPLUGGED = "Device unplugged!"
# What reader-sim answers to "B" and "V" and its module ID: serial number, version, module ID.
IDENTITY = ("30571846", "2.31", "01")
# How long a program may take to start: a guard against a hang, not a timing check.
STARTUP_TIMEOUT_S = 180


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def now_ms():
    return time.monotonic_ns() / 1e6


def wait_until(predicate, timeout_s, what, interval_s=0.05):
    deadline = time.monotonic() + timeout_s
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(interval_s)


def typed(cards):
    """What KeySink shows for these cards, each followed by its Enter."""
    return "".join(card + "\r" for card in cards)


def unescape(text):
    """The UI driver's and KeySink's escapes: \\t \\n \\r \\\\, \\xNN and (a Unicode KeySink's) \\uNNNN."""
    return re.sub(r"\\(x[0-9A-Fa-f]{2}|u[0-9A-Fa-f]{4}|.)",
                  lambda m: {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}.get(
                      m.group(1), chr(int(m.group(1)[1:], 16)) if len(m.group(1)) > 1 else m.group(1)),
                  text)


class LineReader:
    """Reads a child's output lines on a thread, so a read can time out."""

    def __init__(self, stream, name):
        self.lines = queue.Queue()
        self.name = name
        threading.Thread(target=self._pump, args=(stream,), daemon=True).start()

    def _pump(self, stream):
        for raw in iter(stream.readline, b""):
            self.lines.put((time.monotonic_ns(), raw.decode("latin-1").rstrip("\r\n")))
        self.lines.put((time.monotonic_ns(), None))

    def read(self, timeout_s):
        try:
            stamp, line = self.lines.get(timeout=timeout_s)
        except queue.Empty:
            raise Failure(self.name + ": no answer within %.0f s" % timeout_s)
        if line is None:
            raise Failure(self.name + ": output ended")
        return stamp, line


def pe_header(path):
    """(machine, optional header magic) of a Windows program: (0x14C, 0x10B) for a PE32 x86
    program, (0x8664, 0x20B) for PE32+ x64."""
    with open(path, "rb") as f:
        data = f.read(4096)
    at = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[at:at + 4] == b"PE\0\0", "%s is not a PE file" % path)
    # The optional header follows the 20-byte file header.
    return struct.unpack_from("<H", data, at + 4)[0], struct.unpack_from("<H", data, at + 24)[0]


PE32_X86 = (0x14C, 0x10B)


def loader_of(pid):
    """(the executable the kernel runs for a process, its command line): under the emulated 32-bit
    half the executable is the emulator and the command line names the 32-bit Wine loader."""
    exe = os.path.realpath("/proc/%d/exe" % pid)
    with open("/proc/%d/cmdline" % pid, "rb") as f:
        args = f.read().decode("latin-1").split("\0")
    return exe, args


class Environment:
    """Paths from the command line, and the Wine prefix of the run."""

    def __init__(self, argv=None):
        parser = argparse.ArgumentParser()
        parser.add_argument("--cardwick", required=True)
        parser.add_argument("--uidriver", required=True)
        parser.add_argument("--sink", required=True)
        parser.add_argument("--sim", required=True)
        parser.add_argument("--port", default="COM3")
        args = parser.parse_args(argv)
        # The 32-bit tier runs these tests against the release's program, with the 64-bit build's
        # test tools around it. A prefix with the 32-bit half drives the PE32 x86 program it was
        # given and nothing else: falling back to the 64-bit build would pass the tier without
        # running the program users get.
        self.tier32 = os.environ.get("CARDWICK_WINE_ARCH") == "win32"
        if self.tier32:
            check(os.environ.get("CARDWICK_E2E_CARDWICK"),
                  "the 32-bit tier names no program (CARDWICK_E2E_CARDWICK is empty)")
        self.cardwick = os.environ.get("CARDWICK_E2E_CARDWICK") or args.cardwick
        # The registry view the program reads and writes: a 32-bit program's HKLM\Software is the
        # 32-bit view.
        header = pe_header(self.cardwick)
        self.x86 = header[0] == 0x14C
        check((header == PE32_X86) == self.tier32,
              "%s (machine %#x, magic %#x) is not the kind of program this prefix runs (%s)"
              % ((self.cardwick,) + header + (os.environ.get("CARDWICK_WINE_ARCH"),)))
        self.registry_view = 32 if self.x86 else 64
        self.uidriver = args.uidriver
        self.sink = args.sink
        self.sim = args.sim
        self.port = args.port
        self.prefix = os.environ["WINEPREFIX"]
        self.ports_dir = os.environ["CARDWICK_PORTS_DIR"]
        self.ini = os.path.join(self.prefix, "drive_c", "windows", "cardwick.ini")
        # Where Windows starts a program from the Run key.
        self.system32 = os.path.join(self.prefix, "drive_c", "windows", "system32")
        self.work = tempfile.mkdtemp(prefix="cardwick-e2e-")

    def write_settings(self, general=None, ports=None):
        """Writes cardwick.ini as the settings dialog would; None leaves a section out."""
        lines = []
        for section, values in (("General", general), ("Ports", ports)):
            if values is None:
                continue
            lines.append("[%s]" % section)
            lines += ["%s=%s" % item for item in values.items()]
        with open(self.ini, "w", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")


def standard_settings(show=False, suffix=True, port="COM3", baud="19200", parity="Even"):
    return ({"Load on Windows startup": "0", "Show on startup": "1" if show else "0",
             "Suffix Carriage Return": "1" if suffix else "0"},
            {"Port": port, "Baud rate": baud, "Parity": parity})


class ReaderSim:
    """reader-sim on a new pty, plugged into the environment's COM port."""

    count = 0

    def __init__(self, env, *args, port=None):
        ReaderSim.count += 1
        self.log_path = os.path.join(env.work, "sim%d.log" % ReaderSim.count)
        link = os.path.join(env.ports_dir, (port or env.port).lower())
        self.process = subprocess.Popen(
            [env.sim, "--link", link, "--log", self.log_path, "--max-seconds", "300"] + list(args),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.output = LineReader(self.process.stdout, "reader-sim")
        _, line = self.output.read(10)
        check(line.startswith("READY "), "reader-sim did not start: " + line)
        self.pty = line.split(" ", 1)[1]

    def entries(self):
        """(time in ms, 'RX'|'TX'|'NOTE', bytes or note text) for every log line so far."""
        result = []
        if not os.path.exists(self.log_path):
            return result
        with open(self.log_path) as f:
            for line in f:
                parts = line.rstrip("\n").split(" ", 2)
                if len(parts) < 3:
                    continue
                stamp, kind, rest = int(parts[0]) / 1e6, parts[1], parts[2]
                if kind in ("RX", "TX"):
                    rest = bytes(int(h, 16) for h in rest.split())
                result.append((stamp, kind, rest))
        return result

    def commands(self):
        """(time in ms, command letter) of every command frame received."""
        return [(t, chr(data[4])) for t, kind, data in self.entries() if kind == "RX" and len(data) > 4]

    def wait_for_commands(self, count, timeout_s):
        return wait_until(lambda: len(self.commands()) >= count and self.commands(), timeout_s,
                          "%d commands at reader-sim" % count)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class WineTool:
    """A test tool under Wine that takes one command a line and ends each answer with a line of its
    own: Wine's helper processes share its output, so it is never read to the end."""

    def __init__(self, name, argv):
        self.process = subprocess.Popen(["wine"] + argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.output = LineReader(self.process.stdout, name)

    def ask(self, command, last, timeout_s=30):
        """The lines of the answer, and the last line (the first that `last` accepts)."""
        self.process.stdin.write((command + "\n").encode("latin-1"))
        self.process.stdin.flush()
        lines = []
        while True:
            try:
                _, line = self.output.read(timeout_s)
            except Failure as e:
                raise Failure("%s (%r)" % (e, command))
            if last(line):
                return lines, line
            lines.append(line)

    def close(self):
        if self.process.poll() is None:
            try:
                self.ask("quit", lambda line: line in ("ok", "BYE"), timeout_s=10)
                self.process.wait(10)
            except (Failure, OSError, subprocess.TimeoutExpired):
                self.process.kill()


class UiDriver(WineTool):
    """The UI driver: data lines start with "| ", the answer ends with "ok" or "error ..."."""

    def __init__(self, env):
        super().__init__("uidriver", [env.uidriver])

    def call(self, command, timeout_s=30, allow_error=False):
        lines, last = self.ask(command, lambda line: line == "ok" or line.startswith("error"), timeout_s)
        if last != "ok" and not allow_error:
            raise Failure("uidriver %r: %s" % (command, last))
        return [line[2:] for line in lines if line.startswith("| ")] if last == "ok" else None

    @staticmethod
    def values(rows):
        """Rows of "key<TAB>value" as a dict (the last of a repeated key wins, 'button' collects)."""
        result = {}
        for row in rows:
            key, _, value = row.partition("\t")
            if key == "button":
                result.setdefault("buttons", []).append(unescape(value))
            else:
                result[key] = unescape(value)
        return result

    def message_box(self, timeout_ms):
        rows = self.call("msgbox %d" % timeout_ms, timeout_s=timeout_ms / 1000 + 30, allow_error=True)
        return None if rows is None else self.values(rows)

    def expect_message_box(self, title, icon, text, timeout_ms=5000):
        box = self.message_box(timeout_ms)
        check(box is not None, "no message box (expected %r)" % text)
        check((box["title"], box["icon"], box["text"], box.get("buttons")) == (title, icon, text, ["OK"]),
              "message box %r" % box)
        return box

    def dismiss(self, box):
        """Closes the box; answers the message boxes its thread made on its way from there to its
        next message loop (see settle)."""
        return self.boxes(self.call("dismiss " + box["hwnd"]))

    def settle(self, hwnd):
        """The message boxes, shown or not yet shown, of the thread of window hwnd once that thread
        has answered a message: what it does before it next looks for messages is done by then."""
        return self.boxes(self.call("settle " + hwnd))

    @staticmethod
    def boxes(rows):
        """The message boxes a dismiss or a settle answered."""
        return [value for key, value in (row.split("\t") for row in rows) if key == "box"]

    def find_class(self, window_class):
        """The first top-level window of a class, shown or hidden."""
        return self.values(self.call("findclass " + window_class))["hwnd"]

    def visible_main_caption(self):
        """True when a visible top-level window carries the main caption."""
        return self.call("wait 0 " + MAIN_CAPTION, allow_error=True) is not None

    def window(self, hwnd):
        return self.values(self.call("window " + hwnd))

    def active_window(self):
        return self.values(self.call("active"))["active"]

    def controls(self, hwnd):
        """Every child control by its text (the window text; edits are looked up by position)."""
        result = []
        for row in self.call("children " + hwnd):
            f = row.split("\t")
            result.append({"hwnd": f[0], "class": f[3], "visible": f[4] == "1", "enabled": f[5] == "1",
                           "rect": tuple(int(v) for v in f[6:10]), "text": unescape(f[10])})
        return result

    def status(self, bar):
        return [(int(f[0]), f[1], unescape(f[2])) for f in (row.split("\t") for row in self.call("status " + bar))]

    def tray_icons(self):
        return [row.split("\t") for row in self.call("tray")]


class Form:
    """A form as the UI driver sees it, its controls found by their designed place (left, top in
    the client area of their parent), scaled as the program scales them on a scaled screen."""

    PLACES = {}

    def __init__(self, ui, hwnd, scale=lambda v: v):
        self.ui = ui
        self.hwnd = hwnd
        self.all = ui.controls(hwnd)
        self.by_name = {}
        for name, (left, top) in self.PLACES.items():
            place = (scale(left), scale(top))
            found = [c for c in self.all if c["rect"][:2] == place]
            check(len(found) == 1, "%s not found at %r" % (name, place))
            self.by_name[name] = found[0]["hwnd"]
        self.names = {hwnd: name for name, hwnd in self.by_name.items()}

    def hwnd_of(self, name):
        return self.by_name[name]

    def states(self):
        """Every named control's state now (text, enabled, visible), read in one pass."""
        return {self.names[c["hwnd"]]: c for c in self.ui.controls(self.hwnd) if c["hwnd"] in self.names}

    def control(self, name):
        states = self.states()
        check(name in states, name + " is gone")
        return states[name]

    def text(self, name):
        return unescape(self.ui.call("text " + self.hwnd_of(name))[0])

    def click(self, name):
        self.ui.call("click " + self.hwnd_of(name))

    def visible(self):
        return self.ui.window(self.hwnd)["visible"] == "1"


class MainWindow(Form):
    """Cardwick's main window."""

    PLACES = {"btnConnect": (8, 8), "btnReadCardID": (8, 40), "btnDisconnect": (8, 72),
              "btnProperties": (8, 104), "btnHide": (8, 136), "btnExit": (192, 136), "btnAbout": (256, 136),
              "edtFactoryCode": (191, 8), "edtVersion": (192, 40), "edtModuleID": (191, 72),
              "edtCardID": (192, 104), "anPoll": (318, 106)}

    def __init__(self, ui, hwnd):
        info = ui.window(hwnd)
        check(info["class"] == "TfrmCardReader", "not the main window: %r" % info)
        # The client area is 338 pixels wide as designed; places scale with it, rounded as the
        # program rounds them.
        dpi = round(int(info["client"].split()[0]) * 96 / 338 / 24) * 24
        super().__init__(ui, hwnd, lambda v: (v * dpi + 48) // 96)
        bars = [c for c in self.all if c["class"].lower() == "msctls_statusbar32"]
        check(len(bars) == 1, "no status bar")
        self.by_name["sbStatus"] = bars[0]["hwnd"]
        self.names[bars[0]["hwnd"]] = "sbStatus"

    def fields(self):
        return tuple(self.text(n) for n in ("edtFactoryCode", "edtVersion", "edtModuleID", "edtCardID"))

    def identified(self):
        return self.fields()[:3] == IDENTITY

    def panels(self):
        return [text for _, _, text in self.ui.status(self.hwnd_of("sbStatus"))]

    def check_disconnected(self):
        """Disconnected after the link dropped: reading stopped, fields empty, Connect enabled."""
        check(self.panels()[0] == "Disconnected", "panels %r" % self.panels())
        check(self.text("btnReadCardID") == "Read Card ID", "read button %r" % self.text("btnReadCardID"))
        check(self.fields() == ("", "", "", ""), "fields %r" % (self.fields(),))
        states = self.states()
        check(states["btnConnect"]["enabled"] and not states["btnDisconnect"]["enabled"],
              "buttons after the link dropped")


def find_main_window(ui, timeout_s=10):
    """The main window, once it is visible and active (it brings itself to the front when shown)."""
    def found():
        hwnd = ui.active_window()
        if hwnd not in ("0x0", "") and ui.window(hwnd)["class"] == "TfrmCardReader":
            return hwnd
        return None
    return MainWindow(ui, wait_until(found, timeout_s, "the main window to become active", 0.1))


class StatusWatcher:
    """Samples the status bar's panels over and over with a UI driver of its own and keeps every
    value it showed, with the time it was first seen, so that a state that lasts one poll is not
    missed."""

    def __init__(self, env, bar, interval=0.03):
        self.ui = UiDriver(env)
        self.bar = bar
        self.interval = interval
        self.history = []  # (time in ms, panel texts) at every change
        self.running = True
        self.error = None
        self.thread = threading.Thread(target=self._watch, daemon=True)
        self.thread.start()

    def _watch(self):
        # A sampler that stops leaves a short history, which every "no second X" would pass on:
        # the failure is kept and raised to the test.
        try:
            while self.running:
                value = [text for _, _, text in self.ui.status(self.bar)]
                if not self.history or self.history[-1][1] != value:
                    self.history.append((now_ms(), value))
                time.sleep(self.interval)
        except Exception as e:
            self.error = e

    def check_sampling(self):
        if self.error is not None:
            raise Failure("the watcher stopped sampling: %r" % self.error)

    def stop(self):
        self.running = False
        self.thread.join(10)
        self.ui.close()
        self.check_sampling()

    def lines(self, panel=1):
        """Every text one panel showed. A change of another panel alone is not a new line: the
        sampler may see the status line written before the connection state changes."""
        self.check_sampling()
        lines = []
        for t, panels in self.history:
            if len(panels) > panel and (not lines or lines[-1][1] != panels[panel]):
                lines.append((t, panels[panel]))
        return lines


class KeySink(WineTool):
    """KeySink: the focused window that records the keys Cardwick types."""

    def __init__(self, env, title="Key Sink", log=None, unicode=False):
        """log: a Windows path that KeySink appends every key event to as it arrives. unicode: a
        Unicode window, which receives every character as itself, not in the ANSI code page."""
        super().__init__("KeySink", [env.sink, "--title", title] + (["--log", log] if log else [])
                         + (["--unicode"] if unicode else []))
        _, line = self.output.read(30)
        check(line.startswith("READY "), "KeySink did not start: " + line)
        self.hwnd = "0x" + line.split()[1].lower()

    def _command(self, command, sentinel):
        return self.ask(command, lambda line: line == sentinel)[0]

    def focus(self, ui):
        """Takes the keyboard focus and keeps it: a window hidden just before may hand the
        activation on a moment later, so look twice."""
        def held():
            self._command("focus", "OK")
            time.sleep(0.15)
            return ui.active_window() == self.hwnd and (time.sleep(0.15) or ui.active_window() == self.hwnd)
        wait_until(held, 5, "KeySink to keep the focus", 0)

    def clear(self):
        self._command("clear", "OK")

    def text(self):
        """What the window's character messages spelt since the last clear."""
        for line in self._command("report", "END"):
            if line.startswith("TEXT "):
                return unescape(line[5:])
        return ""


class Cardwick:
    """The real program under Wine, with the locale pinned for the status line's time. Given the UI
    driver, it returns once the program has made its first window: under Wine's emulated 32-bit
    half a start takes tens of seconds, and every time a test then checks counts from there."""

    def __init__(self, env, ui=None, startup_timeout_s=STARTUP_TIMEOUT_S, cwd=None, trace_status=False):
        """cwd: the current directory to start it in (a Linux path); the test's own by default.
        trace_status: keep Wine's trace of every text the status bars are given (status_writes)."""
        environment = dict(os.environ, LANG="en_US.UTF-8", LC_ALL="en_US.UTF-8")
        stderr = subprocess.DEVNULL
        self.trace_path = None
        if trace_status:
            environment["WINEDEBUG"] = "trace+statusbar"
            self.trace_path = os.path.join(env.work, "statusbar%d.trace" % id(self))
            stderr = open(self.trace_path, "wb")
        self.process = subprocess.Popen(["wine", env.cardwick], env=environment, cwd=cwd,
                                        stdout=subprocess.DEVNULL, stderr=stderr)
        if ui is not None:
            wait_until(lambda: not self.running() or ui.call("find " + MAIN_CAPTION, allow_error=True),
                       startup_timeout_s, "Cardwick's first window", 0.2)
            check(self.running(), "Cardwick ended during its start")
            self.check_loader(env)

    def check_loader(self, env):
        """The process runs the program under the Wine loader of its kind: a 32-bit program under
        the emulated 32-bit loader, not the 64-bit loader's start.exe around it."""
        exe, args = loader_of(self.process.pid)
        if env.x86:
            loader = os.environ.get("CARDWICK_WINE32_LOADER", "/usr/lib/wine/wine")
            check(os.path.basename(exe).startswith("qemu-i386") and args[1:3] == [loader, env.cardwick],
                  "Cardwick runs as %s %r, not under the emulated 32-bit loader %s"
                  % (exe, [a for a in args if a][:3], loader))
        else:
            loader = os.path.realpath(os.environ.get("CARDWICK_WINE64_LOADER", "/usr/lib/wine/wine64"))
            check(exe == loader, "Cardwick runs as %s, not under the 64-bit loader %s" % (exe, loader))

    def running(self):
        return self.process.poll() is None

    def status_writes(self, ending):
        """How many times a status text ending in `ending` was written, from Wine's trace: the
        same text written twice within a second is two writes, where a sampler sees one change."""
        with open(self.trace_path, encoding="latin-1") as f:
            written = re.compile(r"statusbar.* text .*%s" % re.escape(ending))
            return sum(1 for line in f if written.search(line))

    def wait_exit(self, timeout_s):
        try:
            self.process.wait(timeout_s)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        if self.running():
            self.process.kill()
            self.process.wait()


def check_status_line(line, message, start_s, end_s):
    """The status line is the time of writing in the user's long time format (en-US "h:mm:ss AM"),
    then the message; start_s and end_s bound that time on the wall clock."""
    check(line.endswith(message), "status line %r does not end with %r" % (line, message))
    stamp = line[: -len(message)]
    times = {time.strftime("%I:%M:%S %p", time.localtime(second)).lstrip("0")
             for second in range(int(start_s) - 1, int(end_s) + 2)}
    check(stamp in times, "status line %r: %r is not a time between the checks" % (line, stamp))


def screenshot(path):
    subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", path], check=True)


def pixel_counts(work, rect, kinds):
    """How many pixels of a screen rectangle (x, y, w, h) each kind's test (r, g, b) accepts."""
    path = os.path.join(work, "screen.png")
    screenshot(path)
    x, y, w, h = rect
    out = subprocess.run(["convert", path, "-crop", "%sx%s+%s+%s" % (w, h, x, y), "+repage", "-depth", "8",
                          "txt:-"], check=True, capture_output=True, text=True).stdout
    counts = dict.fromkeys(kinds, 0)
    for m in re.finditer(r"\((\d+),(\d+),(\d+)", out):
        rgb = tuple(int(v) for v in m.groups())
        for kind, accepts in kinds.items():
            counts[kind] += accepts(*rgb)
    return counts


def one_colour(counts, least):
    """The one kind seen at least `least` times while no other is seen, else a description."""
    shown = [kind for kind, n in counts.items() if n]
    if len(shown) == 1 and counts[shown[0]] >= least:
        return shown[0]
    return ", ".join("%s %d" % item for item in counts.items())


TRAY_PICTURES = {0: lambda r, g, b: r < 60 and g < 60 and b > 200,  # blue screen
                 1: lambda r, g, b: r < 60 and g > 200 and b > 200}  # cyan screen


def tray_picture(ui, work, expected, timeout_s=3):
    """Waits until the first tray icon shows image `expected` of the image list. An icon that was
    just taken away and added again may show its old picture, or none, for a moment."""
    seen = ["no tray icon"]

    def shows():
        icons = ui.tray_icons()
        seen[:] = [one_colour(pixel_counts(work, icons[0][1:], TRAY_PICTURES), 6)] if icons else seen
        return seen[0] == expected
    try:
        wait_until(shows, timeout_s, "tray picture %d" % expected, 0.2)
    except Failure as e:
        raise Failure("%s: the tray shows %r" % (e, seen[0]))


def reg(*args, view=None, check_result=True):
    """reg.exe on the prefix's registry, in one registry view (32 or 64) when given."""
    command = ["wine", "reg"] + list(args) + (["/reg:%d" % view] if view else [])
    result = subprocess.run(command, capture_output=True, text=True, errors="replace")
    if check_result and result.returncode != 0:
        raise Failure("reg %r: %s" % (args, result.stdout + result.stderr))
    return result


def reg_values(key, view=None):
    """{name: data} of a key's values; None when the key does not exist."""
    result = reg("query", key, view=view, check_result=False)
    if result.returncode != 0:
        # Only a missing key means no values; any other failure of reg.exe is the tool's, and
        # reading it as "no values" would make a written value look absent.
        if "Unable to find the specified registry key" in result.stdout + result.stderr:
            return None
        raise Failure("reg query %s: exit %d: %s" % (key, result.returncode, (result.stdout + result.stderr).strip()))
    values = {}
    for line in result.stdout.splitlines():
        m = re.match(r"^    (.*?)    REG_\w+    (.*)$", line)
        if m:
            values[m.group(1)] = m.group(2)
    return values


SERIAL_MAP = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"


def set_serial_map(env, values):
    """Replaces the serial port map with exactly these values, in one import, and checks it."""
    def quoted(text):
        return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')
    for _ in range(3):
        lines = ["REGEDIT4", "", "[%s]" % SERIAL_MAP.replace("HKLM", "HKEY_LOCAL_MACHINE")]
        lines += ["%s=-" % quoted(name) for name in reg_values(SERIAL_MAP) or {} if name not in values]
        lines += ["%s=%s" % (quoted(name), quoted(data)) for name, data in values.items()]
        path = os.path.join(env.work, "serialmap.reg")
        with open(path, "w", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        subprocess.run(["wine", "regedit", "/S", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if reg_values(SERIAL_MAP) == values:
            return
    raise Failure("the serial port map is %r, not %r" % (reg_values(SERIAL_MAP), values))


class Run:
    """Named steps, each printing its result; the process exits non-zero at the first failure.
    Clean-ups given to on_exit run at the end, last first."""

    def __init__(self, name):
        self.name = name
        self.cleanups = []
        self.passed = 0

    def on_exit(self, action):
        self.cleanups.append(action)
        return action

    @contextlib.contextmanager
    def step(self, title):
        start = time.monotonic()
        try:
            yield
        except Failure as e:
            print("FAIL  %s: %s" % (title, e), flush=True)
            e.reported = True
            raise
        self.passed += 1
        print("ok    %s (%.1f s)" % (title, time.monotonic() - start), flush=True)

    def skip(self, title, reason):
        """A step left out, said in the output with its reason: never in silence."""
        print("skip  %s: %s" % (title, reason), flush=True)

    def __enter__(self):
        print("== " + self.name, flush=True)
        return self

    def __exit__(self, kind, value, tb):
        for action in reversed(self.cleanups):
            try:
                action()
            except Exception as e:  # a cleanup must not hide the failure
                print("cleanup: %s" % e, file=sys.stderr)
        if kind is None and self.passed:
            print("== %s: %d steps passed" % (self.name, self.passed), flush=True)
        elif kind is Failure:
            # A failure outside any step (the set-up) is said here, or the run would end in silence.
            if not getattr(value, "reported", False):
                print("FAIL  %s: %s" % (self.name, value), flush=True)
            sys.exit(1)
        return False


class Session(Run):
    """One end-to-end run: the settings file, reader-sim on the port, the UI driver, KeySink with
    the focus, then Cardwick, each stopped at the end. settings: (general, ports) as for
    Environment.write_settings, or None for no file; sim: reader-sim's arguments, or None for no
    reader; sink: False, True, or KeySink's keyword arguments; cardwick: False to start it later
    with start_cardwick, or its keyword arguments."""

    def __init__(self, name, env=None, settings=None, sim=(), sink=False, cardwick=True):
        super().__init__(name)
        self.env = env or Environment()
        self.general, self.ports = settings or (None, None)
        self.sim_args, self.sink_args, self.cardwick_args = sim, sink, cardwick
        self.watchers = []
        self.sim = self.sink = self.cardwick = self.main = None

    def __enter__(self):
        super().__enter__()
        try:
            if self.general is None and self.ports is None:
                with contextlib.suppress(FileNotFoundError):
                    os.remove(self.env.ini)
            else:
                self.write_settings()
            if self.sim_args is not None:
                self.plug(*self.sim_args)
            self.ui = UiDriver(self.env)
            self.on_exit(self.ui.close)
            if self.sink_args:
                self.sink = KeySink(self.env, **(self.sink_args if isinstance(self.sink_args, dict) else {}))
                self.on_exit(self.sink.close)
                self.sink.focus(self.ui)
            if self.cardwick_args:
                self.start_cardwick(**(self.cardwick_args if isinstance(self.cardwick_args, dict) else {}))
        except BaseException:
            if not self.__exit__(*sys.exc_info()):
                raise
        return self

    def write_settings(self):
        self.env.write_settings(self.general, self.ports)

    def start_cardwick(self, **args):
        """Cardwick, returning once its first window exists."""
        self.cardwick = Cardwick(self.env, self.ui, **args)
        self.on_exit(self.cardwick.kill)
        return self.cardwick

    def plug(self, *args, port=None):
        """A new reader-sim on the port (the environment's by default): the next open of the port
        reaches it. The reader plugged in before stays as it is until it is stopped."""
        sim = ReaderSim(self.env, *args, port=port)
        self.on_exit(sim.stop)
        self.sim = sim
        return sim

    def dismiss(self, box, quiet_ms=0):
        """Closes a box as its OK does, and checks that the program made no second box on its way
        to its next message loop: the UI driver's round trip through the box's thread, not a time,
        says when it got there. quiet_ms: also watch that long for a box that something later (a
        timer) would show."""
        later = self.ui.dismiss(box)
        check(later == [], "a second message box after %r: %r" % (box["text"], later))
        if quiet_ms:
            check(self.ui.message_box(quiet_ms) is None, "a second message box after %r" % box["text"])

    def locate_main(self):
        """The main window, shown or hidden (a program started into the notification area has
        made it all the same)."""
        self.main = MainWindow(self.ui, self.ui.find_class("TfrmCardReader"))
        return self.main

    def show_main(self, timeout_s=10):
        """The main window, shown by a double click on the tray icon."""
        self.ui.call("traydblclick 0")
        self.main = find_main_window(self.ui, timeout_s)
        return self.main

    def watch_status(self):
        watcher = StatusWatcher(self.env, self.main.hwnd_of("sbStatus"))
        self.watchers.append(self.on_exit(watcher.stop))
        return watcher

    def start_reading(self, hide=True):
        """Connect and Start Reading on the main window, then Hide it (if hide) and give the focus
        back to the sink (if any): the click gave it to the main window. Returns the time reading
        started."""
        main = self.main
        main.click("btnConnect")
        wait_until(lambda: main.fields()[0] == IDENTITY[0], 10, "the module's serial number")
        main.click("btnReadCardID")
        wait_until(lambda: main.text("btnReadCardID") == "Stop Reading", 5, "reading to start")
        started = now_ms()
        if hide:
            main.click("btnHide")
            wait_until(lambda: not main.visible(), 5, "the window to hide")
        if self.sink:
            self.sink.focus(self.ui)
        return started

    def exit_from_tray(self, tries=1, wait_s=15, reader_quiet=False):
        """Exit from the tray menu: the program ends with 0, no box on the way, no icon left, and
        (reader_quiet) no command reaches the reader from the moment the menu is opened, so only
        where no poll is due then (a reply outstanding, or reading stopped). A card typed into the
        open menu can pick another item (Enter is "Show"): tries says how often to open it, wait_s
        how long each try waits for the end."""
        # A watcher that failed fails here; one still sampling would fail once the window is gone.
        for stop in self.watchers:
            stop()
        # Counted before the menu opens: a command sent on Exit, which reaches the reader only after
        # the menu has closed, counts as sent after it.
        sent = len(self.sim.commands()) if self.sim else 0
        for _ in range(tries):
            self.ui.call("traymenu 0 X")
            if self.watch_end(self.cardwick, wait_s, "Exit"):
                break
        check(not self.cardwick.running(), "Cardwick did not end")
        check(self.cardwick.process.returncode == 0, "exit code %r" % self.cardwick.process.returncode)
        check(self.ui.tray_icons() == [], "icons left in the notification area: %r" % self.ui.tray_icons())
        if reader_quiet:
            check(len(self.sim.commands()) == sent, "commands after Exit: %r" % self.sim.commands()[sent:])

    def watch_end(self, cardwick, wait_s, after):
        """Waits up to wait_s for the program to end, failing on any message box it shows on the
        way; True once it has ended."""
        deadline = time.monotonic() + wait_s
        while cardwick.running() and time.monotonic() < deadline:
            box = self.ui.message_box(0)
            check(box is None, "a message box after %s: %r" % (after, box))
            time.sleep(0.1)
        return not cardwick.running()
