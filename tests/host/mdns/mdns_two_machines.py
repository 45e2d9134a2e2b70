#!/usr/bin/python3
"""Multicast DNS on a PC with a LAN, a system responder and several programs, as a table.

Two network namespaces of the test's own, joined by a veth pair: "this PC" (10.77.0.1, loopback
up, its default route on the LAN) and "another PC" (10.77.0.2). In this PC avahi-daemon starts
first and holds port 5353 (tests/host/mdns/avahi-daemon.conf); then askers that share the port,
`velt play` of a 1.32 recording, python3-zeroconf and a second velt; a second veth pair made
after velt started is the new interface. On the other PC a listener keeps every mDNS datagram:
no response or probe of ours may arrive there, and its own askers must get nothing.

Prints one row per way of asking ("answered in N ms" or "nothing") and the time from velt's
start to the first answer of each kind of asker. Exit status 0 when every row is as it must be,
1 when one is not, 77 when it cannot run here (not root, no `ip netns`, no avahi-daemon, no
recording) or is not asked to (VELT_MDNS_CHECKS=1).

Usage: mdns_two_machines.py --velt PATH --replays DIR [--before CMD --after CMD] [--figures]
  --before   a shell command run first inside "this PC", --after one run last there
             (scripts/test-windows-mdns.sh starts a wineserver there, as Wine's sockets belong to
             it, and ends it)
  --figures  also the responder's CPU and memory under 50,000 queries, and its idle CPU
"""

import argparse
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
GROUP = "224.0.0.251"
PORT = 5353
THIS, OTHER, NEW, NEW_PEER = "10.77.0.1", "10.77.0.2", "10.78.0.1", "10.78.0.2"
HERE = os.path.dirname(os.path.abspath(__file__))
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)  # Linux's value


# ---- DNS, just what the askers need ------------------------------------------------------

def encode_name(name):
    return b"".join(bytes([len(l)]) + l.encode() for l in name.strip(".").split(".")) + b"\0"


def query(name, unicast=False, qid=0):
    return struct.pack(">6H", qid, 0, 1, 0, 0, 0) + encode_name(name) + struct.pack(
        ">HH", 12, 0x8001 if unicast else 1)


def read_name(data, at):
    labels, jumped, end = [], False, at
    for _ in range(64):
        length = data[at]
        if length & 0xC0 == 0xC0:
            if not jumped:
                end = at + 2
            at, jumped = ((length & 0x3F) << 8) | data[at + 1], True
            continue
        if length == 0:
            return ".".join(labels) + ".", (end if jumped else at + 1)
        labels.append(data[at + 1:at + 1 + length].decode(errors="replace"))
        at += 1 + length
    raise ValueError("name loops")


def records(data):
    """(id, flags, questions, authorities, [(name, type, ttl, target or None)]) or None."""
    try:
        qid, flags, qd, an, ns, ar = struct.unpack_from(">6H", data)
        at, out = 12, []
        for _ in range(qd):
            _, at = read_name(data, at)
            at += 4
        for _ in range(an + ns + ar):
            name, at = read_name(data, at)
            rtype, _, ttl, length = struct.unpack_from(">HHIH", data, at)
            at += 10
            target = read_name(data, at)[0] if rtype == 12 else None
            out.append((name, rtype, ttl, target))
            at += length
        return qid, flags, qd, ns, out
    except (ValueError, IndexError, struct.error):
        return None


def names_ours(data, subtype):
    """The instance names that a response of ours for the sub-type points to."""
    parsed = records(data)
    if not parsed or not parsed[1] & 0x8000:
        return []
    return [target for name, rtype, ttl, target in parsed[4]
            if rtype == 12 and name == subtype and ttl > 0]


# ---- askers ------------------------------------------------------------------------------

