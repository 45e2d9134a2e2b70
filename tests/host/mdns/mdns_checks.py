#!/usr/bin/python3
"""Multicast DNS as programs that nobody here wrote see it, with the real programs.

Runs inside a network namespace with loopback alone (in-loopback-namespace.sh):

  records      velt-matchd serves each recording of the folder, velt watch hosts it. Every
               datagram of our responder must decode strictly with dnspython; names, TTLs,
               cache-flush bits, SRV and A are checked, and the type-66 protobuf with its base64
               game_data is decoded here and compared field by field with the 0x30 that the host
               sends to UDP 6112. python3-zeroconf browses the version's sub-type (started before
               the host) and the service (started after it, so it finds the game by asking), and
               resolves the instance. The goodbye comes when the stand-in game joins, and when
               velt ends on Ctrl+C. A 1.26 game shows nothing; two hosts show two instances.
  end-to-end   the 1.32 and 2.0 recordings are found by velt-gamesim --mdns, joined and played
               to the end; with port 5353 held by a program that does not share it, velt tells
               the user once, does not fail for it, and the game joins by the UDP announcement.

Exit status 0 on success, 1 on a failed check, 77 when it cannot run here (no recordings, a
missing Debian package, not inside the namespace) or is not asked to (VELT_MDNS_CHECKS=1).
"""

import argparse
import base64
import os
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
CACHE_FLUSH = 0x8000
CLASS_IN = 1
TYPE_GAME = 66
W3G_MAGIC = b"Warcraft III recorded game\x1a\x00"

try:
    import dns.message
    import dns.rdata
    import dns.rdataclass
    import dns.rdatatype
    from zeroconf import IPVersion, ServiceBrowser, ServiceStateChange, Zeroconf
except ImportError as missing:
    print(f"SKIPPED: {missing.name} is missing (python3-zeroconf, python3-dnspython)")
    sys.exit(SKIP)


class CheckFailed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise CheckFailed(what)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise CheckFailed(f"timed out: {what}")


# ---- recordings --------------------------------------------------------------------------

def recording_facts(path):
    """(version number, length in ms) read straight from a .w3g header of version 1."""
    with open(path, "rb") as f:
        head = f.read(68)
    if len(head) < 68 or not head.startswith(W3G_MAGIC):
        return None
    header_version = struct.unpack_from("<I", head, 36)[0]
    if header_version != 1:
        return None
    version, = struct.unpack_from("<I", head, 52)
    length_ms, = struct.unpack_from("<I", head, 60)
    return version, length_ms


def find_recordings(folder):
    """The first recording of each version in the folder, by the version in its header."""
    found = {}
    folder = os.path.abspath(folder)  # the recordings are linked into folders elsewhere
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".w3g"):
            continue
        facts = recording_facts(os.path.join(folder, name))
        if facts and facts[0] not in found:
            found[facts[0]] = (os.path.join(folder, name), facts[1])
    return found


# ---- the 0x30 and the game's record, decoded here ----------------------------------------

def c_string(data, at):
    end = data.index(b"\0", at)
    return data[at:end], end + 1


def parse_gameinfo(packet):
    check(packet[:2] == b"\xf7\x30", "a 0x30 announcement")
    check(struct.unpack_from("<H", packet, 2)[0] == len(packet), "the 0x30's length")
    product, version, host_counter, entry_key = struct.unpack_from("<4I", packet, 4)
    name, at = c_string(packet, 20)
    check(packet[at] == 0, "the byte after the game name")
    stat, at = c_string(packet, at + 1)
    slots_total, game_type, slots_used, slots_open, uptime = struct.unpack_from("<5I", packet, at)
    port, = struct.unpack_from("<H", packet, at + 20)
    check(at + 22 == len(packet), "the 0x30 ends with its port")
    return dict(product=product, version=version, host_counter=host_counter,
                entry_key=entry_key, name=name, stat=stat, slots_total=slots_total,
                game_type=game_type, slots_used=slots_used, port=port)


