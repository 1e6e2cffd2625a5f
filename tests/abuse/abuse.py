#!/usr/bin/env python3
"""The whole program under abuse: hostile messages, random keys, a full disk and kills.

    abuse.py --bin DIR [--quick] [--seed N] [--only hostile,monkey,disk,kills] [--keep]
             [--messages N] [--keys N] [--kills N] [--disk N]

Every stage is seeded (the seed is printed) and waits for nothing without a bound. At the end a
table says what was tried and how many faults were found; the exit status is 1 when there was
any fault, 0 otherwise.

The run lives in a namespace of its own when user namespaces are available (a private loopback
network, so that the WAP gateway's fixed ports never meet another program's, and a mount
namespace for the small file system of the full-disk stage). Without them the stages that need
them say so and are skipped.
"""
import argparse
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
NUMBER_A = "+15550100"
NUMBER_B = "+15550101"
STORE = os.path.join("My Documents", "UAContents")
UI_KEY = "\\SOFTWARE\\Corvane\\Corvane MMS UA"


class Faults:
    def __init__(self):
        self.items = []

    def add(self, stage, what, detail=""):
        self.items.append((stage, what))
        print("FAULT [%s] %s" % (stage, what), flush=True)
        if detail:
            print("  " + detail.strip().replace("\n", "\n  ")[-6000:], flush=True)


class Run:
    """Programs, folders and the processes started for one run."""

    def __init__(self, args):
        self.bin = os.path.abspath(args.bin)
        self.work = tempfile.mkdtemp(prefix="tessera-abuse-")
        self.keep = args.keep
        self.quick = args.quick
        self.faults = Faults()
        self.procs = []
        self.table = {}
        self.env = dict(os.environ)
        self.env.update({
            "TESSERA_DISPLAY": "headless", "TESSERA_AUDIO": "null", "TESSERA_PUSHROUTER_AUTOSTART": "0",
            "ASAN_OPTIONS": self.env.get("ASAN_OPTIONS", "detect_leaks=1") + ":abort_on_error=0",
            "LSAN_OPTIONS": "suppressions=" + os.path.join(HERE, "lsan.supp"),
            "UBSAN_OPTIONS": self.env.get("UBSAN_OPTIONS", "halt_on_error=1:print_stacktrace=1"),
        })

    def tool(self, name):
        return os.path.join(self.bin, name)

    def run(self, argv, root=None, timeout=60, env=None, input_bytes=None):
        """(returncode, output); returncode None on time-out (the process is killed)."""
        e = dict(self.env)
        if root:
            e["TESSERA_ROOT"] = root
        if env:
            e.update(env)
        try:
            p = subprocess.run(argv, env=e, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                               input=input_bytes, start_new_session=True)
            return p.returncode, p.stdout.decode("utf-8", "replace")
        except subprocess.TimeoutExpired as t:
            return None, (t.stdout or b"").decode("utf-8", "replace")

    def spawn(self, argv, log, root=None, env=None):
        e = dict(self.env)
        if root:
            e["TESSERA_ROOT"] = root
        if env:
            e.update(env)
        out = open(log, "wb")
        p = subprocess.Popen(argv, env=e, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                             start_new_session=True)
        p.log = log
        self.procs.append(p)
        return p

    def stop(self, p, sig=signal.SIGTERM, wait=20):
        if p.poll() is None:
            try:
                p.send_signal(sig)
                p.wait(wait)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        if p in self.procs:
            self.procs.remove(p)
        return p.returncode

    def close(self):
        for p in list(self.procs):
            self.stop(p, wait=5)
        if not self.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        else:
            print("kept %s" % self.work)

    # ---- device roots ----------------------------------------------------------------

    def reg(self, root, *args):
        rc, out = self.run([self.tool("tessera-reg"), *args], root=root, timeout=30)
        if rc != 0:
            raise RuntimeError("tessera-reg %s: %s" % (" ".join(args), out))

    def make_root(self, name, number, mmsc_port, transport="http", media=None):
        root = os.path.join(self.work, name)
        for sub in ("My Pictures", "My Sounds", "My Videos"):
            os.makedirs(os.path.join(root, "My Documents", sub), exist_ok=True)
        self.reg(root, "set", "\\Platform\\Phone", "OwnNumber", "sz", number)
        self.reg(root, "set", UI_KEY + "\\Config\\UI\\SizeLimit", "SendDefault", "dword", "300000")
        self.reg(root, "set", UI_KEY + "\\Config\\UI\\SizeLimit", "RecvDefault", "dword", "4000000")
        self.reg(root, "set", UI_KEY + "\\Config\\UI\\TryLimit", "TryDefault", "dword", "3")
        self.set_profile(root, number, mmsc_port, transport)
        if media:
            copy_media(media, root)
        return root

    def set_profile(self, root, number, mmsc_port, transport):
        url = "http://127.0.0.1:%d/mms/%s" % (mmsc_port, number)
        rc, out = self.run([self.tool("mm1tool"), "profile", "list"], root=root)
        index = None
        for line in out.splitlines():
            if 'name="Abuse"' in line:
                index = line.split()[0].rstrip("*")
        opts = ["--name", "Abuse", "--mmsc", url, "--default"]
        if transport == "http":
            opts += ["--transport", "http"]
        else:
            opts += ["--transport", "wsp", "--gateway", "127.0.0.1", "--port", "9201"]
        argv = [self.tool("mm1tool"), "profile"] + (["update", index] if index else ["add"]) + opts
        rc, out = self.run(argv, root=root)
        if rc != 0:
            raise RuntimeError("mm1tool profile: %s" % out)

    def start_mmsc(self, pushes, name="mmsc"):
        log = os.path.join(self.work, name + ".log")
        argv = [self.tool("mmsc-lite"), "--port", "0", "--dir", os.path.join(self.work, name)]
        for number, port in pushes.items():
            argv += ["--push", "%s=127.0.0.1:%d" % (number, port)]
        p = self.spawn(argv, log)
        port = wait_for(lambda: read_ready(log), 20)
        if not port:
            raise RuntimeError("mmsc-lite did not start: " + read(log))
        p.port = port
        return p


def read(path, binary=False):
    try:
        with open(path, "rb" if binary else "r", errors=None if binary else "replace") as f:
            return f.read()
    except OSError:
        return b"" if binary else ""


def read_ready(log):
    for line in read(log).splitlines():
        if line.startswith("ready "):
            return int(line.split()[1])
    return None


def wait_for(probe, seconds, step=0.05):
    end = time.monotonic() + seconds
    while True:
        v = probe()
        if v or time.monotonic() > end:
            return v
        time.sleep(step)


def copy_media(media, root):
    kinds = {".jpg": "My Pictures", ".gif": "My Pictures", ".png": "My Pictures", ".bmp": "My Pictures",
             ".amr": "My Sounds", ".mid": "My Sounds", ".wav": "My Sounds", ".3gp": "My Videos", ".mp4": "My Videos"}
    for name in sorted(os.listdir(media)):
        sub = kinds.get(os.path.splitext(name)[1].lower())
        if sub:
            shutil.copy(os.path.join(media, name), os.path.join(root, "My Documents", sub, name))