def asker_socket(interface, shared_port=True, reuse_port=True):
    """A socket that asks on the interface: on 5353 shared (SO_REUSEADDR only, as Winsock
    programs share it, unless reuse_port), joined there; or one-shot, on a port of its own."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    if shared_port:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if reuse_port:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        s.bind(("0.0.0.0", PORT))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                     socket.inet_aton(GROUP) + socket.inet_aton(interface))
    else:
        s.bind(("0.0.0.0", 0))
    s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(interface))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 255 if interface.startswith("127.") else 1)
    return s


def receive(s):
    """(datagram, source, the address it was sent to)."""
    data, ancillary, _, source = s.recvmsg(9000, 64)
    to = next((socket.inet_ntoa(extra[8:12]) for level, kind, extra in ancillary
               if level == socket.IPPROTO_IP and kind == IP_PKTINFO), None)
    return data, source, to


def ask(s, subtype, way, seconds, repeat_ms=0):
    """Asks (QM, QU or one-shot) and waits for an answer that names an instance: (ms, names).
    An asker on the shared port counts answers to the group only: a unicast one reaches one of
    the sockets that share the port, this one only by chance."""
    while select.select([s], [], [], 0)[0]:  # what came before the question
        s.recvfrom(9000)
    started = time.monotonic()
    deadline, next_ask = started + seconds, started
    while time.monotonic() < deadline:
        if next_ask is not None and time.monotonic() >= next_ask:
            s.sendto(query(subtype, way == "QU", 0x5151 if way == "one-shot" else 0),
                     (GROUP, PORT))
            next_ask = time.monotonic() + repeat_ms / 1000 if repeat_ms else None
        ready, _, _ = select.select([s], [], [], 0.02)
        if not ready:
            continue
        data, source, to = receive(s)
        if source[1] != PORT or (way != "one-shot" and to != GROUP):
            continue
        names = names_ours(data, subtype)
        if names:
            return int((time.monotonic() - started) * 1000), names
    return None, []


def result(ms):
    return "nothing" if ms is None else f"answered in {ms} ms"


# ---- the namespaces ----------------------------------------------------------------------

def run(*command, check=True):
    return subprocess.run(command, check=check, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True)


def make_machines(tag):
    this, other = f"velt-{tag}-this", f"velt-{tag}-other"
    run("ip", "netns", "add", this)
    run("ip", "netns", "add", other)
    for ns in (this, other):
        run("ip", "-n", ns, "link", "set", "lo", "up")
    # Made inside "this PC" with its peer straight in "another PC": never in this machine's own.
    run("ip", "-n", this, "link", "add", "lan0", "type", "veth", "peer", "name", "lan0",
        "netns", other)
    for ns, address in ((this, THIS), (other, OTHER)):
        run("ip", "-n", ns, "addr", "add", f"{address}/24", "dev", "lan0")
        run("ip", "-n", ns, "link", "set", "lan0", "up")
        run("ip", "-n", ns, "route", "add", "default", "via", OTHER if ns == this else THIS)
    return this, other


def add_new_interface(this, other):
    run("ip", "-n", this, "link", "add", "new0", "type", "veth", "peer", "name", "new0",
        "netns", other)
    for ns, address in ((this, NEW), (other, NEW_PEER)):
        run("ip", "-n", ns, "addr", "add", f"{address}/24", "dev", "new0")
        run("ip", "-n", ns, "link", "set", "new0", "up")


def in_ns(ns, command, **kwargs):
    return subprocess.Popen(["ip", "netns", "exec", ns, *command], **kwargs)


# ---- inside "this PC" --------------------------------------------------------------------

def cpu_ms(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 // os.sysconf("SC_CLK_TCK")


def rss_kb(pid, key="VmRSS"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1])
    return 0


def inner(args):
    """Runs in "this PC"; the other PC is reached through `ip netns exec`."""
    temp = tempfile.mkdtemp(prefix="velt-two-")
    children, rows, failures, first = [], [], [], {}

    def start(command, log_name, ns=None):
        log = open(os.path.join(temp, log_name), "w")
        full = ["ip", "netns", "exec", ns, *command] if ns else command
        child = subprocess.Popen(full, stdin=subprocess.DEVNULL, stdout=log,
                                 stderr=subprocess.STDOUT)
        children.append(child)
        return child

    def row(what, ms, want_answer, note=""):
        rows.append((what, result(ms) + note))
        if (ms is not None) != want_answer:
            failures.append(f"{what}: {result(ms)}")

    try:
        if args.before:
            subprocess.run(["sh", "-c", args.before], check=True, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
        # avahi-daemon first, with a /run of its own (its pid file) in a mount namespace.
        avahi = start(["unshare", "-m", "--propagation", "private", "sh", "-c",
                       "mount -t tmpfs tmpfs /run && exec avahi-daemon --no-drop-root "
                       "--no-chroot --no-rlimits -f " + os.path.join(HERE, "avahi-daemon.conf")],
                      "avahi.log")
        deadline = time.monotonic() + 20
        while "Server startup complete" not in open(os.path.join(temp, "avahi.log")).read():
            if time.monotonic() > deadline or avahi.poll() is not None:
                print(open(os.path.join(temp, "avahi.log")).read())
                raise RuntimeError("avahi-daemon did not start")
            time.sleep(0.1)

        listened = os.path.join(temp, "other-pc.bin")
        listener = start([sys.executable, __file__, "--listen", listened], "listener.log",
                         args.other)
        time.sleep(0.5)

        recording = args.recording
        subtype = "_w3xp2730._sub._blizzard._udp.local."
        # Askers that share 5353 from the LAN address, bound before velt (REUSEADDR only).
        early = {way: asker_socket(THIS, way != "one-shot", reuse_port=False)
                 for way in ("QM", "QU", "one-shot")}
        started = time.monotonic()
        velt = start([args.velt, "play", recording, "--port-base", "0", "--quiet"], "velt1.log")
        # Each asks every 100 ms from velt's start, at once: the time to the first answer.
        def first_answer(way, s):
            ms, _ = ask(s, subtype, way, 10, repeat_ms=100)
            first[way] = None if ms is None else int((time.monotonic() - started) * 1000)
        threads = [threading.Thread(target=first_answer, args=item) for item in early.items()]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        time.sleep(max(0.0, started + 4 - time.monotonic()))  # past the two announcements

        def fresh_row(what, interface, way, want=True, seconds=3.0):
            s = asker_socket(interface, way != "one-shot")
            try:
                ms, names = ask(s, subtype, way, seconds)
            finally:
                s.close()
            row(what, ms, want)
            time.sleep(1.1)  # past the responder's gap between multicast answers
            return names

        instances = fresh_row("QM from loopback", "127.0.0.1", "QM")
        fresh_row("QU from loopback", "127.0.0.1", "QU")
        fresh_row("one-shot from loopback", "127.0.0.1", "one-shot")
        for way, s in early.items():  # the sockets bound before velt, 5353 shared with avahi
            ms, _ = ask(s, subtype, way, 3)
            row(f"{way} from the LAN address, 5353 shared", ms, True)
            time.sleep(1.1)
        add_new_interface(args.this, args.other)
        time.sleep(0.5)
        for way in ("QM", "QU", "one-shot"):
            fresh_row(f"{way} from a new interface", NEW, way)

        # python3-zeroconf on the LAN address.
        zc = subprocess.run([sys.executable, __file__, "--zeroconf", THIS, subtype],
                            stdout=subprocess.PIPE, text=True, timeout=30)
        zc_ms = int(zc.stdout.split()[0]) if zc.stdout.split() and zc.stdout.split()[0].isdigit() else None
        row("python3-zeroconf from the LAN address", zc_ms, True)

        # The other PC asks: nothing.
        for way in ("QM", "QU", "one-shot"):
            out = subprocess.run(["ip", "netns", "exec", args.other, sys.executable, __file__,
                                  "--ask", OTHER, way, subtype], stdout=subprocess.PIPE,
                                 text=True, timeout=30).stdout.strip()
            row(f"{way} from the other machine", None if out == "nothing" else int(out), False)

        # Two programs: the second takes another name; the first's goodbye leaves it shown.
        second = start([args.velt, "play", recording, "--port-base", "0", "--quiet"],
                       "velt2.log")
        time.sleep(2.5)
        s = asker_socket(THIS, True)
        # Asked as a browser asks again, a second later: the second program may have
        # multicast its records less than a second before the first question.
        both, seen, deadline = time.monotonic(), set(), time.monotonic() + 5
        for asked in range(2):
            s.sendto(query(subtype), (GROUP, PORT))
            until = time.monotonic() + 1.2
            while len(seen) < 2 and time.monotonic() < until:
                if select.select([s], [], [], 0.05)[0]:
                    seen.update(names_ours(s.recvfrom(9000)[0], subtype))
        two_ms = int((time.monotonic() - both) * 1000) if len(seen) == 2 else None
        row("two programs, one game name: two instances", two_ms, True,
            f" ({', '.join(sorted(seen))})")
        velt.send_signal(signal.SIGINT)
        velt.wait(timeout=30)
        time.sleep(1.2)
        while select.select([s], [], [], 0)[0]:  # what came before the question
            s.recvfrom(9000)
        s.sendto(query(subtype), (GROUP, PORT))
        left, deadline = set(), time.monotonic() + 3
        while not left and time.monotonic() < deadline:
            if select.select([s], [], [], 0.05)[0]:
                left.update(names_ours(s.recvfrom(9000)[0], subtype))
        s.close()
        kept = len(left) == 1 and left <= seen and instances and left != set(instances)
        rows.append(("the first program ends: the second stays shown",
                     ", ".join(sorted(left)) or "nothing"))
        if not kept:
            failures.append(f"after the first program's goodbye: {left}")

        if args.figures:
            figures(args, second.pid, subtype, rows)
        second.send_signal(signal.SIGINT)
        second.wait(timeout=30)
        time.sleep(0.5)
        listener.send_signal(signal.SIGINT)
        listener.wait(timeout=10)

        ours, heard = heard_at_other_pc(listened)
        rows.append(("datagrams of ours heard on the other machine",
                     f"{ours} (of {heard} heard there: the askers' and avahi's)"))
        if ours or not heard:
            failures.append(f"{ours} datagrams of ours reached the other machine, of {heard}")
        for s in early.values():
            s.close()
    finally:
        for child in children:
            if child.poll() is None:
                child.kill()
            child.wait()
        if args.after:
            subprocess.run(["sh", "-c", args.after], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        logs = {name: open(os.path.join(temp, name), errors="replace").read()
                for name in os.listdir(temp) if name.endswith(".log")}
        shutil.rmtree(temp, ignore_errors=True)

    print(f"{'way of asking':58} result")
    for what, outcome in rows:
        print(f"{what:58} {outcome}")
    for way, ms in first.items():
        print(f"{'from velt play starting to the first answer, ' + way + ' (LAN)':58} "
              f"{'nothing' if ms is None else f'{ms} ms'}")
    if failures:
        print("FAILED:", *failures, sep="\n  ")
        for name, text in logs.items():
            print(f"--- {name}", *text.splitlines()[-10:], sep="\n")
        return 1
    return 0


def figures(args, pid, subtype, rows):
    """The responder's cost: CPU and memory under 50,000 queries, and idle."""
    idle_from = cpu_ms(pid)
    time.sleep(60)
    rows.append(("idle CPU of velt play (1.32) over 60 s, interface checks included",
                 f"{cpu_ms(pid) - idle_from} ms"))
    s = asker_socket("127.0.0.1", False)
    q = query(subtype, qid=1)
    before, rss_before = cpu_ms(pid), rss_kb(pid)
    answered = 0
    for i in range(50000):
        s.sendto(q, (GROUP, PORT))
        if i % 50 == 49:  # paced a little, so that the socket's buffers do not drop them
            while select.select([s], [], [], 0)[0]:
                s.recvfrom(9000)
                answered += 1
            time.sleep(0.002)
    time.sleep(1)
    while select.select([s], [], [], 0)[0]:
        s.recvfrom(9000)
        answered += 1
    s.close()
    rows.append(("50,000 one-shot queries: velt's CPU, RSS before/after, peak",
                 f"{cpu_ms(pid) - before} ms, {rss_before}/{rss_kb(pid)} kB, "
                 f"{rss_kb(pid, 'VmHWM')} kB peak; {answered} answers"))


