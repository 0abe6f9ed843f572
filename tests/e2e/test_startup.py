#!/usr/bin/env python3
"""Cardwick started on a machine without settings, then set up and driven by hand: the start-up
warning, the hidden window and tray icon, the designed layout, the port settings read at every
connection, and reading switched on and off with the buttons."""

import time

from cardwick_e2e import (INVALID_PORT_SETTINGS, MAIN_CAPTION, Session, check, check_status_line,
                          now_ms, standard_settings, tray_picture, wait_until)

# name: (left, top, width, height, text, enabled)
DESIGNED = {
    "btnConnect": (8, 8, 81, 25, "&Connect", True),
    "btnReadCardID": (8, 40, 81, 25, "&Start Reading", False),
    "btnDisconnect": (8, 72, 81, 25, "&Disconnect", False),
    "btnProperties": (8, 104, 81, 25, "&Properties", True),
    "btnHide": (8, 136, 81, 25, "&Hide", True),
    "btnExit": (192, 136, 57, 25, "E&xit", True),
    "btnAbout": (256, 136, 57, 25, "&About", True),
    "edtFactoryCode": (191, 8, 121, 21, "", True),
    "edtVersion": (192, 40, 121, 21, "", True),
    "edtModuleID": (191, 72, 121, 21, "", True),
    "edtCardID": (192, 104, 121, 21, "", True),
    "anPoll": (318, 106, 16, 16, "", True),
}
# Right-aligned labels that size themselves to their text keep their designed right edge.
LABELS = (("Serial Number:", 186, 8), ("Version:", 182, 40), ("Module ID:", 183, 72), ("Card ID:", 183, 104))

