"""A private D-Bus session bus for the tests and the soak script: a dbus-daemon of its own
configuration, listening in a test's folder, whose service folder decides what it activates.

Used by tests/server/test_server.py, tests/examples/check_installed.py,
tests/tools/check_serve_imported.py and bench/soak/soak_dbus.py (each puts this folder on
sys.path)."""
import os
import subprocess

CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <servicedir>%s</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

# Variables of the caller's session that must not reach the daemon and the servers it starts.
SESSION_VARIABLES = ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS")


def write_service(service_dir, name, executable):
    """Writes the activation file of bus name `name` into `service_dir`."""
    os.makedirs(service_dir, exist_ok=True)
    with open(os.path.join(service_dir, name + ".service"), "w") as f:
        f.write("[D-BUS Service]\nName=%s\nExec=%s\n" % (name, executable))


def without_session(env=None):
    """A copy of `env` (default: this process's environment) without the session's variables."""
    return {k: v for k, v in (os.environ if env is None else env).items()
            if k not in SESSION_VARIABLES}


def start_bus(root, service_dir, env, log):
    """Starts a daemon listening in `root` that activates from `service_dir`, with environment
    `env` and its standard error (and that of the servers it starts) in the open file `log`, so
    that no process outlives a test holding the test runner's output open. Returns the process
    and the bus address; the caller ends it with stop_bus()."""
    config = os.path.join(root, "session.conf")
    with open(config, "w") as f:
        f.write(CONFIG % (root, service_dir))
    daemon = subprocess.Popen(
        ["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
        stdout=subprocess.PIPE, stderr=log, stdin=subprocess.DEVNULL, env=env)
    return daemon, daemon.stdout.readline().decode().strip()


def stop_bus(daemon):
    """Ends a daemon started by start_bus()."""
    daemon.terminate()
    daemon.wait()
    daemon.stdout.close()