def heard_at_other_pc(path):
    """Responses and probes of ours in what the other PC's listener kept, and all it kept."""
    ours, heard = 0, 0
    with open(path, "rb") as f:
        data = f.read()
    at = 0
    while at + 2 <= len(data):
        length, = struct.unpack_from(">H", data, at)
        datagram = data[at + 2:at + 2 + length]
        at += 2 + length
        heard += 1
        parsed = records(datagram)
        if not parsed:
            continue
        mentions = any("_blizzard" in (n or "") or "velt-" in (n or "") or
                       "_blizzard" in (t or "") for n, _, _, t in parsed[4])
        if mentions and (parsed[1] & 0x8000 or parsed[3] > 0):
            ours += 1
    return ours, heard


# ---- helpers run as programs of their own ------------------------------------------------

def listen(path):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("0.0.0.0", PORT))
    for interface in (OTHER,):
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                     socket.inet_aton(GROUP) + socket.inet_aton(interface))
    stopping = []
    signal.signal(signal.SIGINT, lambda *_: stopping.append(1))
    with open(path, "wb") as out:
        while not stopping:
            try:
                if select.select([s], [], [], 0.1)[0]:
                    data = s.recvfrom(9000)[0]
                    out.write(struct.pack(">H", len(data)) + data)
                    out.flush()
            except InterruptedError:
                pass
    return 0


