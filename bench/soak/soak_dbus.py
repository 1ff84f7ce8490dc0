#!/usr/bin/python3
"""Soak test of the tessera request server over D-Bus (run by hand, not part of the tests).

Starts a private bus whose activation file starts a copy of the built server in a temporary
AppDir (tmp/, the sample data set as kgrid/), then lets several clients, each a process with
its own bus connection, send a bounded number of mixed requests:

  test, draw3, draw2, draw (GIF), CreateInstance + Release, and bad ones: IDs that are not
  plain file names, IDs longer than 200 bytes, picture sizes beyond 4096 pixels a side, calls
  on an instance that belongs to another connection.

Every answer is checked (a wrong answer or an unexpected error counts as a failure). The
server's resident memory is read at start, after the warm-up and at the end, its open file
descriptors after the warm-up and at the end, and the temporary folder must hold nothing but
GIF results and the log afterwards. Exit status 0 when the run met its bounds (no failure,
memory growth after the warm-up under 5 %, no descriptor left open, nothing else in tmp/).

  /usr/bin/python3 bench/soak/soak_dbus.py --build build [--requests 100000] [--clients 4]
"""
import argparse
import multiprocessing
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import dbus

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
import private_bus  # noqa: E402

SERVICE = "tessera.tesseraClass"
CLASS_PATH = "/tessera/tesseraClass"
IFACE = "tessera._tesseraClass"
X, Y = 301234, 2771234
HEADER = 1078
TIMEOUT = 120

# Request kinds and their shares of the mix.
MIX = [("test", 20), ("draw3", 20), ("draw2", 14), ("draw", 14), ("create_release", 10),
       ("bad_id", 6), ("long_id", 4), ("oversize", 6), ("wrong_owner", 6)]


def start_bus(build, sample):
    root = tempfile.mkdtemp(prefix="tessera-soak-")
    appdir = os.path.join(root, "appdir")
    os.makedirs(os.path.join(appdir, "tmp"))
    shutil.copy2(os.path.join(build, "appdir", "tessera"), os.path.join(appdir, "tessera"))
    os.symlink(sample, os.path.join(appdir, "kgrid"))
    services = os.path.join(root, "services")
    private_bus.write_service(services, SERVICE, os.path.join(appdir, "tessera"))
    log = open(os.path.join(root, "daemon.log"), "w")
    daemon, address = private_bus.start_bus(root, services, private_bus.without_session(), log)
    return root, appdir, daemon, log, address


def factory(conn):
    return dbus.Interface(conn.get_object(SERVICE, CLASS_PATH), "tessera.ClassFactory")


def release(conn, path):
    dbus.Interface(conn.get_object(SERVICE, path), "tessera.Object").Release(timeout=TIMEOUT)