with Session("start-up without settings, then connect and read by hand", sim=("--cards", "0004211311")) as s:
    ui, sim, env = s.ui, s.sim, s.env

    with s.step("no settings file: one warning, hidden window, tray icon only, nothing polled"):
        box = ui.expect_message_box("Warning", "warning", INVALID_PORT_SETTINGS, timeout_ms=20000)
        check(not ui.visible_main_caption(), "the main window is shown behind the warning")
        s.dismiss(box, 1500)
        check(not ui.visible_main_caption(), "the main window is shown")
        check(len(ui.tray_icons()) == 1, "not exactly one tray icon")
        check(s.cardwick.running(), "Cardwick ended")
        check(sim.commands() == [], "commands were sent: %r" % sim.commands())

    with s.step("tray double click shows the window, Disconnected, in the designed layout"):
        main = s.show_main()
        info = ui.window(main.hwnd)
        check(info["text"] == MAIN_CAPTION, "caption %r" % info["text"])
        check(info["client"] == "338\t185", "client size %r" % info["client"])
        check(info["rect"].split("\t")[:2] == ["420", "271"], "position %r" % info["rect"])
        check(main.panels() == ["Disconnected", ""], "panels %r" % main.panels())
        edge, alignment, _ = ui.status(main.hwnd_of("sbStatus"))[0]
        check((edge, alignment) == (75, "center"), "panel 0 %r %r" % (edge, alignment))
        states = main.states()
        for name, (left, top, width, height, text, enabled) in DESIGNED.items():
            c = states[name]
            check(c["rect"] == (left, top, width, height), "%s at %r" % (name, c["rect"]))
            check((c["text"], c["enabled"]) == (text, enabled), "%s: %r" % (name, c))
        labels = {c["text"]: c for c in main.all if c["class"].lower() == "static"}
        for text, right, top in LABELS:
            check(text in labels, "no label %r" % text)
            x, y, w, _ = labels[text]["rect"]
            check((x + w, y) == (right, top), "label %r at %r" % (text, labels[text]["rect"]))

    with s.step("a missing port setting is refused with the warning"):
        general, ports = standard_settings()
        del ports["Parity"]
        env.write_settings(general, ports)
        main.click("btnConnect")
        s.dismiss(ui.expect_message_box("Warning", "warning", INVALID_PORT_SETTINGS))
        check(main.panels()[0] == "Disconnected", "panels %r" % main.panels())
        check(main.control("btnConnect")["enabled"] and not main.control("btnDisconnect")["enabled"],
              "buttons changed")
        check(sim.commands() == [], "commands were sent")

    with s.step("Connect with Parity 'none' identifies the module"):
        # No Enter after a card: the focused window is Cardwick's own, where Enter would press the
        # focused button.
        env.write_settings(*standard_settings(parity="none", suffix=False))
        start = time.time()
        main.click("btnConnect")
        wait_until(main.identified, 10, "the module's identity")
        check([letter for _, letter in sim.commands()] == ["B", "V"], "commands %r" % sim.commands())
        panels = main.panels()
        check(panels[0] == "Connected", "panels %r" % panels)
        check_status_line(panels[1], ": Get Version OK", start, time.time())
        states = main.states()
        enabled = {n: states[n]["enabled"] for n in ("btnConnect", "btnProperties", "btnReadCardID", "btnDisconnect")}
        check(enabled == {"btnConnect": False, "btnProperties": False, "btnReadCardID": True,
                          "btnDisconnect": True}, "buttons %r" % enabled)
        check(ui.message_box(0) is None, "a message box")

    with s.step("Start, stop, start reading: the button's captions; tray picture 1"):
        captions = []
        for _ in range(3):
            main.click("btnReadCardID")
            before = captions[-1] if captions else "&Start Reading"
            wait_until(lambda: main.text("btnReadCardID") != before, 5, "the caption to change")
            captions.append(main.text("btnReadCardID"))
        check(captions == ["Stop Reading", "Read Card ID", "Stop Reading"], "captions %r" % captions)
        wait_until(lambda: main.fields()[3] == "0004211311", 5, "the card")
        tray_picture(ui, env.work, 1)

    with s.step("Disconnect while reading: stopped, fields empty, status line kept, picture 0"):
        # The poll period, on reader-sim's clock: the median spacing of seven polls in a row.
        first = len(sim.commands())
        polled = wait_until(lambda: [t for t, c in sim.commands()[first:] if c == "F"][:7] if
                            len(sim.commands()) >= first + 7 else None, 15, "seven polls")
        gaps = sorted(b - a for a, b in zip(polled, polled[1:]))
        median = (gaps[2] + gaps[3]) / 2
        check(450 <= median <= 600, "polls %.0f ms apart (median of %r)" % (median, gaps))
        wait_until(lambda: main.panels()[1].endswith(": Read Card ID OK"), 5, "a poll")
        main.click("btnDisconnect")
        wait_until(lambda: main.panels()[0] == "Disconnected", 5, "Disconnected")
        check(main.text("btnReadCardID") == "Read Card ID", "caption %r" % main.text("btnReadCardID"))
        check(main.fields() == ("", "", "", ""), "fields %r" % (main.fields(),))
        # A poll may still have been answered between the read above and the click: the line is the
        # last poll's, not one of Disconnect's own.
        check(main.panels()[1].endswith(": Read Card ID OK"), "status line changed to %r" % main.panels()[1])
        tray_picture(ui, env.work, 0)
        check(main.control("btnConnect")["enabled"] and not main.control("btnReadCardID")["enabled"],
              "buttons after Disconnect")
        # On a closed port no poll can reach the reader, whatever the poll timer does: connect
        # again, and three poll periods on reader-sim's clock after the identification show it.
        main.click("btnConnect")
        wait_until(main.identified, 10, "the module's identity")
        identified = sim.commands()[-1][0]
        wait_until(lambda: now_ms() >= identified + 1500, 5, "three poll periods")
        # From the second identification on: a poll sent just before the click came before it.
        commands = [c for _, c in sim.commands()]
        since = len(commands) - commands[::-1].index("B") - 1
        check(commands[since:] == ["B", "V"], "polls go on after Disconnect: %r" % commands[since:])

    with s.step("the Exit button ends the program"):
        main.click("btnExit")
        check(s.cardwick.wait_exit(15), "Cardwick did not end")
