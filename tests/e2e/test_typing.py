#!/usr/bin/env python3
"""What gets typed where, on a desk as users have it. On a display whose keyboard is Russian (a real
X layout, which Wine takes its keyboard from), card IDs with Latin letters and with bytes that are
other keys' codes ("[" the Windows key, "." Delete, "-" Insert, "b" keypad 2) reach a focused Unicode
window as exactly those characters, and no such key is pressed. With Cardwick's own window in front
(shown at start-up), cards are read, shown and not typed: nothing is pressed in that window, reading
goes on, and the status line says why; after the line is pulled and the reader comes back by itself
with the main window still in front, every new card is read and reading stays on."""

import os
import shutil
import subprocess

from cardwick_e2e import (DEVICE_UNPLUGGED, Environment, Session, check, find_main_window,
                          standard_settings, wait_until)

# On a Russian layout the letter keys type Cyrillic letters: "00ABCDEF01" typed by its keys would
# arrive as "00ФИСВУА01".
OTHER_KEYS_CARDS = ["12[3", "A.b-", "00ABCDEF01"]
# Every key the focused window may see while those cards are typed: Caps Lock, Return, the packet
# key that carries a character as itself, and the digits' and capitals' own keys (a layout that
# types them from those keys gets them that way).
VK_CAPITAL, VK_RETURN, VK_PACKET = 0x14, 0x0D, 0xE7
ALLOWED_KEYS = {VK_CAPITAL, VK_RETURN, VK_PACKET} | {
    ord(c) for card in OTHER_KEYS_CARDS for c in card if c.isdigit() or "A" <= c <= "Z"}

OWN_WINDOW = ": Card ID not typed: Cardwick's window is in front"
# Two seconds of empty polls before each card: the window is in front before the first.
EMPTY = [""] * 3
FIRST_CARDS = ["0000000101", "0000000102", "0000000103"]
AFTER_CARDS = ["0000000201", "0000000202", "0000000203"]


def script(cards):
    return ",".join(EMPTY + [entry for card in cards for entry in [card] + EMPTY])


def hook_keys(sink):
    """The virtual keys KeySink's low-level hook saw since its last clear."""
    lines, _ = sink.ask("report", lambda line: line == "END")
    return [int(line.split()[1], 16) for line in lines if line.startswith("HOOK ")]


def answered_cards(sim, cards):
    """The cards reader-sim has sent, in order, from its log."""
    sent = [data for _, kind, data in sim.entries() if kind == "TX"]
    return [card for data in sent for card in cards if card.encode() in data]


def polls_after(sim, card):
    """The polls that came after the reply that carried the card."""
    entries = sim.entries()
    carried = [t for t, kind, data in entries if kind == "TX" and card.encode() in data]
    return [c for t, c in sim.commands() if carried and t > carried[0] and c == "F"]