def varint(data, at):
    value, shift = 0, 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, at


def protobuf_fields(data):
    """[(field, value)] of one message: ints for varints, bytes for length-delimited."""
    fields, at = [], 0
    while at < len(data):
        tag, at = varint(data, at)
        field, wire = tag >> 3, tag & 7
        if wire == 0:
            value, at = varint(data, at)
        elif wire == 2:
            length, at = varint(data, at)
            value = data[at:at + length]
            check(len(value) == length, "a protobuf length inside the record")
            at += length
        else:
            raise CheckFailed(f"protobuf wire type {wire} in the game's record")
        fields.append((field, value))
    return fields


def decode_game_record(data):
    fields = protobuf_fields(data)
    record = {"entries": {}}
    for field, value in fields:
        if field == 1:
            record["name"] = value
        elif field == 2:
            record["message_id"] = (value >> 1) ^ -(value & 1)
        elif field == 3:
            entry = dict(protobuf_fields(value))
            record["entries"][entry[1].decode()] = entry[2].decode()
    return record


def decode_game_data(data, version):
    if version >= 10032:
        name, at = c_string(data, 0)
        check(data[at] == 0, "the byte after game_data's name")
        stat, at = c_string(data, at + 1)
        slots_total, game_flags, port = struct.unpack_from("<IIH", data, at)
        end = at + 10
    else:  # gowarcraft3's layout for 1.30 and 1.31
        game_flags, = struct.unpack_from("<I", data, 0)
        stat, at = c_string(data, 4)
        slots_total, = struct.unpack_from("<I", data, at)
        name, at = c_string(data, at + 4)
        check(data[at] == 0, "the byte after game_data's name")
        port, = struct.unpack_from("<H", data, at + 1)
        end = at + 3
    check(end == len(data), "game_data ends with its port")
    return dict(name=name, stat=stat, slots_total=slots_total, game_type=game_flags, port=port)


# ---- listening ---------------------------------------------------------------------------

class Tap:
    """Every datagram on the group, and every 0x30 on UDP 6112, with when it came."""

    def __init__(self):
        self.mdns = []
        self.announcements = []
        self.lock = threading.Lock()
        self.stopping = False
        self.group = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.group.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.group.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        self.group.bind(("0.0.0.0", PORT))
        self.group.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                              socket.inet_aton(GROUP) + socket.inet_aton("127.0.0.1"))
        self.lan = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.lan.bind(("127.0.0.1", 6112))
        self.threads = [threading.Thread(target=self.listen, args=(s, l), daemon=True)
                        for s, l in ((self.group, self.mdns), (self.lan, self.announcements))]
        for thread in self.threads:
            thread.start()

    def listen(self, sock, into):
        sock.settimeout(0.1)
        while not self.stopping:
            try:
                data, source = sock.recvfrom(9000)
            except socket.timeout:
                continue
            with self.lock:
                into.append((time.monotonic(), source, data))

    def close(self):
        self.stopping = True
        for thread in self.threads:
            thread.join()
        self.group.close()
        self.lan.close()

    def responses(self, since=0.0):
        """Our responses (QR set, from port 5353), decoded strictly, after a time."""
        with self.lock:
            taken = list(self.mdns)
        out = []
        for at, source, data in taken:
            if at < since or source[1] != PORT or len(data) < 4 or not data[2] & 0x80:
                continue
            message = dns.message.from_wire(data)  # raises on anything malformed
            out.append((at, message, data))
        return out

    def forget_announcements(self):
        with self.lock:
            self.announcements.clear()

    def latest_announcement(self):
        with self.lock:
            return self.announcements[-1][2] if self.announcements else None


class Browser:
    """python3-zeroconf browsing one service type on loopback."""

    def __init__(self, service_type):
        self.events = []
        self.zeroconf = Zeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
        self.browser = ServiceBrowser(self.zeroconf, [service_type], handlers=[self.on_change])

    def on_change(self, zeroconf, service_type, name, state_change):
        self.events.append((time.monotonic(), name, state_change))

    def added(self):
        return [name for _, name, change in self.events if change == ServiceStateChange.Added]

    def removed(self):
        return [name for _, name, change in self.events if change == ServiceStateChange.Removed]

    def close(self):
        self.browser.cancel()
        self.zeroconf.close()


