# The screen and its windows as an assistive technology reads them through AT-SPI.
# Every control of the screen, the table picker and the message boxes is found by the
# name a person reads beside it, and none that takes input is nameless; during a slow
# fetch the busy window is found by its name and announces its count as it grows.
# Starts the host on the server's address through a relay that can make the server's
# answers slow. Keys go through xdotool where a press opens a modal window (a tool
# button's AT-SPI press returns only once that window closes); every other press is
# an AT-SPI action. Exit status 0 when all holds; what failed is printed.
#
#   accessibility.py BIN SERVER_ADDRESS WORK_DIRECTORY
import contextlib
import ctypes
import os
import re
import select
import signal
import socket
import subprocess
import sys
import threading
import time

import pyatspi
from gi.repository import GLib

WAIT_S = 30  # the longest any one step waits
SCREEN = "Geração do Arquivo de Tradução das Tabelas"
SCREEN_CONTROLS = {
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
PICKER = "Tabelas"
PICKER_CONTROLS = {
    ("text", "Filtrar:"),
    ("push button", "Limpar filtro"),
    ("list", "Nome"),
    ("list item", "UNIDADE"),
    ("push button", "Marcar todos"),
    ("push button", "Desmarcar todos"),
    ("push button", "OK"),
    ("push button", "Cancelar"),
}
BUSY = "Aguarde, consultando o servidor..."
BUSY_CONTROLS = {("push button", "Cancelar")}
COUNT = re.compile(r"([0-9][0-9.]*) linhas? recebidas?")
INPUT_ROLES = {"combo box", "text", "push button", "radio button", "check box"}

failures = []


class Relay:
    """Passes bytes between the host and the server; while slow, the server's go
    SLICE bytes at a time every PACE_S."""

    SLICE = 60
    PACE_S = 0.02

    def __init__(self, server):
        host, port = server.rsplit(":", 1)
        self.server = (host, int(port))
        self.slow = False
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.address = "127.0.0.1:%d" % self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            client, _ = self.listener.accept()
            threading.Thread(target=self.pass_bytes, args=(client,), daemon=True).start()

    def pass_bytes(self, client):
        try:
            server = socket.create_connection(self.server)
        except OSError:
            client.close()
            return
        held = b""
        with client, server, contextlib.suppress(OSError):
            while True:
                readable, _, _ = select.select([client, server], [], [], 0.02)
                if client in readable:
                    data = client.recv(65536)
                    if not data:
                        return
                    server.sendall(data)
                if server in readable:
                    data = server.recv(65536)
                    if not data:
                        client.sendall(held)
                        return
                    held += data
                count = self.SLICE if self.slow else len(held)
                client.sendall(held[:count])
                held = held[count:]
                if self.slow and held:
                    time.sleep(self.PACE_S)


def start_host(bin_dir, address, work):
    environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), QT_QPA_PLATFORM="xcb",
                       QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LC_ALL="C.UTF-8")
    libc = ctypes.CDLL(None, use_errno=True)

    def ends_with_this():
        libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG

    log = open(os.path.join(work, "host.log"), "w")
    return subprocess.Popen([os.path.join(bin_dir, "qlxhost"), "--server", address, "--open"], env=environment,
                            cwd=work, stdout=log, stderr=subprocess.STDOUT, preexec_fn=ends_with_this)