def client(index, address, count, foreign_path, done, failures_out, kinds_out):
    """One client: its own connection and instance, `count` requests of the mix."""
    rng = random.Random(1000 + index)
    conn = dbus.bus.BusConnection(address)
    path = str(factory(conn).CreateInstance(timeout=TIMEOUT))
    inst = dbus.Interface(conn.get_object(SERVICE, path), IFACE)
    foreign = dbus.Interface(conn.get_object(SERVICE, foreign_path), IFACE)
    names, weights = zip(*MIX)
    failures = []
    # The export refuses a view whose RLE8 form would take more than W x H bytes (narrow,
    # busy views: each row costs at least W + 4 bytes when nothing repeats): draw3 fails with
    # error 5, draw2 returns -1. Expected, and counted apart.
    refused_exports = 0
    kinds = dict.fromkeys(names, 0)
    ident = "soak%d" % index

    def draw(target, name, w, h, mp=20.0):
        return str(target.draw(dbus.Int32(X + rng.randint(-20000, 20000)),
                               dbus.Int32(Y + rng.randint(-20000, 20000)), dbus.Double(mp), name,
                               dbus.Int16(w), dbus.Int16(h), timeout=TIMEOUT))

    for n in range(count):
        kind = rng.choices(names, weights)[0]
        kinds[kind] += 1
        x, y = X + rng.randint(-30000, 30000), Y + rng.randint(-30000, 30000)
        mp = rng.choice([2.0, 5.0, 10.0, 20.0, 50.0, 200.0])
        try:
            if kind == "test":
                a, b = rng.randint(-1000, 1000), rng.randint(-1000, 1000)
                if int(inst.test(a, b, timeout=TIMEOUT)) <= a + b:
                    failures.append("test: the counter did not count")
            elif kind == "draw3":
                image = bytes(inst.draw3(dbus.Int32(x), dbus.Int32(y), dbus.Double(mp),
                                         timeout=TIMEOUT))
                if image[:2] != b"BM":
                    failures.append("draw3 %d %d %g: no BMP" % (x, y, mp))
            elif kind == "draw2":
                count_, filled = inst.draw2(dbus.Int32(x), dbus.Int32(y), dbus.Double(mp),
                                            dbus.ByteArray(bytes(HEADER + 500 * 500)),
                                            timeout=TIMEOUT, byte_arrays=True)
                if int(count_) == -1:
                    refused_exports += 1
                elif int(count_) <= 0 or bytes(filled[:2]) != b"BM":
                    failures.append("draw2 %d %d %g: count %d" % (x, y, mp, int(count_)))
            elif kind == "draw":
                # Sizes draw3 and draw2 of the other clients can still serve (500 x 500 room).
                w, h = rng.randint(40, 400), rng.randint(40, 400)
                name = draw(inst, ident, w, h, mp)
                if not (name.startswith(ident) and name.endswith(".gif")):
                    failures.append("draw: %s" % name)
            elif kind == "create_release":
                extra = str(factory(conn).CreateInstance(timeout=TIMEOUT))
                release(conn, extra)
            elif kind == "bad_id":
                bad = rng.choice(["", "..", "a/b", "a\\b", "x\ny", "\x1b[2Jz", "tab\t"])
                if draw(inst, bad, 100, 100) != "err.gif":
                    failures.append("bad ID drawn: %r" % bad)
            elif kind == "long_id":
                if draw(inst, "L" * rng.randint(201, 600), 100, 100) != "err.gif":
                    failures.append("long ID drawn")
            elif kind == "oversize":
                w, h = rng.choice([(4101, 100), (16388, 16388), (0, 1000), (32767, 5)])
                if draw(inst, ident, w, h) != "err.gif":
                    failures.append("oversize drawn: %dx%d" % (w, h))
            elif kind == "wrong_owner":
                try:
                    foreign.test(1, 1, timeout=TIMEOUT)
                    failures.append("another connection's instance answered")
                except dbus.DBusException as error:
                    if error.get_dbus_name() != "org.freedesktop.DBus.Error.AccessDenied":
                        failures.append("wrong owner: %s" % error.get_dbus_name())
        except dbus.DBusException as error:
            if kind == "draw3" and error.get_dbus_name() == "tessera.Error.E5":
                refused_exports += 1
            else:
                failures.append("%s %d %d %g: %s %s" % (kind, x, y, mp, error.get_dbus_name(),
                                                       error.get_dbus_message()))
        with done.get_lock():
            done.value += 1
    release(conn, path)
    conn.close()
    failures_out.put((index, failures, refused_exports))
    kinds_out.put(kinds)


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def fds(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build", help="build folder (default: build)")
    parser.add_argument("--sample", help="data set folder (default: BUILD/appdir/kgrid)")
    parser.add_argument("--requests", type=int, default=100000)
    parser.add_argument("--clients", type=int, default=4)
    parser.add_argument("--warmup", type=float, default=0.1, help="share of the requests")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    sample = os.path.abspath(args.sample or os.path.join(build, "appdir", "kgrid"))

    root, appdir, daemon, daemon_log, address = start_bus(build, sample)
    pid = None
    try:
        monitor = dbus.bus.BusConnection(address)
        held = str(factory(monitor).CreateInstance(timeout=TIMEOUT))
        bus = dbus.Interface(monitor.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus"),
                             "org.freedesktop.DBus")
        pid = int(bus.GetConnectionUnixProcessID(SERVICE))
        rss_start = rss_kib(pid)
        done = multiprocessing.Value("l", 0)
        failures_q, kinds_q = multiprocessing.Queue(), multiprocessing.Queue()
        share = args.requests // args.clients
        started = time.time()
        workers = [multiprocessing.Process(target=client, args=(i, address, share, held, done,
                                                                 failures_q, kinds_q))
                   for i in range(args.clients)]
        for w in workers:
            w.start()
        warm = int(args.requests * args.warmup)
        while done.value < warm and any(w.is_alive() for w in workers):
            time.sleep(0.2)
        rss_warm, fds_warm, warm_time = rss_kib(pid), fds(pid), time.time()
        peak = rss_warm
        while any(w.is_alive() for w in workers):
            peak = max(peak, rss_kib(pid))
            time.sleep(0.5)
        elapsed = time.time() - started
        results = [failures_q.get() for _ in workers]
        kinds = {}
        for _ in workers:
            for k, v in kinds_q.get().items():
                kinds[k] = kinds.get(k, 0) + v
        for w in workers:
            w.join()
        time.sleep(1.0)  # releases run after their replies
        rss_end, fds_end = rss_kib(pid), fds(pid)
        tmp = os.path.join(appdir, "tmp")
        leftovers = [f for f in os.listdir(tmp)
                     if not (f.endswith(".gif") or f in ("tessera.log", "tessera.log.1"))]
        gifs = sum(1 for f in os.listdir(tmp) if f.endswith(".gif"))
        log_bytes = sum(os.path.getsize(os.path.join(tmp, f)) for f in os.listdir(tmp)
                        if f.startswith("tessera.log"))
        failures = [f for _, fs, _ in results for f in fs]
        refused = sum(r for _, _, r in results)
        growth = 100.0 * (rss_end - rss_warm) / rss_warm
        print("requests        %d by %d clients in %.1f s (%.0f a second)"
              % (done.value, args.clients, elapsed, done.value / elapsed))
        print("mix             %s" % ", ".join("%s %d" % kv for kv in sorted(kinds.items())))
        print("resident memory start %d KiB, after warm-up (%d requests) %d KiB, peak %d KiB, "
              "end %d KiB: %+.2f %% after warm-up" % (rss_start, warm, rss_warm, peak, rss_end,
                                                       growth))
        print("descriptors     after warm-up %d, end %d" % (fds_warm, fds_end))
        print("tmp/            %d GIF results, log %d bytes, other files: %s"
              % (gifs, log_bytes, leftovers or "none"))
        print("refused exports %d (RLE8 image larger than W x H)" % refused)
        print("failures        %d%s" % (len(failures), "".join("\n  " + f for f in failures[:20])))
        ok = not failures and growth < 5.0 and fds_end <= fds_warm and not leftovers
        print("result          %s" % ("met" if ok else "NOT met"))
        monitor.close()
        return 0 if ok else 1
    finally:
        if pid is not None:
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        private_bus.stop_bus(daemon)
        daemon_log.close()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