# ---- the programs ------------------------------------------------------------------------

class Programs:
    def __init__(self, args):
        self.args = args
        self.children = []
        self.logs = []
        self.next_port = 9990
        self.temp = tempfile.TemporaryDirectory(prefix="velt-mdns-")

    def serve(self, recording):
        """velt-matchd serving one recording as match 1; its port."""
        folder = os.path.join(self.temp.name, str(self.next_port))
        os.mkdir(folder)
        os.symlink(recording, os.path.join(folder, os.path.basename(recording)))
        port = self.next_port
        self.next_port += 1
        self.start([self.args.matchd, "--listen", f"127.0.0.1:{port}", "--replays", folder],
                   quiet=True)
        wait_for(lambda: self.connects(port), 30, "velt-matchd listens")
        return port

    @staticmethod
    def connects(port):
        with socket.socket() as probe:
            return probe.connect_ex(("127.0.0.1", port)) == 0

    def watch(self, server_port, game_port):
        return self.start([self.args.velt, "watch", "1", "--server", f"127.0.0.1:{server_port}",
                           "--port-base", str(game_port), "--quiet"], quiet=True)

    def gamesim(self, version_text, *extra):
        return self.start([self.args.gamesim, "--mdns", version_text, "--quiet", *extra])

    def log_of(self, child):
        path = next(path for _, path, logged in self.logs if logged is child)
        with open(path, errors="replace") as log:
            return log.read()

    def start(self, command, quiet=False):
        """A child; quiet ones write to a log of their own, the others to a pipe to read."""
        if quiet:
            path = os.path.join(self.temp.name, f"{len(self.children)}.log")
            with open(path, "w") as log:
                child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log,
                                         stderr=subprocess.STDOUT)
            self.logs.append((" ".join(command), path, child))
        else:
            child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        self.children.append(child)
        return child

    def print_logs(self):
        for command, path, _ in self.logs:
            with open(path, errors="replace") as log:
                lines = log.read().splitlines()[-12:]
            print(f"--- {command}", *lines, sep="\n")

    def close(self):
        for child in self.children:
            if child.poll() is None:
                child.kill()
            child.wait()
        self.temp.cleanup()


def version_text(version):
    return f"2.{version - 10100}" if version >= 10100 else f"1.{version - 10000}"


def subtype(version):
    return f"_w3xp{version:x}._sub._blizzard._udp.local."


# ---- the checks --------------------------------------------------------------------------

def plain(name):
    """A dnspython name as zeroconf writes it: labels as they are, no escapes."""
    return "".join(label.decode() + "." for label in name.labels if label)


def record_class(rrset):
    return rrset.rdclass & ~CACHE_FLUSH, bool(rrset.rdclass & CACHE_FLUSH)