def wait_for(what, condition):
    """Runs the event loop until the condition gives something; None after WAIT_S."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + WAIT_S
    while time.monotonic() < deadline:
        while context.iteration(False):
            pass
        found = condition()
        if found:
            return found
        time.sleep(0.05)
    failures.append("waited in vain for " + what)
    return None


def window(title):
    for application in pyatspi.Registry.getDesktop(0):
        if application is None or application.name != "qlxhost":
            continue
        for index in range(application.childCount):
            child = application.getChildAtIndex(index)
            if child is not None and child.name == title:
                return child
    return None


def controls(node, found=None):
    found = [] if found is None else found
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            found.append((child.getRoleName(), child.name, child))
            controls(child, found)
    return found


def check_controls(title, node, expected):
    found = [(role, name) for role, name, _ in controls(node)]
    for role, name in sorted(expected - set(found)):
        failures.append(f"{title}: not found: {role} '{name}'")
    for role, name in found:
        if role in INPUT_ROLES and not name:
            failures.append(f"{title}: a {role} without a name")


def control(node, role, name):
    return next((child for found_role, found_name, child in controls(node) if (found_role, found_name) == (role, name)),
                None)


def act(node, role, name, action):
    target = control(node, role, name)
    actions = target.queryAction() if target is not None else None
    for index in range(actions.nActions if actions else 0):
        if actions.getName(index) == action:
            actions.doAction(index)
            return
    failures.append(f"no action {action} on {role} '{name}'")


def keys_to(screen, *sequence):
    """The keys, once the screen is the active window again."""
    if wait_for("the screen active", lambda: screen.getState().contains(pyatspi.STATE_ACTIVE)):
        keys(*sequence)


def keys(*sequence):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *sequence], check=True, timeout=WAIT_S)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "20", text], check=True, timeout=WAIT_S)


def answer_box(title, text, buttons, answer):
    """The message box of that title: its text and buttons found by name, then answered."""
    box = wait_for(f"the message box '{title}'", lambda: window(title))
    if box is None:
        return
    check_controls(title, box, {("label", text)} | {("push button", button) for button in buttons})
    act(box, "push button", answer, "Press")
    wait_for(f"the message box '{title}' to close", lambda: window(title) is None)


def checked(item):
    return item is not None and item.getState().contains(pyatspi.STATE_CHECKED)


def count_announcements(announced):
    """Records the counts the busy window's label announces by a change of its name."""
    def heard(event):
        try:
            match = COUNT.fullmatch(event.source.name or "")
            parent = event.source.parent
        except GLib.GError:  # of a window gone meanwhile
            return
        if match and parent is not None and parent.name == BUSY:
            count = int(match.group(1).replace(".", ""))
            if not announced or announced[-1] != count:
                announced.append(count)
    pyatspi.Registry.registerEventListener(heard, "object:property-change:accessible-name")


def run(relay, work):
    screen = wait_for("the screen in the accessibility tree", lambda: window(SCREEN))
    if screen is None:
        return
    check_controls(SCREEN, screen, SCREEN_CONTROLS)

    keys_to(screen, "alt+c")  # an empty screen: the first check fails
    answer_box("Erro", "Idioma deve ser informado.", {"OK"}, "OK")

    act(screen, "radio button", "Lista", "SetFocus")
    keys_to(screen, "space", "F9")
    picker = wait_for("the table picker", lambda: window(PICKER))
    if picker is None:
        return
    check_controls(PICKER, picker, PICKER_CONTROLS)
    act(picker, "push button", "Marcar todos", "Press")
    wait_for("the rows checked", lambda: checked(control(picker, "list item", "UNIDADE")))
    act(picker, "push button", "OK", "Press")
    wait_for("the table picker to close", lambda: window(PICKER) is None)

    # Date, time, directory and language, typed as a person types them.
    act(screen, "text", "Itens alterados a partir de:", "SetFocus")
    keys_to(screen, "Home")
    type_text("01012025")
    keys("Tab")
    type_text("0000")
    keys("Tab")
    type_text(os.path.join(work, "saida"))
    keys("Tab")
    type_text("E")

    announced = []
    count_announcements(announced)
    relay.slow = True
    keys_to(screen, "alt+c")
    busy = wait_for("the busy window", lambda: window(BUSY))
    if busy is not None:
        check_controls(BUSY, busy, BUSY_CONTROLS)
    wait_for("two announced counts", lambda: len(announced) >= 2)
    relay.slow = False
    if announced != sorted(announced):
        failures.append(f"the counts announced went down: {announced}")
    answer_box("Informação", "Arquivo gerado com sucesso.", {"OK"}, "OK")

    keys_to(screen, "alt+c")  # the same file again
    answer_box("Confirmação", "Deseja sobrepor o arquivo já existente?", {"Sim", "Não"}, "Não")


def main():
    bin_dir, server, work = sys.argv[1:4]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("ended from outside"))
    relay = Relay(server)
    host = start_host(bin_dir, relay.address, work)
    try:
        run(relay, work)
    finally:
        host.terminate()
        try:
            host.wait(WAIT_S)
        except subprocess.TimeoutExpired:
            host.kill()
    for failure in failures:
        print(failure)
    sys.exit(1 if failures else 0)


main()