def make_media(folder):
    """A few small real pictures for the messages and the gallery (no outside tools needed)."""
    os.makedirs(folder, exist_ok=True)
    sys.path.insert(0, os.path.join(SOURCE, "tools", "hostile-mms"))
    import importlib.machinery
    import importlib.util
    loader = importlib.machinery.SourceFileLoader("hostile_mms", os.path.join(SOURCE, "tools", "hostile-mms", "hostile-mms"))
    spec = importlib.util.spec_from_loader("hostile_mms", loader)
    hm = importlib.util.module_from_spec(spec)
    loader.exec_module(hm)
    rows = b"".join(b"\x00" + bytes((x * 7 + y * 3) % 256 for x in range(48 * 3)) for y in range(40))
    with open(os.path.join(folder, "Stripes.png"), "wb") as f:
        f.write(hm.png(48, 40, rows=rows))
    with open(os.path.join(folder, "Dot.gif"), "wb") as f:
        f.write(hm.gif(8, 8, frames=3))
    with open(os.path.join(folder, "Square.bmp"), "wb") as f:
        f.write(hm.bmp(4, 4, bits=24, data=b"\x80" * 48))
    with open(os.path.join(folder, "note.txt"), "w") as f:
        f.write("A note for the abuse run.\n")
    return hm


def snapshot(root, skip=()):
    """path -> (size, mtime) of every file under root, but those under `skip` (relative)."""
    out = {}
    for base, dirs, files in os.walk(root):
        rel = os.path.relpath(base, root)
        if any(rel == s or rel.startswith(s + os.sep) for s in skip):
            dirs[:] = []
            continue
        for name in files:
            path = os.path.join(base, name)
            try:
                st = os.lstat(path)
            except OSError:
                continue
            out[os.path.relpath(path, root)] = (st.st_size, st.st_mtime_ns)
    return out


def listing(run, root, folder):
    rc, out = run.run([run.tool("tessera-cli"), "list", folder], root=root, timeout=60)
    if rc != 0:
        return None, out
    ids = []
    for line in out.splitlines():
        fields = line.split("\t")
        if fields and fields[0].isdigit():
            ids.append(int(fields[0]))
    return ids, out


FOLDERS = ("inbox", "outbox", "draft", "sent")


def store_check(run, root, stage, opener=True, timeout=120, orphans_ok=False):
    """Every folder loads; every message listed opens; no message file is orphaned or missing
    (orphans_ok: files left over are counted, not faults)."""
    found = {}
    for folder in FOLDERS:
        ids, out = listing(run, root, folder)
        if ids is None:
            run.faults.add(stage, "folder %s does not load" % folder, out)
            continue
        if "could not be read" in out:
            run.faults.add(stage, "folder %s index damaged" % folder, out)
        found[folder] = ids
    all_ids = [i for ids in found.values() for i in ids]
    if len(set(all_ids)) != len(all_ids):
        run.faults.add(stage, "a message is listed twice", repr(found))
    store = os.path.join(root, STORE)
    orphans, missing = store_files(store, set(all_ids))
    if orphans_ok and orphans:
        print("abuse: %s: %d store files of no listed message left over: %s"
              % (stage, len(orphans), " ".join(sorted(orphans)[:20])), flush=True)
        run.table["left-over files"] = run.table.get("left-over files", 0) + len(orphans)
    for name in ([] if orphans_ok else orphans):
        run.faults.add(stage, "orphaned store file %s" % name)
    for i in missing:
        run.faults.add(stage, "message %d listed without its file" % i)
    if opener and all_ids:
        open_messages(run, root, stage, sorted(all_ids), per_message=timeout)
    return found


def store_files(store, ids):
    """Files of the store that belong to no listed message, and listed messages without files."""
    if not os.path.isdir(store):
        return [], []
    orphans, present = [], set()
    for base, dirs, files in os.walk(store):
        for name in files:
            stem = name.split(".")[0]
            rel = os.path.relpath(os.path.join(base, name), store)
            if stem.isdigit():
                present.add(int(stem))
                if int(stem) not in ids:
                    orphans.append(rel)
    missing = sorted(i for i in ids if i not in present)
    return orphans, missing


def open_messages(run, root, stage, ids, per_message=60, keys=None):
    """Opens each message in the viewer and the contents screen; a crash or hang is a fault."""
    pending = list(ids)
    while pending:
        argv = [run.tool("abuse-open")] + ([] if keys is None else ["--keys", keys]) + [str(i) for i in pending]
        rc, out = run.run(argv, root=root, timeout=per_message * len(pending) + 30)
        done = {int(l.split()[1]) for l in out.splitlines() if l.startswith("done ")}
        started = [int(l.split()[1]) for l in out.splitlines() if l.startswith("open ")]
        for l in out.splitlines():
            if l.startswith("missing "):
                run.faults.add(stage, "message %s is listed but does not open" % l.split()[1])
        for mid in done:
            # The details dialog describes itself between its marks; it must have opened.
            shown = out.split("details %d\n" % mid, 1)[-1].split("end details %d" % mid, 1)[0]
            if 'title="Details"' not in shown:
                run.faults.add(stage, "the details dialog of message %d does not open" % mid, shown[-2000:])
        if rc == 0 or rc == 1:
            return
        if rc == 4:
            run.faults.add(stage, "abuse-open cannot start", out)
            return
        culprit = started[-1] if started and started[-1] not in done else None
        what = "hangs" if rc is None else "crashes (status %s)" % rc
        lines = out.splitlines()
        where = ""
        if culprit is not None and "details %d" % culprit in lines and "end details %d" % culprit not in lines:
            where = " in its details dialog"
        run.faults.add(stage, "opening message %s%s %s" % (culprit, where, what), out[-5000:])
        if culprit is None:
            return
        pending = pending[pending.index(culprit) + 1:]


# ---- the message centre's pushes ---------------------------------------------------------

class PushCatcher:
    """A UDP port standing in for a phone's push router: keeps each push body."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]

    def next(self, timeout):
        self.sock.settimeout(timeout)
        try:
            data, _ = self.sock.recvfrom(65536)
        except socket.timeout:
            return None
        return data[6:]  # TID, PDU type, header length, content type and application id


def post(port, number, pdu, timeout=30):
    """POSTs an m-send-req to mmsc-lite as the phone `number`; the HTTP status."""
    try:
        return post_once(port, number, pdu, timeout)
    except OSError:
        return 0


def post_once(port, number, pdu, timeout):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    head = ("POST /mms/%s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/vnd.wap.mms-message\r\n"
            "Content-Length: %d\r\nConnection: close\r\n\r\n" % (number, len(pdu))).encode()
    s.sendall(head + pdu)
    reply = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        reply += chunk
    s.close()
    try:
        return int(reply.split(b" ", 2)[1])
    except (IndexError, ValueError):
        return 0


SAVE_FOLDERS = [os.path.join("My Documents", f) for f in ("My Pictures", "My Sounds", "My Videos", "Other")]


def saved_part(path):
    """A part the contents screen's Save wrote: a file directly inside one of the save folders."""
    return os.path.dirname(path) in SAVE_FOLDERS or os.path.dirname(path) == "My Documents"