def russian_display(work):
    """A display of its own whose keyboard is Russian. Xvfb takes no new keymap once it runs, so it
    starts with a copy of the keyboard data in which the default "us" layout is the Russian one.
    Returns the display's name and the server."""
    xkb = os.path.join(work, "xkb-ru")
    shutil.copytree("/usr/share/X11/xkb", xkb)
    shutil.copyfile(os.path.join(xkb, "symbols", "ru"), os.path.join(xkb, "symbols", "us"))
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-xkbdir", xkb, "-nolisten", "tcp",
                               "-screen", "0", "1024x768x24"], pass_fds=(write,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    check(number.isdigit(), "Xvfb gave no display number")
    display = ":" + number
    keys = subprocess.run(["xmodmap", "-display", display, "-pk"], capture_output=True, text=True).stdout
    check("Cyrillic_ef" in keys, "the display's keyboard is not Russian")
    return display, server


env = Environment()
main_display = os.environ["DISPLAY"]
os.environ["DISPLAY"], russian_server = russian_display(env.work)

with Session("cards with letters and with other keys' codes, typed on a Russian keyboard", env=env,
             settings=standard_settings(show=False, suffix=True), sim=("--cards", ",".join(OTHER_KEYS_CARDS)),
             sink={"unicode": True}) as s:
    s.on_exit(lambda: (russian_server.kill(), russian_server.wait()))
    sink = s.sink

    with s.step("'12[3', 'A.b-' and '00ABCDEF01' arrive as themselves, each with its Enter, and no other key "
                "is pressed"):
        expected = "".join(card + "\r" for card in OTHER_KEYS_CARDS)
        # A card typed as other keys leaves fewer characters, or none: the polls after the last card
        # say when everything has arrived.
        wait_until(lambda: len(polls_after(s.sim, OTHER_KEYS_CARDS[-1])) >= 2, 30, "two polls after the last card")
        check(sink.text() == expected, "typed %r" % sink.text())
        keys = hook_keys(sink)
        check(VK_PACKET in keys, "no character went out as itself: %s" % " ".join("%02X" % k for k in keys))
        check(set(keys) <= ALLOWED_KEYS, "keys pressed besides the characters': %s"
              % " ".join("%02X" % k for k in sorted(set(keys) - ALLOWED_KEYS)))

    with s.step("the Exit button ends the program"):
        # The tray menu's items are picked by their letter, which a Russian keyboard does not type.
        main = s.show_main()
        main.click("btnExit")
        check(s.cardwick.wait_exit(15), "Cardwick did not end")

os.environ["DISPLAY"] = main_display
general, ports = standard_settings(show=True, suffix=True)
general["Reconnect automatically"] = "1"
with Session("Cardwick's own window in front", env=env, settings=(general, ports),
             sim=("--cards", script(FIRST_CARDS)), cardwick={"trace_status": True}) as s:
    ui, sim = s.ui, s.sim

    with s.step("shown at start-up, reading: three cards read, shown, not typed, and reading goes on"):
        main = s.main = find_main_window(ui, 60)
        wait_until(lambda: len(polls_after(sim, FIRST_CARDS[-1])) >= 2, 30, "two polls after the third card")
        check(answered_cards(sim, FIRST_CARDS) == FIRST_CARDS, "cards answered %r" % answered_cards(sim, FIRST_CARDS))
        check(main.text("btnReadCardID") == "Stop Reading", "reading stopped: %r" % main.text("btnReadCardID"))
        check(main.panels()[0] == "Connected", "panels %r" % main.panels())
        check(main.fields()[3] == FIRST_CARDS[-1], "card field %r" % main.fields()[3])
        check(s.cardwick.status_writes(OWN_WINDOW) == 3, "%d own-window status lines"
              % s.cardwick.status_writes(OWN_WINDOW))
        # Nothing was pressed in it: no box, no other window, the main window still the active one.
        check(ui.message_box(0) is None, "a message box")
        check(ui.active_window() == main.hwnd, "the active window is %r" % ui.active_window())

    with s.step("the line pulled with the main window in front: its box"):
        pulled = s.sim
        pulled.stop()
        box = ui.expect_message_box("Error", "error", DEVICE_UNPLUGGED, timeout_ms=5000)
        check(ui.window(box["hwnd"])["owner"] == main.hwnd, "the box's owner")

    with s.step("the reader back by itself: every new card read, none typed, reading stays on"):
        back = s.plug("--cards", script(AFTER_CARDS))
        wait_until(lambda: ui.message_box(0) is None, 30, "the box to close by itself")
        wait_until(lambda: len(polls_after(back, AFTER_CARDS[-1])) >= 2, 40, "two polls after the last card")
        check(answered_cards(back, AFTER_CARDS) == AFTER_CARDS, "cards answered %r" % answered_cards(back, AFTER_CARDS))
        check(main.text("btnReadCardID") == "Stop Reading", "reading stopped: %r" % main.text("btnReadCardID"))
        check(main.fields()[3] == AFTER_CARDS[-1], "card field %r" % main.fields()[3])
        check(s.cardwick.status_writes(OWN_WINDOW) == 6, "%d own-window status lines"
              % s.cardwick.status_writes(OWN_WINDOW))

    with s.step("Exit from the tray menu"):
        s.exit_from_tray()
