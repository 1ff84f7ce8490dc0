#!/usr/bin/python3
"""test_image.py: kserve's container image, built by scripts/build-image.sh from the build's
packages and run with podman, as an operator would run it.

- the image: kserve runs as its own user (not root) and is process 1; labels carry the version;
- a data set mounted read-only at /data is served: a WMS GetMap is a PNG that Pillow decodes,
  /healthz says ok and the image's HEALTHCHECK passes;
- SIGHUP during a run of requests loses none; `podman stop` ends it with status 0 (kserve's
  own stop, not a kill); the root file system was read-only and nothing was written in it;
- without a mount the sample city is served; a CPU quota of one processor gives one worker;
  the KSERVE_* variables and the arguments reach kserve (workers, public address, map
  budget).
Every container uses the host's network on a free loopback port.

Exits 77 (skipped, one line why) when podman cannot run a container on this machine, as in a
container without the rights to nest another.

Usage: test_image.py SOURCE_DIR BUILD_DIR
"""
import concurrent.futures
import http.client
import io
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

from PIL import Image

SKIP = 77
REPO, BUILD = sys.argv[1], sys.argv[2]
failures = []


def check(cond, what, detail=""):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
        if detail:
            print("     " + str(detail).replace("\n", "\n     ")[-3000:], flush=True)


def podman(*args, check_rc=False):
    r = subprocess.run(["podman", *args], capture_output=True, text=True)
    if check_rc and r.returncode != 0:
        raise RuntimeError("podman %s: %s" % (" ".join(args), r.stderr.strip()[-2000:]))
    return r


