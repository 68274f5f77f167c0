# The open screen as an assistive technology reads it through AT-SPI: every control is
# found by the name a person reads beside it, and no control that takes input is
# nameless. Exit status 0 when so; the missing and nameless ones are printed.
import sys
import time

import pyatspi

SCREEN = "Geração do Arquivo de Tradução das Tabelas"
EXPECTED = {
    ("combo box", "Idioma"),
    ("text", "Itens alterados a partir de:"),
    ("push button", "Calendário"),
    ("text", "Hora"),
    ("text", "Diretório para geração"),
    ("push button", "Selecionar diretório"),
    ("radio button", "Todos"),
    ("radio button", "Lista"),
    ("push button", "Pesquisar"),
    ("push button", "Confirmar"),
    ("push button", "Cancelar"),
}
INPUT_ROLES = {"combo box", "text", "push button", "radio button", "check box"}


def controls(node, found):
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is None:
            continue
        found.append((child.getRoleName(), child.name))
        controls(child, found)
    return found


def screen():
    for application in pyatspi.Registry.getDesktop(0):
        if application is None or application.name != "qlxhost":
            continue
        for index in range(application.childCount):
            window = application.getChildAtIndex(index)
            if window is not None and window.name == SCREEN:
                return window
    return None


deadline = time.monotonic() + float(sys.argv[1] if len(sys.argv) > 1 else 30)
window = None
while window is None and time.monotonic() < deadline:
    window = screen()
    if window is None:
        time.sleep(0.5)
if window is None:
    print("the screen is not in the accessibility tree")
    sys.exit(1)
found = controls(window, [])
missing = sorted(EXPECTED - set(found))
nameless = sorted(role for role, name in found if role in INPUT_ROLES and not name)
for role, name in missing:
    print(f"not found: {role} '{name}'")
for role in nameless:
    print(f"a {role} without a name")
sys.exit(1 if missing or nameless else 0)