# ---- stage 1: hostile messages -----------------------------------------------------------

def stage_hostile(run, seed, count, hm_media):
    stage = "hostile"
    catcher = PushCatcher()
    mmsc = run.start_mmsc({NUMBER_B: catcher.port}, "mmsc-hostile")
    root = run.make_root("hostile-b", NUMBER_B, mmsc.port)
    out_dir = os.path.join(run.work, "hostile")
    rc, out = run.run([sys.executable, os.path.join(SOURCE, "tools", "hostile-mms", "hostile-mms"), "--seed", str(seed),
                       "--count", str(count), "--out", out_dir, "--media", hm_media] + (["--small"] if run.quick else []),
                      timeout=600)
    print(out.strip(), flush=True)
    if rc != 0:
        run.faults.add(stage, "the generator failed", out)
        return
    tried = 0
    # Files the store owns and the program's own logs may change; nothing else may.
    allowed = (STORE, "Program Files", "run", "registry")
    before = snapshot(root)
    for name in sorted(os.listdir(out_dir)):
        tried += 1
        with open(os.path.join(out_dir, name), "rb") as f:
            pdu = f.read()
        status = post(mmsc.port, NUMBER_A, pdu)
        if status != 200:
            run.faults.add(stage, "%s: the message centre refused it (HTTP %d)" % (name, status))
            continue
        push = catcher.next(20)
        if push is None:
            run.faults.add(stage, "%s: no notification came" % name, read(mmsc.log)[-2000:])
            continue
        note = os.path.join(run.work, "push.bin")
        with open(note, "wb") as f:
            f.write(push)
        rc, out = run.run([run.tool("tessera-cli"), "push", note], root=root, timeout=120)
        if rc is None:
            run.faults.add(stage, "%s: the fetch hangs" % name, out)
            continue
        if rc not in (0, 1) or "ERROR: AddressSanitizer" in out or "runtime error" in out:
            run.faults.add(stage, "%s: the fetch crashes (status %s)" % (name, rc), out)
            continue
        ids = [int(w) for l in out.splitlines() for w in l.split()[-1:] if l.startswith("notification") and w.isdigit()]
        if ids:
            before_open = snapshot(root)
            open_messages(run, root, stage + " " + name, ids, per_message=60)
            changed = [p for p, v in snapshot(root).items() if before_open.get(p) != v and not p.startswith(allowed)
                       and not saved_part(p)]
            for p in changed:
                run.faults.add(stage, "%s: opening it wrote %s" % (name, p))
    after = snapshot(root)
    for p, v in after.items():
        if before.get(p) != v and not p.startswith(allowed) and not saved_part(p):
            run.faults.add(stage, "a message wrote outside the store: %s" % p)
    # Nothing escaped the device root either.
    for p in os.listdir(run.work):
        if p in ("escape.txt", "abs.gif", "u.txt", "enc.txt"):
            run.faults.add(stage, "a part was written outside the device root: %s" % p)
    store_check(run, root, stage, opener=False)
    run.stop(mmsc)
    run.table["messages tried"] = tried


# ---- the local world: WAP gateway, push router ------------------------------------------