def check_announcement(message, version, announced):
    """One announcement against the 0x30 it came from; the instance name."""
    service = "_blizzard._udp.local."
    sections = {}
    for section, rrsets in (("answer", message.answer), ("additional", message.additional)):
        for rrset in rrsets:
            sections[(plain(rrset.name), rrset.rdtype)] = (section, rrset)
    check(message.id == 0 and message.flags == 0x8400, "id 0, flags QR and AA")

    section, ptr = sections[(service, dns.rdatatype.PTR)]
    instance = plain(ptr[0].target)
    check(section == "answer" and ptr.ttl == 4500, "the service PTR, TTL 4500")
    check(record_class(ptr) == (CLASS_IN, False), "shared PTR records carry no cache flush")
    section, sub = sections[(subtype(version), dns.rdatatype.PTR)]
    check(section == "answer" and sub.ttl == 4500 and plain(sub[0].target) == instance,
          "the sub-type PTR names the instance")
    check(record_class(sub) == (CLASS_IN, False), "the sub-type PTR carries no cache flush")

    section, srv = sections[(instance, dns.rdatatype.SRV)]
    check(section == "answer" and srv.ttl == 120 and record_class(srv) == (CLASS_IN, True),
          "SRV: TTL 120, cache flush")
    srv_data = dns.rdata.from_wire(dns.rdataclass.IN, dns.rdatatype.SRV, srv[0].data, 0,
                                   len(srv[0].data))
    check(srv_data.port == announced["port"], "the SRV port is the announced one")
    host = plain(srv_data.target)
    check(host == f"velt-{announced['port']}.local.", "the SRV target is our host name")

    section, txt = sections[(instance, dns.rdatatype.TXT)]
    check(section == "answer" and txt.ttl == 4500 and record_class(txt) == (CLASS_IN, True)
          and txt[0].strings == (b"",), "TXT: one empty string")

    section, address = sections[(host, dns.rdatatype.A)]
    check(section == "additional", "the A record is in the additional section")
    check(address.ttl == 120 and record_class(address) == (CLASS_IN, True)
          and address[0].data == bytes([127, 0, 0, 1]), "A 127.0.0.1, TTL 120")
    check((host, dns.rdatatype.A) not in [k for k, v in sections.items() if v[0] == "answer"],
          "no A record among the answers")

    section, game = sections[(instance, TYPE_GAME)]
    check(section == "answer" and game.ttl == 4500 and record_class(game) == (CLASS_IN, True),
          "type 66: TTL 4500, cache flush")
    record = decode_game_record(game[0].data)
    entries = record["entries"]
    check(record["name"] == announced["name"], "the record's game name is the 0x30's")
    check(int(entries["game_id"]) == announced["host_counter"], "game_id is the host counter")
    check(int(entries["game_secret"]) == announced["entry_key"], "game_secret is the entry key")
    check(int(entries["players_max"]) == announced["slots_total"], "players_max")
    check(int(entries["players_num"]) == announced["slots_used"], "players_num")
    check(abs(int(entries["game_create_time"]) - time.time()) < 600, "game_create_time is now")
    check(("_name" in entries) == (version >= 10031), "the named entries from 1.31 on")
    data = decode_game_data(base64.b64decode(entries["game_data"], validate=True), version)
    for field in ("name", "stat", "slots_total", "game_type", "port"):
        check(data[field] == announced[field], f"game_data's {field} is the 0x30's")
    return instance


def check_version(programs, tap, version, recording, offset):
    """Hosting a recording of a version that finds games over multicast DNS."""
    label = version_text(version)
    early = Browser(subtype(version))
    tap.forget_announcements()
    try:
        started = time.monotonic()
        server = programs.serve(recording)
        watch = programs.watch(server, 10000 + offset)
        wait_for(tap.latest_announcement, 30, f"{label}: the 0x30 on UDP 6112")
        announced = parse_gameinfo(tap.latest_announcement())
        check(announced["version"] == version, f"{label}: the 0x30 carries {version}")
        announcements = lambda: [r for r in tap.responses(started) if len(r[1].answer) == 5]
        wait_for(lambda: len(announcements()) >= 2, 30, f"{label}: two announcements")
        first, second = announcements()[:2]
        check(0.8 <= second[0] - first[0] <= 5, f"{label}: the two a second apart")
        instance = check_announcement(first[1], version, announced)
        check_announcement(second[1], version, announced)
        wait_for(lambda: instance in early.added(), 30, f"{label}: zeroconf browsing first")

        late = Browser("_blizzard._udp.local.")
        try:
            wait_for(lambda: instance in late.added(), 30, f"{label}: zeroconf asking later")
            info = late.zeroconf.get_service_info("_blizzard._udp.local.", instance, 5000)
            check(info is not None and info.port == announced["port"]
                  and info.parsed_addresses() == ["127.0.0.1"]
                  and info.server == f"velt-{announced['port']}.local.",
                  f"{label}: zeroconf resolves the instance to 127.0.0.1:{announced['port']}")
        finally:
            late.close()

        for at, message, _ in tap.responses(started):
            check(all(rrset.ttl > 0 for rrset in message.answer), f"{label}: no goodbye yet")
        joined = time.monotonic()
        game = programs.gamesim(label, "--lobby", "/fs", "--leave-at", "500", "--timeout", "60")
        output, _ = game.communicate(timeout=90)
        check(game.returncode == 0, f"{label}: velt-gamesim joined and left\n{output}")
        check(f"found over multicast DNS: {announced['name'].decode()}" in output,
              f"{label}: velt-gamesim found the game over multicast DNS\n{output}")
        goodbyes = [r for r in tap.responses(joined)
                    if r[1].answer and all(rrset.ttl == 0 for rrset in r[1].answer)
                    and plain(r[1].answer[0][0].target) == instance]
        check(len(goodbyes) == 1, f"{label}: one goodbye when the game joined")
        wait_for(lambda: instance in early.removed(), 30, f"{label}: zeroconf hears the goodbye")
        check(watch.wait(timeout=60) == 0, f"{label}: velt watch ends with its session")
    finally:
        early.close()
    print(f"ok {label}: records, zeroconf before and after, goodbye at the join")


