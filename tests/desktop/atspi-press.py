# Presses a button of one of qlxhost's windows through AT-SPI, as an assistive
# technology does where no keyboard or pointer reaches the display (a headless
# compositor). Waits up to 30 s for the window and its button; the press returns
# only once what it opened has closed, so the caller need not wait for it.
#
#   atspi-press.py WINDOW BUTTON     exit 0 pressed, 1 not found
import sys
import time

import pyatspi

WAIT_S = 30


def button(window_name, button_name):
    for application in pyatspi.Registry.getDesktop(0):
        if application is None or application.name != "qlxhost":
            continue
        for index in range(application.childCount):
            window = application.getChildAtIndex(index)
            if window is None or window.name != window_name:
                continue
            found = pyatspi.findDescendant(
                window, lambda node: node is not None and node.getRoleName() == "push button" and node.name == button_name)
            if found is not None:
                return found
    return None


def main():
    window_name, button_name = sys.argv[1:3]
    deadline = time.monotonic() + WAIT_S
    while time.monotonic() < deadline:
        target = button(window_name, button_name)
        if target is not None:
            actions = target.queryAction()
            for index in range(actions.nActions):
                if actions.getName(index) == "Press":
                    print("pressed", flush=True)
                    actions.doAction(index)
                    return 0
        time.sleep(0.1)
    print(f"no button '{button_name}' in a window '{window_name}'", flush=True)
    return 1


sys.exit(main())