def udp_taken(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind(("127.0.0.1", port))
        return False
    except OSError:
        return True
    finally:
        s.close()


def free_tcp_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def start_gateway(run):
    """Kannel's bearerbox and wapbox on loopback (UDP 9200/9201); a reason string when it cannot."""
    if not (os.access("/usr/sbin/bearerbox", os.X_OK) and os.access("/usr/sbin/wapbox", os.X_OK)):
        return "Kannel (bearerbox, wapbox) is not installed"
    if udp_taken(9201):
        return "UDP 9201 is taken (run in a network namespace of its own)"
    logs = os.path.join(run.work, "kannel")
    os.makedirs(logs, exist_ok=True)
    conf = os.path.join(logs, "kannel.conf")
    with open(conf, "w") as f:
        f.write('group = core\nadmin-port = %d\nadmin-interface = "127.0.0.1"\nadmin-password = %s\n'
                'admin-allow-ip = "127.0.0.1"\nwapbox-port = %d\nbox-allow-ip = "127.0.0.1"\n'
                'box-deny-ip = "*.*.*.*"\nwdp-interface-name = "127.0.0.1"\nlog-file = "%s/bearerbox.log"\n'
                'log-level = 1\n\ngroup = wapbox\nbearerbox-host = 127.0.0.1\nlog-file = "%s/wapbox.log"\n'
                'log-level = 1\nsyslog-level = none\nhttp-timeout = 30\n'
                % (free_tcp_port(), os.urandom(8).hex(), free_tcp_port(), logs, logs))
    run.spawn(["/usr/sbin/bearerbox", conf], os.path.join(logs, "bearerbox.out"))
    if not wait_for(lambda: udp_taken(9201), 20):
        return "bearerbox did not start: " + read(os.path.join(logs, "bearerbox.log"))[-1000:]
    run.spawn(["/usr/sbin/wapbox", conf], os.path.join(logs, "wapbox.out"))
    if not wait_for(lambda: "Connected to bearerbox" in read(os.path.join(logs, "wapbox.log")), 20):
        return "wapbox did not connect: " + read(os.path.join(logs, "wapbox.log"))[-1000:]
    return None


def start_router(run, root):
    """The push router of a device root, registered for the program; its UDP port."""
    log = os.path.join(root + ".pushrouter.log")
    run.spawn([run.tool("pushrouter"), "--port", "0"], log, root=root)
    def port():
        for line in read(log).splitlines():
            if "listening on port" in line:
                return int(line.split("listening on port")[1].split()[0])
        return None
    p = wait_for(port, 20)
    if not p:
        raise RuntimeError("the push router did not start: " + read(log))
    run.reg(root, "set", "\\Platform\\Push", "Port", "dword", str(p))
    run.reg(root, "set", UI_KEY, "Corvanemms", "sz", run.tool("tessera"))
    run.run([run.tool("petrel")], root=root, timeout=30)
    return p


class Program:
    """`tessera --headless` on a device root, driven through tessera-drive."""

    def __init__(self, run, root, name):
        self.run, self.root, self.name = run, root, name
        self.log = os.path.join(run.work, name + ".log")
        self.proc = None
        self.starts = 0

    def start(self):
        self.starts += 1
        log = "%s.%d" % (self.log, self.starts)
        self.proc = self.run.spawn([self.run.tool("tessera"), "--headless"], log, root=self.root)
        ok = wait_for(lambda: self.proc.poll() is not None or self.drive("describe", timeout=10)[0] == 0, 60, step=0.2)
        return bool(ok) and self.proc.poll() is None

    def drive(self, *args, timeout=60):
        return self.run.run([self.run.tool("tessera-drive"), "--root", self.root, *args], timeout=timeout)

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def output(self):
        return read(self.proc.log) if self.proc else ""

    def stop(self):
        """Closes it as a user would (SIGTERM); its status, None when it had to be killed."""
        if not self.proc:
            return 0
        rc = self.run.stop(self.proc, signal.SIGTERM, wait=60)
        return rc

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.proc in self.run.procs:
            self.run.procs.remove(self.proc)


# ---- the program's own screens, driven through tessera-drive --------------------------------

TEXT_DISK_FULL = "There is not enough storage space."
TEXT_NOT_DONE = "This could not be done."
TEXT_CANNED_EXISTS = "This text is already in the list."


class Ui:
    """Keys to a running program and what its screen shows."""

    def __init__(self, program):
        self.p = program

    def keys(self, seq):
        rc, out = self.p.drive("keys", seq, timeout=120)
        return rc == 0

    def screen(self):
        rc, out = self.p.drive("describe", timeout=60)
        return out if rc == 0 else ""

    @staticmethod
    def foreground(screen):
        for line in screen.splitlines():
            if line.startswith("foreground "):
                return line
        return ""

    @staticmethod
    def message(screen):
        """The text of the message box in front, or None."""
        for line in screen.splitlines():
            line = line.strip()
            if line.startswith("messagebox ") and ' text="' in line:
                return line.split(' text="', 1)[1].rsplit('"', 1)[0]
        return None

    @staticmethod
    def last_list(screen):
        """(selected index, [row texts]) of the last list on the screen."""
        sel, rows = 0, []
        for line in screen.splitlines():
            t = line.strip()
            if t.startswith("listview "):
                rows = []
                for w in t.split():
                    if w.startswith("sel="):
                        sel = int(w[4:])
            elif t.startswith("row ") and '"' in t:
                rows.append(t.split('"')[1])
        return sel, rows

    def select_row(self, want):
        """Moves the list in front to the first row for which want(text) holds; its index or None."""
        sel, rows = self.last_list(self.screen())
        for i, text in enumerate(rows):
            if want(text):
                if i != sel:
                    self.keys(" ".join(["Down" if i > sel else "Up"] * abs(i - sel)))
                return i
        return None

    def menu(self, label, press=True):
        """Opens the menu and chooses `label` (a trailing * matches any rest); False (the menu closed
        again) when it is missing or grey.
        With press=False the menu stays open and the keys that would choose it are returned."""
        self.keys("SoftRight")
        screen = self.screen()
        items, sel, in_popup = [], 0, False
        for line in screen.splitlines():
            t = line.strip()
            if t.startswith("popup items="):
                in_popup, items = True, []
                sel = int(t.split("sel=")[1].split()[0])
            elif in_popup and t[:1].isdigit() and '"' in t:
                items.append((t.split('"')[1], "grayed" in t.split('"')[-1]))
            elif in_popup and t.startswith("window "):
                in_popup = False
        for i, (text, grey) in enumerate(items):
            if (text == label or (label.endswith("*") and text.startswith(label[:-1]))) and not grey:
                moves = ["Down" if i > sel else "Up"] * abs(i - sel)
                if not press:
                    return " ".join(moves + ["Enter"])
                return self.keys(" ".join(moves + ["Enter"]))
        self.keys("Back")
        return False

    def home(self):
        """Back to the main list, answering questions on the way (changes are not saved)."""
        for _ in range(16):
            screen = self.screen()
            fg = self.foreground(screen)
            if "RIR_WndCls_MainFrme" in fg:
                return True
            text = self.message(screen)
            if text is not None:
                self.keys("SoftRight" if "?" in text else "SoftLeft")
            elif "PopupMenu" in fg:
                self.keys("Back")
            elif "focus class=EDIT id=1014" in screen:
                # The text editor: Back erases, only its menu's Close leaves.
                if not self.menu("Close"):
                    self.keys("Back")
            else:
                self.keys("Back")
        return False

    def open_main_row(self, prefix):
        """From the main list, the row whose text starts with `prefix` ("1 New message", "3 Drafts")."""
        if not self.home():
            return False
        if self.select_row(lambda t: t.startswith(prefix)) is None:
            return False
        return self.keys("Enter")


def sanitizer_report(text):
    for mark in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "UndefinedBehaviorSanitizer"):
        if mark in text:
            return text[text.index(mark) - 200 if text.index(mark) > 200 else 0:][:6000]
    return None


def message_files(media, rng):
    """What one slide can hold: a picture and a text, or one of them."""
    pictures = [os.path.join(media, f) for f in sorted(os.listdir(media)) if not f.endswith(".txt")]
    note = os.path.join(media, "note.txt")
    return rng.choice([[rng.choice(pictures), note], [rng.choice(pictures)], [note]])


def seed_messages(run, root, media, rng, count):
    """Drafts of random media made with tessera-cli; their ids."""
    made = []
    for i in range(count):
        chosen = message_files(media, rng)
        rc, out = run.run([run.tool("tessera-cli"), "compose", "--to", NUMBER_B + "/TYPE=PLMN", "--subject",
                           "seeded %d" % i] + chosen, root=root, timeout=60)
        if rc == 0 and out.split("\n")[0].strip().isdigit():
            made.append(int(out.split("\n")[0]))
    return made


# ---- stage 2: random keys ----------------------------------------------------------------

MONKEY_KEYS = (["SoftLeft"] * 5 + ["SoftRight"] * 5 + ["Up"] * 4 + ["Down"] * 6 + ["Left"] * 2 + ["Right"] * 2 +
               ["Enter"] * 6 + ["Back"] * 3 + [str(d) for d in range(10)] + ["Star", "Hash"])


