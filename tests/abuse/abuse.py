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
        self.faults = Faults()
        self.procs = []
        self.table = {}
        self.env = dict(os.environ)
        self.env.update({
            "TESSERA_DISPLAY": "headless", "TESSERA_AUDIO": "null", "TESSERA_PUSHROUTER_AUTOSTART": "0",
            "ASAN_OPTIONS": self.env.get("ASAN_OPTIONS", "detect_leaks=1") + ":abort_on_error=0",
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


def store_check(run, root, stage, opener=True, timeout=120):
    """Every folder loads; every message listed opens; no message file is orphaned or missing."""
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
    for name in orphans:
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
        if rc == 0 or rc == 1:
            return
        if rc == 4:
            run.faults.add(stage, "abuse-open cannot start", out)
            return
        culprit = started[-1] if started and started[-1] not in done else None
        what = "hangs" if rc is None else "crashes (status %s)" % rc
        run.faults.add(stage, "opening message %s %s" % (culprit, what), out[-5000:])
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


# ---- stage 1: hostile messages -----------------------------------------------------------

def stage_hostile(run, seed, count, hm_media):
    stage = "hostile"
    catcher = PushCatcher()
    mmsc = run.start_mmsc({NUMBER_B: catcher.port}, "mmsc-hostile")
    root = run.make_root("hostile-b", NUMBER_B, mmsc.port)
    out_dir = os.path.join(run.work, "hostile")
    rc, out = run.run([sys.executable, os.path.join(SOURCE, "tools", "hostile-mms", "hostile-mms"), "--seed", str(seed),
                       "--count", str(count), "--out", out_dir, "--media", hm_media], timeout=600)
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
            open_messages(run, root, stage + " " + name, ids, per_message=90)
            changed = [p for p, v in snapshot(root).items() if before_open.get(p) != v and not p.startswith(allowed)]
            for p in changed:
                run.faults.add(stage, "%s: opening it wrote %s" % (name, p))
    after = snapshot(root)
    for p, v in after.items():
        if before.get(p) != v and not p.startswith(allowed):
            run.faults.add(stage, "a message wrote outside the store: %s" % p)
    # Nothing escaped the device root either.
    for p in os.listdir(run.work):
        if p in ("escape.txt", "abs.gif", "u.txt", "enc.txt"):
            run.faults.add(stage, "a part was written outside the device root: %s" % p)
    store_check(run, root, stage, opener=False)
    run.stop(mmsc)
    run.table["messages tried"] = tried


# ---- main --------------------------------------------------------------------------------

def in_namespace(argv):
    """Re-runs this script in a user, network and mount namespace; None when unavailable."""
    if os.environ.get("TESSERA_ABUSE_NS"):
        return None
    probe = subprocess.run(["unshare", "-Urnm", "true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if probe.returncode != 0:
        return None
    env = dict(os.environ, TESSERA_ABUSE_NS="1")
    return subprocess.call(["unshare", "-Urnm", sys.executable] + argv, env=env)


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
    counts = dict(messages=100 if a.quick else 500, keys=2000 if a.quick else 20000, kills=6 if a.quick else 100,
                  disk=3 if a.quick else 12)
    for k in counts:
        if getattr(a, k) is not None:
            counts[k] = getattr(a, k)
    print("abuse: seed %d%s" % (a.seed, " (quick)" if a.quick else ""), flush=True)
    run = Run(a)
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