def check_ctrl_c(programs, tap, version, recording):
    label = version_text(version)
    browser = Browser(subtype(version))
    try:
        started = time.monotonic()
        watch = programs.watch(programs.serve(recording), 10100)
        wait_for(lambda: browser.added(), 30, f"{label}: shown before Ctrl+C")
        interrupted = time.monotonic()
        watch.send_signal(signal.SIGINT)
        check(watch.wait(timeout=30) == 130, f"{label}: velt watch ends 130 on Ctrl+C")
        goodbyes = [r for r in tap.responses(interrupted)
                    if r[1].answer and all(rrset.ttl == 0 for rrset in r[1].answer)]
        check(len(goodbyes) == 1, f"{label}: a goodbye when the program ends")
        wait_for(lambda: browser.removed(), 30, f"{label}: zeroconf hears it")
        check(started < interrupted, "order")
    finally:
        browser.close()
    print(f"ok {label}: goodbye on Ctrl+C")


def check_old_game(programs, tap, version, recording):
    label = version_text(version) if version >= 10000 else f"1.{version}"
    started = time.monotonic()
    tap.forget_announcements()
    watch = programs.watch(programs.serve(recording), 10200)
    wait_for(tap.latest_announcement, 30, f"{label}: the 0x30 on UDP 6112")
    time.sleep(2.5)  # the responder would have announced twice by now
    check(not tap.responses(started), f"{label}: no multicast DNS for a game before 1.30")
    watch.send_signal(signal.SIGINT)
    watch.wait(timeout=30)
    print(f"ok {label}: the UDP announcement alone")


def check_two_hosts(programs, tap, recordings):
    browser = Browser("_blizzard._udp.local.")
    try:
        watches = [programs.watch(programs.serve(path), 10300 + 10 * i)
                   for i, path in enumerate(recordings)]
        wait_for(lambda: len(set(browser.added())) == len(recordings), 30,
                 "an instance per host")
        ports = {browser.zeroconf.get_service_info("_blizzard._udp.local.", name, 5000).port
                 for name in set(browser.added())}
        check(len(ports) == len(recordings), "each instance has its host's port")
        for watch in watches:
            watch.send_signal(signal.SIGINT)
            watch.wait(timeout=30)
        wait_for(lambda: len(set(browser.removed())) == len(recordings), 30,
                 "a goodbye per host")
    finally:
        browser.close()
    print(f"ok {len(recordings)} hosts at once: {len(recordings)} instances")


