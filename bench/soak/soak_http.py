#!/usr/bin/python3
"""Soak test of the HTTP map service kserve (run by hand, not part of the tests).

Starts kserve with two workers on a free loopback port and the sample data set, then lets
several client processes, each with its own kept-alive connection, send a bounded number of
mixed requests:

  WMS GetMap (PNG, GIF, BMP, native grid and EPSG:3857), XYZ tiles of both tile sets at random
  places, revalidations with If-None-Match, GetFeatureInfo, the JSON road and point queries,
  and bad ones: BBOX with min >= max, an unknown layer, a size above the cap, a request that is
  not a request, a path that does not exist.

Every answer's status is checked against what the request must give (200, 304, 400 or 404; a
5xx or a dropped connection is a failure). The resident memory of the master and the workers
is read at start, after the warm-up and at the end, their open descriptors after the warm-up
and at the end, and the workers' process ids must be the same at the end (none died). Exit
status 0 when the run met its bounds (no failure, memory growth after the warm-up under 5 %,
no descriptor left open, no worker replaced).

  /usr/bin/python3 bench/soak/soak_http.py --build build [--requests 100000] [--clients 4]
"""
import argparse
import http.client
import multiprocessing
import os
import random
import socket
import subprocess
import sys
import tempfile
import time

LEFT, TOP = 297674, 2773994
MIX = [("getmap", 22), ("getmap_3857", 6), ("tile", 24), ("revalidate", 8), ("feature_info", 8),
       ("api_road", 8), ("api_pois", 4), ("bad", 20)]
BAD = ["/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&CRS=EPSG:3826"
       "&BBOX=300000,2770000,290000,2760000&WIDTH=256&HEIGHT=256&FORMAT=image/png",
       "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=nothing&STYLES=&CRS=EPSG:3826"
       "&BBOX=290000,2760000,300000,2770000&WIDTH=256&HEIGHT=256&FORMAT=image/png",
       "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&CRS=EPSG:3826"
       "&BBOX=290000,2760000,300000,2770000&WIDTH=99999&HEIGHT=256&FORMAT=image/png",
       "/wms?SERVICE=WMS&REQUEST=Nonsense%0d%0aX:%1b[31m", "/nowhere/%ff%00"]
BAD_STATUS = {400, 404}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def processes(master):
    out = subprocess.run(["ps", "-o", "pid=", "--ppid", str(master)], capture_output=True,
                         text=True).stdout
    return [master] + sorted(int(p) for p in out.split())


def rss_kib(pids):
    total = 0
    for pid in pids:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    total += int(line.split()[1])
    return total


def descriptors(pids):
    return {pid: len(os.listdir(f"/proc/{pid}/fd")) for pid in pids}


def request_path(kind, rng):
    """The path of one request of `kind` and the statuses it may get."""
    x = LEFT + rng.randrange(-20000, 20000)
    y = TOP + rng.randrange(-20000, 20000)
    if kind == "getmap":
        s = rng.choice([2, 5, 10, 20, 50])
        fmt = rng.choice(["image/png", "image/png", "image/gif", "image/bmp"])
        return (f"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&CRS=EPSG:3826"
                f"&BBOX={x},{y - 256 * s},{x + 256 * s},{y}&WIDTH=256&HEIGHT=256&FORMAT={fmt}",
                {200})
    if kind == "getmap_3857":
        return ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&CRS=EPSG:3857"
                "&BBOX=13522000,2866000,13532000,2876000&WIDTH=256&HEIGHT=256&FORMAT=image/png",
                {200})
    if kind in ("tile", "revalidate"):
        z = rng.randrange(13, 17)
        span = 1 << (z - 13)
        tx = 6859 * span + rng.randrange(0, 2 * span)
        ty = 3506 * span + rng.randrange(0, 2 * span)
        return f"/tiles/google/{z}/{tx}/{ty}.png", {200, 304}
    if kind == "feature_info":
        return ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetFeatureInfo&LAYERS=map&QUERY_LAYERS=map"
                "&STYLES=&CRS=EPSG:3826&BBOX=297674,2768474,304794,2773994&WIDTH=356&HEIGHT=276"
                f"&I={rng.randrange(356)}&J={rng.randrange(276)}&INFO_FORMAT=application/json"
                "&FORMAT=image/png", {200})
    if kind == "api_road":
        return f"/api/road?x={x}&y={y}&scale=10", {200}
    if kind == "api_pois":
        return f"/api/pois?x={x}&y={y}&r=300", {200}
    return rng.choice(BAD), BAD_STATUS