def stage_monkey(run, seed, keys, media):
    stage = "monkey"
    rng = random.Random("monkey/%d" % seed)
    why = start_gateway(run)
    transport = "wsp"
    if why:
        print("abuse: monkey without the WAP gateway (%s): the engine talks HTTP to the centre" % why, flush=True)
        run.table["skipped: gateway"] = why[:40]
        transport = "http"
    root_a = os.path.join(run.work, "monkey-a")
    os.makedirs(root_a, exist_ok=True)
    router_a = start_router(run, root_a)
    mmsc = run.start_mmsc({NUMBER_A: router_a}, "mmsc-monkey")
    run.make_root("monkey-a", NUMBER_A, mmsc.port, transport=transport, media=media)
    drafts = seed_messages(run, root_a, media, rng, 4)
    if drafts:
        run.run([run.tool("tessera-cli"), "queue", str(drafts[0])], root=root_a, timeout=30)
    # A few messages in the Inbox before the program starts, fetched by the engine.
    hostile = os.path.join(run.work, "monkey-hostile")
    run.run([sys.executable, os.path.join(SOURCE, "tools", "hostile-mms", "hostile-mms"), "--seed", str(seed),
             "--count", "6", "--first", "1000", "--to", NUMBER_A + "/TYPE=PLMN", "--out", hostile], timeout=120)
    incoming = sorted(os.path.join(hostile, f) for f in os.listdir(hostile))
    program = Program(run, root_a, "monkey-tessera")
    if not program.start():
        run.faults.add(stage, "tessera does not start", program.output())
        return
    pressed, batch = 0, 50
    posted = 0
    while pressed < keys:
        n = min(batch, keys - pressed)
        seq = [rng.choice(MONKEY_KEYS) for _ in range(n)]
        rc, out = program.drive("keys", " ".join(seq), timeout=120)
        pressed += n
        if not program.alive():
            report = sanitizer_report(program.output()) or program.output()[-4000:]
            run.faults.add(stage, "tessera died after keys %d..%d (status %s): %s" % (pressed - n, pressed, program.proc.returncode, " ".join(seq)), report)
            if not program.start():
                run.faults.add(stage, "tessera does not start again", program.output())
                return
            continue
        if rc is None:
            run.faults.add(stage, "tessera hangs after keys %d..%d: %s" % (pressed - n, pressed, " ".join(seq)))
            program.kill()
            if not program.start():
                return
            continue
        # Now and then a message arrives while the keys go on.
        if pressed // 1000 > posted and incoming:
            posted += 1
            with open(incoming[posted % len(incoming)], "rb") as f:
                post(mmsc.port, NUMBER_B, f.read())
    run.table["keys pressed"] = run.table.get("keys pressed", 0) + pressed
    rc = program.stop()
    report = sanitizer_report(program.output())
    if report:
        run.faults.add(stage, "sanitizer report at exit", report)
    elif rc not in (0, -signal.SIGTERM, 128 + signal.SIGTERM):
        run.faults.add(stage, "tessera ended with status %s on SIGTERM" % rc, program.output()[-3000:])
    store_check(run, root_a, stage)
    run.stop(mmsc)


# ---- what was stored -----------------------------------------------------------------------

def stored(run, root):
    """folder -> {id: size} as tessera-cli lists them; None when a folder does not load."""
    out = {}
    for folder in FOLDERS:
        rc, text = run.run([run.tool("tessera-cli"), "list", folder], root=root, timeout=60)
        if rc != 0:
            return None
        out[folder] = {}
        for line in text.splitlines():
            f = line.split("\t")
            if len(f) > 3 and f[0].isdigit():
                out[folder][int(f[0])] = int(f[3])
    return out


def lost(before, after, moved_ok=(), gone_ok=()):
    """Messages stored before that are gone after (but those allowed to move or go)."""
    missing = []
    for folder, msgs in before.items():
        for mid, size in msgs.items():
            if mid in gone_ok:
                continue
            if mid in after.get(folder, {}):
                continue
            if mid in moved_ok and any(mid in m for m in after.values()):
                continue
            missing.append("%s/%d" % (folder, mid))
    return missing


# ---- stage 4: kills --------------------------------------------------------------------------