def check_end_to_end(programs, version, recording, length_ms):
    label = version_text(version)
    server = programs.serve(recording)
    watch = programs.watch(server, 10400)
    game = programs.gamesim(label, "--lobby", "/sp 4", "--lobby", "/fs", "--timeout", "240")
    output, _ = game.communicate(timeout=300)
    check(game.returncode == 0, f"{label}: velt-gamesim played\n{output}")
    check("leave ack: yes" in output and "faults:" not in output,
          f"{label}: played to the end without faults\n{output}")
    game_ms = int(output.split("game time: ")[1].split(" ms")[0])
    check(game_ms >= length_ms - 1000, f"{label}: {game_ms} ms of game, the recording says "
          f"{length_ms}")
    check(watch.wait(timeout=60) == 0, f"{label}: velt watch ends with its session")
    print(f"ok {label}: found, joined and played to the end ({game_ms} ms of game)")


def check_port_held(programs, version, recording):
    """Port 5353 held by a program that does not share it: the user is told once, velt does not
    fail for it, and the game finds the match by the UDP announcement."""
    label = version_text(version)
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", PORT))  # without address reuse
    try:
        watch = programs.watch(programs.serve(recording), 10500)
        game = programs.start([programs.args.gamesim, "--quiet", "--lobby", "/sp 4", "--lobby",
                               "/fs", "--timeout", "240"])
        output, _ = game.communicate(timeout=300)
        check(game.returncode == 0 and "leave ack: yes" in output,
              f"{label}: the game joined by the UDP announcement\n{output}")
        check(watch.wait(timeout=60) == 0, f"{label}: velt watch ends 0, the notice is no failure")
        told = programs.log_of(watch).count("Warcraft III 1.30 and newer will not list this match")
        check(told == 1, f"{label}: told once why a newer game will not see it ({told})")
    finally:
        holder.close()
    print(f"ok {label}: port 5353 held elsewhere: told once, UDP goes on")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["records", "end-to-end"])
    parser.add_argument("--velt", required=True)
    parser.add_argument("--matchd", required=True)
    parser.add_argument("--gamesim", required=True)
    parser.add_argument("--replays", default=os.environ.get("VELT_REPLAYS_DIR", ""))
    args = parser.parse_args()

    if os.environ.get("VELT_MDNS_CHECKS") != "1":
        print("SKIPPED: some 30 s between the two, so they run in a CI stage of their own: "
              "VELT_MDNS_CHECKS=1 ctest --test-dir build/debug -L mdns")
        return SKIP
    if os.environ.get("VELT_IN_LOOPBACK_NAMESPACE") != "1":
        print("SKIPPED: run through in-loopback-namespace.sh, so that multicast stays there")
        return SKIP
    if not os.path.isdir(args.replays):
        print(f"SKIPPED: no recordings at '{args.replays}'")
        return SKIP
    recordings = find_recordings(args.replays)
    newer = {v: recordings[v] for v in (10030, 10032, 10100) if v in recordings}
    for wanted in (10030, 10032, 10100):
        if wanted not in recordings:
            print(f"note: no {version_text(wanted)} recording in {args.replays}")
    if not newer:
        print("SKIPPED: no recording of 1.30 or later")
        return SKIP

    programs = Programs(args)
    tap = Tap() if args.mode == "records" else None
    try:
        if args.mode == "records":
            for offset, (version, (path, _)) in enumerate(sorted(newer.items())):
                check_version(programs, tap, version, path, offset)
            first = min(newer)
            check_ctrl_c(programs, tap, first, newer[first][0])
            old = 26 if 26 in recordings else max([v for v in recordings if v < 10030], default=0)
            if old:
                check_old_game(programs, tap, old, recordings[old][0])
            check_two_hosts(programs, tap, [path for path, _ in list(newer.values())[:2]])
        else:
            for version in (10032, 10100):
                if version in newer:
                    check_end_to_end(programs, version, *newer[version])
            last = max(newer)
            check_port_held(programs, last, newer[last][0])
    except CheckFailed as failure:
        print(f"FAILED: {failure}")
        programs.print_logs()
        return 1
    finally:
        programs.close()
        if tap:
            tap.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