def zeroconf_browse(interface, subtype):
    from zeroconf import IPVersion, ServiceBrowser, Zeroconf
    found = []
    started = time.monotonic()
    zc = Zeroconf(interfaces=[interface], ip_version=IPVersion.V4Only)
    browser = ServiceBrowser(zc, [subtype], handlers=[lambda **kw: found.append(time.monotonic())])
    while not found and time.monotonic() < started + 10:
        time.sleep(0.02)
    print(int((found[0] - started) * 1000) if found else "nothing")
    browser.cancel()
    zc.close()
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velt")
    parser.add_argument("--replays", default="")
    parser.add_argument("--figures", action="store_true")
    parser.add_argument("--before", default="")
    parser.add_argument("--after", default="")
    parser.add_argument("--inner", nargs=3, metavar=("THIS", "OTHER", "RECORDING"))
    parser.add_argument("--listen")
    parser.add_argument("--zeroconf", nargs=2)
    parser.add_argument("--ask", nargs=3)
    args = parser.parse_args()
    if args.listen:
        return listen(args.listen)
    if args.zeroconf:
        return zeroconf_browse(*args.zeroconf)
    if args.ask:
        interface, way, subtype = args.ask
        s = asker_socket(interface, way != "one-shot")
        ms, _ = ask(s, subtype, way, 2)
        print("nothing" if ms is None else ms)
        return 0
    if args.inner:
        args.this, args.other, args.recording = args.inner
        return inner(args)

    if os.environ.get("VELT_MDNS_CHECKS") != "1":
        print("SKIPPED: some 40 s, so it runs in a CI stage of its own: "
              "VELT_MDNS_CHECKS=1 ctest --test-dir build/debug -L mdns")
        return SKIP
    if os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("unshare"):
        print("SKIPPED: two network namespaces need root and iproute2")
        return SKIP
    if not shutil.which("avahi-daemon"):
        print("SKIPPED: avahi-daemon is missing (scripts/setup-debian.sh installs it)")
        return SKIP
    try:
        import zeroconf  # noqa: F401
    except ImportError:
        print("SKIPPED: python3-zeroconf is missing")
        return SKIP
    recording = None
    if os.path.isdir(args.replays):
        for name in sorted(os.listdir(args.replays)):
            path = os.path.join(os.path.abspath(args.replays), name)
            if name.endswith(".w3g"):
                with open(path, "rb") as f:
                    head = f.read(68)
                if len(head) == 68 and struct.unpack_from("<I", head, 52)[0] == 10032:
                    recording = path
                    break
    if not recording:
        print(f"SKIPPED: no 1.32 recording in '{args.replays}'")
        return SKIP

    tag = f"{os.getpid()}"
    try:
        this, other = make_machines(tag)
    except subprocess.CalledProcessError as failure:
        print(f"SKIPPED: the namespaces cannot be made here: {failure.stdout.strip()}")
        for ns in (f"velt-{tag}-this", f"velt-{tag}-other"):
            run("ip", "netns", "del", ns, check=False)
        return SKIP
    try:
        command = ["ip", "netns", "exec", this, sys.executable, os.path.abspath(__file__),
                   "--velt", os.path.abspath(args.velt), "--inner", this, other, recording]
        if args.figures:
            command.append("--figures")
        if args.before or args.after:
            command += ["--before", args.before, "--after", args.after]
        return subprocess.run(command).returncode
    finally:
        for ns in (this, other):
            run("ip", "netns", "del", ns, check=False)


if __name__ == "__main__":
    sys.exit(main())