def stage_kills(run, seed, kills, media):
    stage = "kills"
    rng = random.Random("kills/%d" % seed)
    catcher = PushCatcher()
    mmsc = run.start_mmsc({NUMBER_A: catcher.port}, "mmsc-kills")
    root = run.make_root("kills-a", NUMBER_A, mmsc.port, media=media)
    seed_messages(run, root, media, rng, 3)
    hostile = os.path.join(run.work, "kills-hostile")
    run.run([sys.executable, os.path.join(SOURCE, "tools", "hostile-mms", "hostile-mms"), "--seed", str(seed),
             "--count", "16", "--first", "2000", "--to", NUMBER_A + "/TYPE=PLMN", "--out", hostile], timeout=120)
    incoming = sorted(os.path.join(hostile, f) for f in os.listdir(hostile))
    # Normal messages too: the fetch of a small message is quick, a kill must still find it.
    files = [os.path.join(media, f) for f in sorted(os.listdir(media))]
    points = 0
    ops = ["save", "send", "fetch", "delete", "program-fetch", "program-send", "program-delete-all", "program-canned"]
    for n in range(kills):
        op = ops[n % len(ops)] if n < len(ops) else rng.choice(ops)
        before = stored(run, root)
        if before is None:
            run.faults.add(stage, "the store does not load before kill %d" % n)
            break
        delay = rng.uniform(0.0, 1.5)
        moved, gone = (), ()
        if op == "save":
            argv = [run.tool("tessera-cli"), "compose", "--to", NUMBER_B, "--subject", "kill %d" % n] + message_files(media, rng)
        elif op == "send":
            drafts = sorted(before["draft"]) + sorted(before["outbox"])
            if not drafts:
                seed_messages(run, root, media, rng, 1)
                continue
            mid = rng.choice(drafts)
            moved = (mid,)
            argv = [run.tool("tessera-cli"), "send", str(mid)]
        elif op == "fetch":
            with open(rng.choice(incoming), "rb") as f:
                post(mmsc.port, NUMBER_B, f.read())
            push = catcher.next(20)
            if push is None:
                run.faults.add(stage, "no notification came for kill %d" % n)
                continue
            note = os.path.join(run.work, "kill-push.bin")
            with open(note, "wb") as f:
                f.write(push)
            argv = [run.tool("tessera-cli"), "push", note]
        elif op == "delete":
            everything = [(f, i) for f in FOLDERS for i in before[f]]
            if not everything:
                continue
            folder, mid = rng.choice(everything)
            gone = (mid,)
            argv = [run.tool("tessera-cli"), "delete", folder, str(mid)]
        else:
            argv = None
        if argv:
            e = dict(run.env, TESSERA_ROOT=root)
            p = subprocess.Popen(argv, env=e, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
            try:
                p.wait(delay)
            except subprocess.TimeoutExpired:
                p.kill()
            out = p.communicate()[0].decode("utf-8", "replace")
            report = sanitizer_report(out)
            if report:
                run.faults.add(stage, "%s: sanitizer report before the kill" % op, report)
        elif op in ("program-delete-all", "program-canned"):
            # The program killed while its folder view deletes a whole folder, or while its text
            # editor writes the canned texts: the last key goes in and the kill follows it.
            program = Program(run, root, "kills-tessera-%d" % n)
            if not program.start():
                run.faults.add(stage, "tessera does not start for kill %d" % n, program.output())
                program.kill()
                continue
            ui = Ui(program)
            texts_before = canned_texts(root)
            moved = tuple(before["outbox"])  # its engine may send them meanwhile
            last = None
            if op == "program-delete-all":
                rows = [(i, f) for i, f in enumerate(("inbox", "draft", "outbox", "sent")) if before[f]]
                if rows:
                    row, folder = rng.choice(rows)
                    if ui.open_main_row("%d " % (row + 2)) and ui.menu("Delete all"):
                        if "Delete all messages" in (ui.message(ui.screen()) or ""):
                            last = "SoftLeft"
                            gone = tuple(before[folder])
            elif ui.open_main_row("1 ") and "Rir_WndCls_ComposerFrame" in ui.foreground(ui.screen()):
                ui.keys("Down Enter")
                if wait_for(lambda: "EDIT id=1014" in ui.screen(), 10, step=0.2):
                    ui.keys(" ".join("%d%d" % (n, rng.randrange(1000))))
                    last = ui.menu("Save as canned text", press=False)
            if last:
                driver = subprocess.Popen([run.tool("tessera-drive"), "--root", root, "keys", last],
                                          env=dict(run.env, TESSERA_ROOT=root), stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, start_new_session=True)
                time.sleep(rng.uniform(0.0, 0.3))
            else:
                driver = None
            program.kill()
            if driver:
                try:
                    driver.wait(30)
                except subprocess.TimeoutExpired:
                    driver.kill()
                    driver.wait()
            report = sanitizer_report(program.output())
            if report:
                run.faults.add(stage, "%s: sanitizer report before the kill" % op, report)
            if not last:
                continue
            texts_after = canned_texts(root)
            if [t for t in texts_before if t not in texts_after]:
                run.faults.add(stage, "kill %d during %s: canned texts lost (%d before, %d after)"
                               % (n, op, len(texts_before), len(texts_after)))
        else:
            # The program itself, killed while its engine sends what waits in the Outbox or
            # fetches what was announced.
            program = Program(run, root, "kills-tessera-%d" % n)
            if op == "program-send":
                drafts = sorted(before["draft"])
                if drafts:
                    run.run([run.tool("tessera-cli"), "queue", str(drafts[0])], root=root, timeout=30)
                    moved = (drafts[0],)
                before = stored(run, root)
            program.start()
            if op == "program-fetch":
                with open(rng.choice(incoming), "rb") as f:
                    post(mmsc.port, NUMBER_B, f.read())
                push = catcher.next(20)
                if push:
                    # As the push router would hand it to the running program.
                    note = os.path.join(run.work, "kill-push.bin")
                    with open(note, "wb") as f:
                        f.write(push)
            time.sleep(delay)
            program.kill()
            report = sanitizer_report(program.output())
            if report:
                run.faults.add(stage, "%s: sanitizer report before the kill" % op, report)
        points += 1
        after = stored(run, root)
        if after is None:
            run.faults.add(stage, "kill %d during %s: a folder does not load afterwards" % (n, op))
            continue
        missing = lost(before, after, moved_ok=moved, gone_ok=gone)
        if missing:
            run.faults.add(stage, "kill %d during %s (after %.2f s): lost %s" % (n, op, delay, ", ".join(missing)))
        ids = set(i for f in after.values() for i in f)
        orphans, absent = store_files(os.path.join(root, STORE), ids)
        for i in absent:
            run.faults.add(stage, "kill %d during %s: message %d listed without its file" % (n, op, i))
    run.table["kill points"] = run.table.get("kill points", 0) + points
    # A restart of the program resumes what the kills interrupted: the Outbox is sent.
    outbox_before = stored(run, root) or {"outbox": {}}
    program = Program(run, root, "kills-restart")
    if program.start():
        pending = set(outbox_before["outbox"])
        if pending:
            wait_for(lambda: not (set((stored_quiet(run, root) or {}).get("outbox", {})) & pending), 90, step=2)
        program.stop()
        report = sanitizer_report(program.output())
        if report:
            run.faults.add(stage, "sanitizer report in the restarted program", report)
    else:
        run.faults.add(stage, "tessera does not start after the kills", program.output())
    after = stored(run, root)
    if after is not None and outbox_before["outbox"]:
        left = set(after["outbox"]) & set(outbox_before["outbox"])
        if left:
            run.faults.add(stage, "the Outbox pass did not resume the interrupted sends of %s" % sorted(left))
    # A delete killed between the index write and the files' removal leaves the files of a
    # message no folder lists (never a listed message without them): counted, not a fault.
    store_check(run, root, stage, orphans_ok=True)
    run.stop(mmsc)


def stored_quiet(run, root):
    try:
        return stored(run, root)
    except Exception:
        return None


# ---- stage 3: full disk ----------------------------------------------------------------------

def stage_disk(run, seed, points_wanted, media):
    stage = "disk"
    if not os.environ.get("TESSERA_ABUSE_NS"):
        print("abuse: disk skipped: user namespaces are not available (unshare -Urm fails)", flush=True)
        run.table["skipped: disk"] = "no userns"
        return
    rng = random.Random("disk/%d" % seed)
    mount = os.path.join(run.work, "small")
    os.makedirs(mount)
    rc = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=3m", "tmpfs", mount]).returncode
    if rc != 0:
        print("abuse: disk skipped: cannot mount a tmpfs in the namespace", flush=True)
        run.table["skipped: disk"] = "no tmpfs"
        return
    try:
        disk_points(run, stage, rng, mount, points_wanted, media)
    finally:
        subprocess.run(["umount", "-l", mount])


def disk_points(run, stage, rng, mount, points_wanted, media):
    catcher = PushCatcher()
    mmsc = run.start_mmsc({NUMBER_A: catcher.port}, "mmsc-disk")
    root = os.path.join(mount, "a")
    run.work_saved = run.work
    # The device root lives on the small file system.
    os.makedirs(root)
    for sub in ("My Pictures", "My Sounds", "My Videos"):
        os.makedirs(os.path.join(root, "My Documents", sub), exist_ok=True)
    run.reg(root, "set", "\\Platform\\Phone", "OwnNumber", "sz", NUMBER_A)
    run.reg(root, "set", UI_KEY + "\\Config\\UI\\SizeLimit", "SendDefault", "dword", "300000")
    run.reg(root, "set", UI_KEY + "\\Config\\UI\\SizeLimit", "RecvDefault", "dword", "4000000")
    run.reg(root, "set", UI_KEY + "\\Config\\UI\\TryLimit", "TryDefault", "dword", "3")
    run.set_profile(root, NUMBER_A, mmsc.port, "http")
    files = [os.path.join(media, f) for f in sorted(os.listdir(media))]
    # Incoming messages a few tens of kilobytes each.
    hostile = os.path.join(run.work, "disk-hostile")
    run.run([sys.executable, os.path.join(SOURCE, "tools", "hostile-mms", "hostile-mms"), "--seed", "7",
             "--count", "16", "--first", "3000", "--to", NUMBER_A + "/TYPE=PLMN",
             "--out", hostile], timeout=120)
    incoming = sorted(os.path.join(hostile, f) for f in os.listdir(hostile))
    points = 0
    ops = 0
    ballast = os.path.join(mount, "ballast")
    step = 0
    while points < points_wanted and ops < points_wanted * 40:
        ops += 1
        before = stored(run, root)
        if before is None:
            run.faults.add(stage, "the store does not load on the full disk (op %d)" % ops)
            break
        op = rng.choice(["save", "receive", "copy"])
        if op == "save":
            argv = [run.tool("tessera-cli"), "compose", "--to", NUMBER_B, "--subject", "disk %d" % ops] + message_files(media, rng)
        elif op == "receive":
            with open(rng.choice(incoming), "rb") as f:
                post(mmsc.port, NUMBER_B, f.read())
            push = catcher.next(20)
            if push is None:
                continue
            note = os.path.join(run.work, "disk-push.bin")
            with open(note, "wb") as f:
                f.write(push)
            argv = [run.tool("tessera-cli"), "push", note]
        else:
            # A copy of a stored part into the documents (what the contents screen's save does).
            src = rng.choice(files)
            argv = ["cp", src, os.path.join(root, "My Documents", "My Pictures", "copy%d-%s" % (ops, os.path.basename(src)))]
        rc, out = run.run(argv, root=root, timeout=120)
        report = sanitizer_report(out)
        if report or rc is None or (rc not in (0, 1) and argv[0] != "cp"):
            run.faults.add(stage, "%s on a full disk: %s" % (op, "hangs" if rc is None else "status %s" % rc), report or out[-3000:])
        if rc != 0:
            points += 1
            if argv[0] != "cp" and not out.strip():
                run.faults.add(stage, "%s failed on a full disk without saying why" % op)
        after = stored(run, root)
        if after is None:
            run.faults.add(stage, "a folder does not load after %s on a full disk" % op)
            break
        missing = lost(before, after)
        if missing:
            run.faults.add(stage, "%s on a full disk lost %s" % (op, ", ".join(missing)))
        # Leave only a little room for the next operation: nothing, a few blocks, or about a message.
        step += 1
        fill_disk(mount, ballast, rng.choice([0, 4096, 32768, 131072]))
    # The same through the program's own screens, with its engine fetching what arrives.
    try:
        os.remove(ballast)
    except OSError:
        pass
    router = start_router(run, root)
    mmsc_ui = run.start_mmsc({NUMBER_A: router}, "mmsc-disk-ui")
    run.disk_incoming = incoming
    points += disk_through_screens(run, stage, rng, mount, root, points_wanted, lambda: mmsc_ui.port)
    run.stop(mmsc_ui)
    fill_disk(mount, ballast, 0)
    run.table["disk-full points"] = run.table.get("disk-full points", 0) + points
    # Everything still stored opens, on the full disk, and the program starts on it.
    store_check(run, root, stage)
    rc, out = run.run([run.tool("tessera"), "--headless", "--describe"], root=root, timeout=120)
    if rc != 0 or sanitizer_report(out) or "Inbox" not in out:
        run.faults.add(stage, "tessera does not start on the full disk (status %s)" % rc, out[-3000:])
    try:
        os.remove(ballast)
    except OSError:
        pass
    run.stop(mmsc)


def canned_texts(root):
    """The canned texts the program keeps (a mark byte, then length-prefixed UTF-16 texts)."""
    data = read(os.path.join(root, "My Documents", "CannedText.txt"), binary=True)
    texts, at = [], 1
    while len(data) - at >= 4:
        n = int.from_bytes(data[at:at + 4], "little")
        at += 4
        if n * 2 > len(data) - at:
            break
        texts.append(data[at:at + 2 * n].decode("utf-16-le", "replace"))
        at += 2 * n
    return texts


def fill_disk(mount, ballast, room):
    """Leaves about `room` bytes free on the small file system."""
    st = os.statvfs(mount)
    extra = st.f_bavail * st.f_frsize - room
    try:
        with open(ballast, "ab") as f:
            if extra > 0:
                f.write(b"\0" * extra)
            elif extra < 0:
                f.truncate(max(0, os.path.getsize(ballast) + extra))
    except OSError:
        pass


def disk_through_screens(run, stage, rng, mount, root, points_wanted, mmsc_port_for):
    """The program itself on the full disk: it saves in the composer, saves canned texts, saves a
    part from the contents screen and fetches what arrives. Each either completes or shows its
    message; nothing stored before is lost. Returns the disk-full points (messages shown)."""
    program = Program(run, root, "disk-tessera")
    if not program.start():
        run.faults.add(stage, "tessera does not start on the small disk", program.output())
        return 0
    ui = Ui(program)
    ballast = os.path.join(mount, "ballast-ui")
    points, ops, tried = 0, 0, set()
    shown = {}
    pictures = os.path.join(root, "My Documents", "My Pictures")
    while (points < points_wanted or len(tried) < 4) and ops < points_wanted * 12 and program.alive():
        ops += 1
        # Room to open the screens; the disk fills up just before the step that writes.
        fill_disk(mount, ballast, 1 << 20)
        before = stored(run, root)
        if before is None:
            run.faults.add(stage, "the store does not load on the full disk (screen op %d)" % ops)
            break
        op = rng.choice(["save", "canned", "copy", "receive"])
        tried.add(op)
        full = lambda: fill_disk(mount, ballast, rng.choice([0, 0, 1024, 8192]))
        text, reported, silent = None, None, None
        if op in ("save", "canned"):
            word = "%d%d" % (ops, rng.randrange(10, 99))
            if not ui.open_main_row("1 "):
                run.faults.add(stage, "screen %s: the main list does not come back" % op, ui.screen())
                continue
            screen = ui.screen()
            if "Rir_WndCls_ComposerFrame" not in ui.foreground(screen):
                # No room for the new message's draft: the main list says so.
                text = ui.message(screen)
                if text in (TEXT_DISK_FULL, TEXT_NOT_DONE):
                    reported = text
                    ui.keys("SoftLeft")
                else:
                    silent = "the composer did not open"
            else:
                # The text editor opens from the text field; the digits go to it once it is up.
                ui.keys("Down Enter")
                if not wait_for(lambda: "EDIT id=1014" in ui.screen(), 10, step=0.2):
                    run.faults.add(stage, "screen %s: the text editor does not open" % op, ui.screen())
                    op = "none"
                ui.keys(" ".join(word))
            if reported or silent or op == "none":
                pass
            elif op == "canned":
                before_texts = canned_texts(root)
                full()
                ui.menu("Save as canned text")
                text = ui.message(ui.screen())
                after_texts = canned_texts(root)
                if text == TEXT_NOT_DONE:
                    reported = text
                elif text is None and word not in after_texts:
                    silent = "the canned text was not saved"
                if [t for t in before_texts if t not in after_texts]:
                    run.faults.add(stage, "saving a canned text on a full disk lost earlier ones")
                if text is not None:
                    ui.keys("SoftLeft")
            else:
                ui.keys("SoftLeft")
                full()
                text = ui.message(ui.screen())
                if text is None and ui.menu("Save"):
                    text = ui.message(ui.screen())
                after = stored_quiet(run, root) or {"draft": {}}
                new = [i for i, size in after["draft"].items() if i not in before["draft"] and size > 0]
                if text in (TEXT_DISK_FULL, TEXT_NOT_DONE):
                    reported = text
                elif text is None and not new:
                    silent = "the composer saved nothing"
        elif op == "copy":
            if not ui.open_main_row("3 "):
                continue
            drafts = ui.last_list(ui.screen())[1]
            if not drafts:
                ui.home()
                continue
            ui.select_row(lambda t, pick=rng.randrange(len(drafts)), rows=drafts: t == rows[pick])
            if not ui.menu("Message contents"):
                ui.home()
                continue
            part = ui.select_row(lambda t: os.path.splitext(t)[1].lower() in (".png", ".gif", ".bmp", ".jpg"))
            if part is None:
                ui.home()
                continue
            files_before = set(os.listdir(pictures))
            full()
            # A picture's Save is in the menu ("Save picture"); a text's is the right key.
            if not ui.menu("Save*"):
                ui.home()
                continue
            text = ui.message(ui.screen())
            if text and text.startswith("A file with this name"):
                ui.keys("SoftLeft")
                text = ui.message(ui.screen())
            if text == TEXT_DISK_FULL:
                reported = text
            elif text is None and set(os.listdir(pictures)) == files_before:
                silent = "the contents screen saved no copy"
            if text is not None:
                ui.keys("SoftLeft")
        else:
            port = mmsc_port_for()
            if not port:
                continue
            incoming = run.disk_incoming
            full()
            with open(rng.choice(incoming), "rb") as f:
                post(port, NUMBER_A, f.read())
            # The engine fetches in the background; what it stored (or shows) is looked at once
            # the Inbox changed or a while has passed.
            wait_for(lambda: set((stored_quiet(run, root) or {}).get("inbox", {})) != set(before["inbox"]), 20, step=1)
            text = ui.message(ui.screen())
            if text is not None:
                reported = text
                ui.keys("SoftLeft")
        if text is not None:
            shown[text] = shown.get(text, 0) + 1
        if text is not None and text not in (TEXT_DISK_FULL, TEXT_NOT_DONE, TEXT_CANNED_EXISTS) and op != "receive":
            run.faults.add(stage, "screen %s on a full disk shows %r" % (op, text))
        if silent:
            run.faults.add(stage, "screen %s on a full disk failed without saying so: %s" % (op, silent))
        if reported:
            points += 1
        ui.home()
        if not program.alive():
            run.faults.add(stage, "tessera died (status %s) during screen %s on a full disk" % (program.proc.returncode, op),
                           (sanitizer_report(program.output()) or program.output()[-3000:]) + "\n--- push router:\n" +
                           read(root + ".pushrouter.log")[-2000:])
            break
        after = stored(run, root)
        if after is None:
            run.faults.add(stage, "a folder does not load after screen %s on a full disk" % op)
            break
        missing = lost(before, after)
        if missing:
            run.faults.add(stage, "screen %s on a full disk lost %s" % (op, ", ".join(missing)))
    for text, count in sorted(shown.items()):
        print("abuse: disk: the program showed %r %d times" % (text, count), flush=True)
    try:
        os.remove(ballast)
    except OSError:
        pass
    rc = program.stop()
    report = sanitizer_report(program.output())
    if report:
        run.faults.add(stage, "sanitizer report in tessera on the full disk", report)
    elif rc not in (0, -signal.SIGTERM, 128 + signal.SIGTERM):
        run.faults.add(stage, "tessera ended with status %s on the full disk" % rc, program.output()[-3000:])
    return points


# ---- main --------------------------------------------------------------------------------

def in_namespace(argv):
    """Re-runs this script in a user, network and mount namespace; None when unavailable."""
    if os.environ.get("TESSERA_ABUSE_NS"):
        return None
    probe = subprocess.run(["unshare", "-Urnm", "true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if probe.returncode != 0:
        return None
    env = dict(os.environ, TESSERA_ABUSE_NS="1")
    child = subprocess.Popen(["unshare", "-Urnm", sys.executable] + argv, env=env)
    # Stopped from outside (a test's time-out): the run inside stops too, and cleans up.
    def forward(signum, frame):
        child.send_signal(signal.SIGTERM)
    signal.signal(signal.SIGTERM, forward)
    signal.signal(signal.SIGINT, forward)
    return child.wait()


def loopback_up():
    subprocess.run(["ip", "link", "set", "lo", "up"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--only", default="hostile,monkey,disk,kills")
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("--messages", type=int, default=None)
    ap.add_argument("--keys", type=int, default=None)
    ap.add_argument("--kills", type=int, default=None)
    ap.add_argument("--disk", type=int, default=None)
    ap.add_argument("--no-namespace", action="store_true")
    a = ap.parse_args()
    if a.seed is None:
        a.seed = 2718 if a.quick else random.SystemRandom().randrange(1 << 31)
    if not a.no_namespace:
        rc = in_namespace([os.path.abspath(__file__)] + sys.argv[1:] + ["--seed", str(a.seed)])
        if rc is not None:
            return rc
    if os.environ.get("TESSERA_ABUSE_NS"):
        loopback_up()
    counts = dict(messages=100 if a.quick else 500, keys=2000 if a.quick else 20000, kills=8 if a.quick else 100,
                  disk=2 if a.quick else 12)
    for k in counts:
        if getattr(a, k) is not None:
            counts[k] = getattr(a, k)
    print("abuse: seed %d%s" % (a.seed, " (quick)" if a.quick else ""), flush=True)
    run = Run(a)
    def stop(signum, frame):
        raise KeyboardInterrupt()
    signal.signal(signal.SIGTERM, stop)
    stages = a.only.split(",")
    try:
        media = os.path.join(run.work, "media")
        make_media(media)
        for name in ("hostile", "monkey", "disk", "kills"):
            if name not in stages:
                continue
            fn = globals().get("stage_" + name)
            if fn is None:
                continue
            started = time.monotonic()
            print("abuse: %s ..." % name, flush=True)
            try:
                fn(run, a.seed, counts[{"hostile": "messages", "monkey": "keys", "disk": "disk", "kills": "kills"}[name]], media)
            except Exception as e:  # a harness error is a fault too: it must not pass silently
                run.faults.add(name, "the stage could not run: %r" % e)
            print("abuse: %s took %.0f s" % (name, time.monotonic() - started), flush=True)
    finally:
        run.close()
    rows = [("seed", a.seed), ("messages tried", run.table.get("messages tried", 0)),
            ("keys pressed", run.table.get("keys pressed", 0)), ("kill points", run.table.get("kill points", 0)),
            ("disk-full points", run.table.get("disk-full points", 0)), ("faults", len(run.faults.items))]
    if run.table.get("left-over files"):
        rows.append(("left-over files", run.table["left-over files"]))
    for k, v in run.table.items():
        if k.startswith("skipped"):
            rows.append((k, v))
    print()
    print("| %-18s | %-10s |" % ("what", "count"))
    print("| %s | %s |" % ("-" * 18, "-" * 10))
    for k, v in rows:
        print("| %-18s | %-10s |" % (k, v))
    return 1 if run.faults.items else 0


if __name__ == "__main__":
    sys.exit(main())