def client(args):
    port, count, seed = args
    rng = random.Random(seed)
    kinds = [k for k, share in MIX for _ in range(share)]
    etags = {}
    failures, done = [], 0
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    for _ in range(count):
        kind = rng.choice(kinds)
        path, allowed = request_path(kind, rng)
        headers = {}
        if kind == "revalidate" and path in etags:
            headers["If-None-Match"] = etags[path]
        try:
            conn.request("GET", path, headers=headers)
            r = conn.getresponse()
            r.read()
            if r.getheader("ETag"):
                etags[path] = r.getheader("ETag")
            if r.status not in allowed:
                failures.append(f"{kind} {path}: status {r.status}")
            if r.getheader("Connection", "").lower() == "close":
                conn.close()
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        except (OSError, http.client.HTTPException) as e:
            failures.append(f"{kind} {path}: {e!r}")
            conn.close()
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        done += 1
    conn.close()
    return done, failures


def run_phase(port, total, clients, seed):
    per = total // clients
    with multiprocessing.Pool(clients) as pool:
        results = pool.map(client, [(port, per, seed + i) for i in range(clients)])
    return sum(r[0] for r in results), [f for r in results for f in r[1]]


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", default="build")
    p.add_argument("--requests", type=int, default=100000)
    p.add_argument("--clients", type=int, default=4)
    p.add_argument("--warmup", type=int, default=4000)
    a = p.parse_args()
    kserve = os.path.join(a.build, "bin", "kserve")
    data = os.path.join(a.build, "appdir", "kgrid") + "/"
    port = free_port()
    log = tempfile.NamedTemporaryFile(prefix="kserve-soak-", suffix=".log", delete=False)
    proc = subprocess.Popen([kserve, "--data", data, "--listen", f"127.0.0.1:{port}",
                             "--workers", "2"], stdout=log, stderr=log)
    try:
        for _ in range(600):
            try:
                c = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
                c.request("GET", "/healthz")
                if c.getresponse().status == 200:
                    break
            except OSError:
                time.sleep(0.1)
        pids = processes(proc.pid)
        start_rss = rss_kib(pids)
        t0 = time.time()
        _, warm_failures = run_phase(port, a.warmup, a.clients, 1)
        warm_rss, warm_fds = rss_kib(pids), descriptors(pids)
        t1 = time.time()
        done, failures = run_phase(port, a.requests, a.clients, 1000)
        t2 = time.time()
        time.sleep(1)  # kept-alive connections of the clients close
        end_pids = processes(proc.pid)
        end_rss, end_fds = rss_kib(end_pids), descriptors(end_pids)
    finally:
        proc.terminate()
        proc.wait(30)
    failures = warm_failures + failures
    growth = (end_rss - warm_rss) / warm_rss * 100
    print(f"requests: {a.warmup} warm-up + {done} in {t2 - t1:.0f} s "
          f"({done / (t2 - t1):.0f} a second, warm-up {t1 - t0:.0f} s), {a.clients} clients")
    print(f"resident memory (master + 2 workers): start {start_rss / 1024:.1f} MiB, after "
          f"warm-up {warm_rss / 1024:.1f} MiB, end {end_rss / 1024:.1f} MiB ({growth:+.1f} %)")
    print(f"open descriptors after warm-up {sorted(warm_fds.values())}, "
          f"at the end {sorted(end_fds.values())}")
    print(f"workers replaced: {'no' if end_pids == pids else 'yes'}; failures: {len(failures)}")
    for f in failures[:10]:
        print("  " + f)
    ok = (not failures and growth < 5 and end_pids == pids and
          all(end_fds[p] <= warm_fds[p] for p in pids))
    print("soak: " + ("bounds met" if ok else "bounds NOT met") + f"; kserve log {log.name}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
