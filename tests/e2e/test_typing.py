#!/usr/bin/env python3
"""What gets typed where, on a desk as users have it. Card IDs whose bytes are other keys' codes
("[" the Windows key, "." Delete, "-" Insert, "b" keypad 2) reach the focused window as exactly
those characters, and no such key is pressed. With Cardwick's own window in front (shown at
start-up), cards are read, shown and not typed: nothing is pressed in that window, reading goes on,
and the status line says why; after the line is pulled and the reader comes back by itself with
the main window still in front, every new card is read and reading stays on."""

from cardwick_e2e import (DEVICE_UNPLUGGED, Environment, MainWindow, Session, check, find_main_window,
                          standard_settings, wait_until)

OTHER_KEYS_CARDS = ["12[3", "A.b-"]
# Every key the focused window may see while those cards are typed: Caps Lock, the digits' and
# letters' own keys, Return, and the packet key that carries a character as itself.
VK_CAPITAL, VK_RETURN, VK_PACKET = 0x14, 0x0D, 0xE7
ALLOWED_KEYS = {VK_CAPITAL, VK_RETURN, VK_PACKET, ord("1"), ord("2"), ord("3"), ord("A")}

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


env = Environment()

with Session("cards whose bytes are other keys' codes, typed into the focused window", env=env,
             settings=standard_settings(show=False, suffix=True), sim=("--cards", ",".join(OTHER_KEYS_CARDS)),
             sink=True) as s:
    sink = s.sink

    with s.step("'12[3' and 'A.b-' arrive as themselves, each with its Enter, and no other key is pressed"):
        expected = "".join(card + "\r" for card in OTHER_KEYS_CARDS)
        wait_until(lambda: len(sink.text()) >= len(expected), 30, "both cards in the sink")
        check(sink.text() == expected, "typed %r" % sink.text())
        keys = hook_keys(sink)
        check(VK_PACKET in keys, "no character went out as itself: %s" % " ".join("%02X" % k for k in keys))
        check(set(keys) <= ALLOWED_KEYS, "keys pressed besides the characters': %s"
              % " ".join("%02X" % k for k in sorted(set(keys) - ALLOWED_KEYS)))

    with s.step("Exit from the tray menu"):
        s.exit_from_tray()

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
        check(MainWindow(ui, ui.window(box["hwnd"])["owner"]).hwnd == main.hwnd, "the box's owner")

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