def run_options():
    """The options podman needs here to start a container, or None and why it cannot. Some
    machines refuse podman's default open-file and process limits (higher than theirs): then
    explicit ones that suit kserve are given."""
    if not shutil.which("podman"):
        return None, "podman is not installed (scripts/install-deps.sh test installs it)"
    root = tempfile.mkdtemp(prefix="kestrel-probe-")
    try:
        # A root file system of the host's /bin/true and its libraries: no image needed.
        true = os.path.realpath("/bin/true")
        libs = subprocess.run(["ldd", true], capture_output=True, text=True).stdout.split()
        for path in [true] + [p for p in libs if p.startswith("/")]:
            dest = os.path.join(root, path.lstrip("/"))
            os.makedirs(os.path.dirname(dest), exist_ok=True)
            shutil.copy(os.path.realpath(path), dest)
        error = ""
        for extra in ([], ["--ulimit", "nofile=8192:8192", "--ulimit", "nproc=4096:4096"]):
            r = podman("run", "--rm", "--network", "none", *extra, "--rootfs", root, true)
            if r.returncode == 0:
                return extra, ""
            error = error or (r.stderr.strip().splitlines() or ["status %d" % r.returncode])[-1]
        return None, "podman cannot run a container here: " + error[:300]
    finally:
        shutil.rmtree(root, ignore_errors=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(port, path, timeout=60):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        c.request("GET", path)
        r = c.getresponse()
        return r.status, r.getheader("Content-Type", ""), r.read()
    finally:
        c.close()


def getmap(width=256):
    """A square WMS map of the sample city's centre, WIDTH pixels a side."""
    return ("/wms?SERVICE=WMS&REQUEST=GetMap&VERSION=1.3.0&LAYERS=map&STYLES=&CRS=EPSG:3826"
            "&BBOX=300000,2770000,302000,2772000&WIDTH=%d&HEIGHT=%d&FORMAT=image/png"
            % (width, width))


class Container:
    """One kserve container on a free port of the loopback, root file system read-only."""

    def __init__(self, image, extra, env=None, mounts=(), args=()):
        self.port = free_port()
        self.name = "kestrel-test-%d-%d" % (os.getpid(), self.port)
        command = ["run", "--detach", "--name", self.name, "--network", "host", "--read-only",
                   *extra, "--env", "KSERVE_LISTEN=127.0.0.1:%d" % self.port]
        for k, v in (env or {}).items():
            command += ["--env", "%s=%s" % (k, v)]
        for m in mounts:
            command += ["--volume", m]
        podman(*command, image, *args, check_rc=True)

    def logs(self):
        r = podman("logs", self.name)
        return r.stdout + r.stderr

    def wait_ready(self):
        """Waits for /healthz while the workers load the data set (at most 120 s, kserve's own
        bound); False when the container ended or never answered."""
        deadline = time.time() + 150
        while time.time() < deadline:
            try:
                if get(self.port, "/healthz", timeout=5)[0] == 200:
                    return True
            except OSError:
                pass
            state = podman("inspect", "--format", "{{.State.Running}}", self.name).stdout.strip()
            if state != "true":
                return False
            time.sleep(0.2)
        return False

    def processes(self):
        """(user, pid, ppid, command) of the container's processes, as podman top sees them."""
        out = podman("top", self.name, "user", "pid", "ppid", "args").stdout.splitlines()[1:]
        return [line.split(None, 3) for line in out if line.strip()]

    def remove(self):
        podman("rm", "--force", "--time", "0", self.name)


def image_id(tag):
    r = podman("image", "inspect", "--format", "{{.Id}}", tag)
    return r.stdout.strip() if r.returncode == 0 else None


def build_image(version):
    """Builds the image; returns its tag and a function that puts podman's images back as they
    were (the base images stay, for the next build)."""
    alias = "localhost/kestrel/kserve:" + version
    before = set(podman("images", "--format", "{{.Repository}}:{{.Tag}}").stdout.split())
    alias_before = image_id(alias)
    r = subprocess.run(["bash", os.path.join(REPO, "scripts", "build-image.sh"), "--build", BUILD],
                       capture_output=True, text=True)
    print(r.stderr.strip().splitlines()[-1] if r.stderr.strip() else "", flush=True)
    built = r.stdout.strip().splitlines()[-1] if r.returncode == 0 and r.stdout.strip() else None
    check(built is not None and image_id(built) == image_id(alias),
          "scripts/build-image.sh builds the image, tagged VERSION-DIGEST and VERSION",
          r.stdout + r.stderr)

    def restore():
        if alias_before:
            podman("tag", alias_before, alias)
        elif alias not in before and built:
            podman("untag", built, alias)
        if built and built not in before:
            podman("rmi", built)
    return built, restore


def check_mounted(image, extra, version):
    """A mounted data set, the image's form, the health check, SIGHUP under load, podman stop."""
    data = os.path.join(BUILD, "appdir", "kgrid")
    c = Container(image, extra, env={"KSERVE_WORKERS": "3"}, mounts=[data + ":/data:ro"])
    try:
        ready = c.wait_ready()
        check(ready, "the container answers /healthz", c.logs())
        if not ready:
            return
        logs = c.logs()
        check("serving /data/ " in logs and "sample city" not in logs,
              "the data set mounted at /data is served", logs)
        status, ctype, body = get(c.port, getmap())
        ok = status == 200 and ctype == "image/png"
        if ok:
            with Image.open(io.BytesIO(body)) as im:
                ok = im.size == (256, 256) and len(im.convert("RGB").getcolors(1 << 16)) > 2
        check(ok, "a WMS GetMap is a PNG map", (status, ctype, body[:200]))
        check(get(c.port, "/healthz")[2] == b"ok\n", "/healthz says ok")
        r = podman("healthcheck", "run", c.name)
        check(r.returncode == 0, "the image's health check passes", r.stdout + r.stderr)

        procs = c.processes()
        master = [p for p in procs if p[1] == "1"]
        check(master and master[0][3].startswith("/usr/bin/kserve ")
              and all(p[0] != "root" for p in procs) and len(procs) == 4,
              "kserve's master is process 1 with KSERVE_WORKERS=3 workers, none of them root",
              procs)
        labels = json.loads(podman("image", "inspect", "--format", "{{json .Labels}}",
                                   image).stdout or "{}")
        head = subprocess.run(["git", "-C", REPO, "rev-parse", "HEAD"], capture_output=True,
                              text=True).stdout.strip()
        check(labels.get("org.opencontainers.image.version") == version
              and labels.get("org.opencontainers.image.revision", "").startswith(head)
              and image.split(":")[-1].startswith(version + "-"),
              "the image's tag and labels carry the version and revision", labels)

        # SIGHUP while four clients keep asking: every request answered, the workers replaced.
        replaced = threading.Event()
        results = []

        def client(k):
            mine = []
            for n in range(400):
                if replaced.is_set() and n > 20:
                    break
                try:
                    mine.append(get(c.port, getmap(width=200 + (k * 37 + n) % 100))[0])
                except OSError as e:
                    mine.append(repr(e))
            return mine

        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            futures = [pool.submit(client, k) for k in range(4)]
            time.sleep(0.5)
            podman("kill", "--signal", "HUP", c.name, check_rc=True)
            deadline = time.time() + 120
            while time.time() < deadline and "workers replaced" not in c.logs():
                time.sleep(0.2)
            replaced.set()
            for f in futures:
                results += f.result()
        check("workers replaced" in c.logs() and len(results) > 80
              and results.count(200) == len(results),
              "SIGHUP during %d requests: the workers replaced, every request answered" %
              len(results), [r for r in results if r != 200][:10])

        r = podman("stop", "--time", "60", c.name)
        state = podman("inspect", "--format", "{{.State.ExitCode}} {{.State.Running}}",
                       c.name).stdout.split()
        check(r.returncode == 0 and state == ["0", "false"],
              "podman stop ends kserve with status 0 (its own stop, not a kill)",
              (state, r.stderr, c.logs()[-1500:]))
        changes = podman("diff", c.name).stdout.strip()
        check(changes == "", "nothing was written in the container's file system", changes)
    finally:
        c.remove()


def check_options(image, extra):
    """No mount: the sample city; one worker for a CPU quota of one processor; KSERVE_*
    variables and arguments reach kserve."""
    public = "http://maps.example.org:8000/map"
    c = Container(image, extra + ["--cpus", "1"], env={"KSERVE_PUBLIC_URL": public},
                  args=["--map-budget", "1"])
    try:
        ready = c.wait_ready()
        check(ready, "the container without a data set answers /healthz", c.logs())
        if not ready:
            return
        logs = c.logs()
        check("/usr/share/kestrel/sample/" in logs, "without a mount the sample city is served",
              logs)
        check(len(c.processes()) == 2, "a quota of one processor: one worker", c.processes())
        status, _, body = get(c.port, "/wms?SERVICE=WMS&REQUEST=GetCapabilities")
        check(status == 200 and (public + "/wms").encode() in body,
              "KSERVE_PUBLIC_URL gives the capabilities' addresses", body[:600])
        status, _, body = get(c.port, getmap(width=1200))
        check(status == 400 and b"over this service's budget of 1 million" in body,
              "an argument after the image (--map-budget 1) reaches kserve", (status, body[:300]))
    finally:
        c.remove()


def main():
    extra, why = run_options()
    if extra is None:
        print("SKIP the container image test: " + why)
        return SKIP
    version = open(os.path.join(REPO, "CMakeLists.txt")).read().split(
        "project(kestrel VERSION ")[1].split()[0]
    image, restore = build_image(version)
    try:
        if image:
            check_mounted(image, extra, version)
            check_options(image, extra)
    finally:
        restore()
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
