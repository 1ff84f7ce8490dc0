#!/usr/bin/python3
"""End-to-end tests of the tessera request server over D-Bus.

Every test starts its own private bus (dbus-daemon with a configuration whose <servicedir>
holds an activation file for a temporary AppDir: a copy of the built tessera, a tmp/ folder and
the sample data set as kgrid/). The server is started by the bus on the first call, as in use.
Clients are python3-dbus, gdbus and busctl; images are decoded with Pillow.

Environment (set by CTest): TESSERA_EXE (built server), TESSERA_LIBDIR (build library folder),
TESSERA_SAMPLE (sample data set folder, may be empty), TESSERA_CLIENT (tessera-client),
TESSERA_SANITIZE (1 in the sanitizer build).
"""
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import dbus
from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import private_bus  # noqa: E402

SERVICE = "tessera.tesseraClass"
CLASS_PATH = "/tessera/tesseraClass"
IFACE = "tessera._tesseraClass"
DEBUG_PATH = "/tessera/debug"
CALL_TIMEOUT = 120
HEADER = 1078
CENTRE_X, CENTRE_Y = 301234, 2771234
BACKGROUND = (255, 255, 192)

EXE = os.environ.get("TESSERA_EXE", "")
LIBDIR = os.environ.get("TESSERA_LIBDIR", "")
SAMPLE = os.environ.get("TESSERA_SAMPLE", "")
CLIENT = os.environ.get("TESSERA_CLIENT", "")
SANITIZE = os.environ.get("TESSERA_SANITIZE", "0") in ("1", "ON", "TRUE", "true")


class PrivateBus:
    """A private bus with a temporary AppDir whose tessera the bus activates."""

    def __init__(self, env=None, make_tmp=True, converter=None, display=None):
        self.root = tempfile.mkdtemp(prefix="tessera-test-")
        self.appdir = os.path.join(self.root, "appdir")
        os.makedirs(self.appdir)
        shutil.copy2(EXE, os.path.join(self.appdir, "tessera"))
        self.tmp = os.path.join(self.appdir, "tmp")
        if make_tmp:
            os.makedirs(self.tmp)
        kgrid = os.path.join(self.appdir, "kgrid")
        if SAMPLE and os.path.isdir(SAMPLE):
            os.symlink(SAMPLE, kgrid)
        else:
            os.makedirs(kgrid)
        services = os.path.join(self.root, "services")
        private_bus.write_service(services, SERVICE, os.path.join(self.appdir, "tessera"))
        daemon_env = private_bus.without_session()
        if display:
            daemon_env["DISPLAY"] = display
        daemon_env["TESSERA_TEST_HOOKS"] = "1"
        if converter is not None:
            daemon_env["TESSERA_CONVERTER_PATH"] = converter
        daemon_env.update(env or {})
        if SANITIZE:
            # Qt and fontconfig keep caches until exit; leaks of the server are not the subject.
            daemon_env["ASAN_OPTIONS"] = "detect_leaks=0"
            # The sanitizer runtime intercepts dlopen, which hides the server's run path from
            # the bare-name search: name the library folder last in the search instead.
            search = [p for p in daemon_env.get("LD_LIBRARY_PATH", "").split(":") if p]
            daemon_env["LD_LIBRARY_PATH"] = ":".join(search + [LIBDIR])
        self.daemon_log = open(os.path.join(self.root, "daemon.log"), "w")
        self.daemon, self.address = private_bus.start_bus(self.root, services, daemon_env,
                                                          self.daemon_log)
        self.env = dict(daemon_env, DBUS_SESSION_BUS_ADDRESS=self.address)
        self.connections = []
        self.server_pids = set()

    def connect(self):
        conn = dbus.bus.BusConnection(self.address)
        self.connections.append(conn)
        return conn

    def create(self, conn=None):
        """Creates an instance; returns (connection, instance interface, path)."""
        conn = conn or self.connect()
        factory = dbus.Interface(conn.get_object(SERVICE, CLASS_PATH), "tessera.ClassFactory")
        path = factory.CreateInstance(timeout=CALL_TIMEOUT)
        self.server_pids.add(self.server_pid(conn))
        return conn, dbus.Interface(conn.get_object(SERVICE, path), IFACE), str(path)

    def debug(self, conn):
        return dbus.Interface(conn.get_object(SERVICE, DEBUG_PATH), "tessera.Debug")

    def server_pid(self, conn):
        daemon = dbus.Interface(conn.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus"),
                                "org.freedesktop.DBus")
        return int(daemon.GetConnectionUnixProcessID(SERVICE))

    def has_server(self, conn):
        return bool(conn.name_has_owner(SERVICE))

    @staticmethod
    def running(pid):
        """Whether the process `pid` exists and is not a zombie."""
        try:
            with open("/proc/%d/stat" % pid) as f:
                return f.read().split(")")[-1].split()[0] != "Z"
        except OSError:
            return False

    def wait_gone(self, pid, seconds=20):
        """Waits until the process `pid` has ended; returns whether it did."""
        end = time.time() + seconds
        while self.running(pid):
            if time.time() >= end:
                return False
            time.sleep(0.05)
        return True

    def log(self):
        path = os.path.join(self.tmp, "tessera.log")
        return open(path).read() if os.path.exists(path) else ""

    def close(self):
        for conn in self.connections:
            try:
                conn.close()
            except Exception:
                pass
        for pid in self.server_pids:
            if self.running(pid):
                os.kill(pid, signal.SIGTERM)
                if not self.wait_gone(pid, 5):
                    os.kill(pid, signal.SIGKILL)
        private_bus.stop_bus(self.daemon)
        self.daemon_log.close()
        shutil.rmtree(self.root, ignore_errors=True)


def bmp_image(data):
    """Decodes a BMP file image with Pillow; returns an RGB image."""
    return Image.open(io.BytesIO(bytes(data))).convert("RGB")


def error_of(call):
    """Runs `call`; returns (D-Bus error name, message) or None."""
    try:
        call()
    except dbus.DBusException as error:
        return error.get_dbus_name(), error.get_dbus_message()
    return None


class ServerTestCase(unittest.TestCase):
    bus_env = {}

    def setUp(self):
        self.bus = PrivateBus(env=self.bus_env)

    def tearDown(self):
        self.bus.close()

    def draw3(self, inst, x=CENTRE_X, y=CENTRE_Y, mp=20.0):
        return bytes(inst.draw3(dbus.Int32(x), dbus.Int32(y), dbus.Double(mp), timeout=CALL_TIMEOUT))

    def draw(self, inst, ident, w=360, h=280, x=CENTRE_X, y=CENTRE_Y, mp=20.0):
        return str(inst.draw(dbus.Int32(x), dbus.Int32(y), dbus.Double(mp), ident,
                             dbus.Int16(w), dbus.Int16(h), timeout=CALL_TIMEOUT))

    def draw2(self, inst, size, x=CENTRE_X, y=CENTRE_Y, mp=20.0):
        count, filled = inst.draw2(dbus.Int32(x), dbus.Int32(y), dbus.Double(mp),
                                   dbus.ByteArray(bytes(size)), timeout=CALL_TIMEOUT,
                                   byte_arrays=True)
        return int(count), bytes(filled)

    def tmp_files(self):
        return sorted(f for f in os.listdir(self.bus.tmp) if not f.startswith("tessera.log"))


class CreationTest(ServerTestCase):
    def test_two_creations_call_sdllinit_once_and_number_the_instances(self):
        conn, _, first = self.bus.create()
        _, _, second = self.bus.create(conn)
        self.assertEqual(first, "/tessera/tesseraClass/1")
        self.assertEqual(second, "/tessera/tesseraClass/2")
        calls, same, loaded = self.bus.debug(conn).engineState()
        self.assertEqual(int(calls), 1)
        self.assertTrue(same)
        self.assertTrue(str(loaded).endswith("/libkestrel.so"))

    def test_gdbus_and_busctl_reach_the_class_and_its_instances(self):
        conn, _, _ = self.bus.create()
        out = subprocess.run(["gdbus", "call", "--address", self.bus.address, "--dest", SERVICE,
                              "--object-path", CLASS_PATH, "--method",
                              "tessera.ClassFactory.CreateInstance"],
                             capture_output=True, text=True, check=True).stdout
        self.assertIn("/tessera/tesseraClass/2", out)
        # Each busctl run is a connection of its own, so it sees the instance of another
        # connection and its methods but may not call them.
        out = subprocess.run(["busctl", "--address=" + self.bus.address, "introspect", SERVICE,
                              "/tessera/tesseraClass/1", IFACE],
                             capture_output=True, text=True, check=True).stdout
        self.assertRegex(out, r"\.test\s+method\s+ii\s+i")
        call = subprocess.run(["busctl", "--address=" + self.bus.address, "call", SERVICE,
                               "/tessera/tesseraClass/1", IFACE, "test", "ii", "1", "2"],
                              capture_output=True, text=True)
        self.assertIn("Access denied", call.stderr)

    def test_the_introspection_data_carries_the_dispatch_ids_and_version(self):
        conn, _, path = self.bus.create()
        xml = dbus.Interface(conn.get_object(SERVICE, path),
                             "org.freedesktop.DBus.Introspectable").Introspect()
        self.assertIn('name="tessera._tesseraClass"', xml)
        self.assertIn('"111.0"', xml)
        order = [xml.index('<method name="%s"' % m) for m in
                 ("myend", "show", "test", "draw2", "draw3", "draw")]
        self.assertEqual(order, sorted(order))
        for dispid in range(0x60030002, 0x60030008):
            self.assertIn("0x%08x" % dispid, xml)
        self.assertIn('name="tessera.Object"', xml)


class CounterTest(ServerTestCase):
    def test_test_adds_the_counter_and_fails_with_overflow(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(int(inst.test(1, 2)), 4)
        self.assertEqual(int(inst.test(1, 2)), 5)
        error = error_of(lambda: inst.test(2147483647, 1))
        self.assertEqual(error, ("tessera.Error.E6", "6: Overflow"))
        # The counter kept its increment: 1 + 2 + 4.
        self.assertEqual(int(inst.test(1, 2)), 7)

    def test_the_counter_is_shared_by_all_instances(self):
        conn, first, _ = self.bus.create()
        _, second, _ = self.bus.create(conn)
        self.assertEqual(int(first.test(0, 0)), 1)
        self.assertEqual(int(second.test(0, 0)), 2)


class DrawNamesTest(ServerTestCase):
    bus_env = {"TESSERA_FAKE_TIME": "2026-12-08T14:05:09"}

    def test_draw_names_the_gif_from_id_minute_and_second_and_deletes_the_bmp(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(self.draw(inst, "A12"), "A1259.gif")
        self.assertEqual(self.tmp_files(), ["A1259.gif"])
        gif = Image.open(os.path.join(self.bus.tmp, "A1259.gif"))
        self.assertEqual(gif.format, "GIF")
        self.assertEqual(gif.size, (356, 276))
        # The GIF holds the drawn view: the same pixels as the 8-bit export of that view.
        bmp = bmp_image(self.draw3(inst))
        self.assertEqual(bmp.size, (356, 276))
        self.assertEqual(list(gif.convert("RGB").getdata()), list(bmp.getdata()))
        colours = gif.convert("RGB").getcolors(256)
        self.assertIsNotNone(colours)
        self.assertIn(BACKGROUND, [c for _, c in colours])
        self.assertGreater(len(colours), 2, "the sample view draws roads over the background")

    def test_two_draws_with_one_id_in_one_second_give_one_name_and_the_second_replaces(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(self.draw(inst, "B7", 200, 150), "B759.gif")
        first = os.stat(os.path.join(self.bus.tmp, "B759.gif"))
        self.assertEqual(self.draw(inst, "B7", 300, 250, mp=30.0), "B759.gif")
        self.assertEqual(self.tmp_files(), ["B759.gif"])
        self.assertEqual(Image.open(os.path.join(self.bus.tmp, "B759.gif")).size, (296, 246))
        self.assertNotEqual(first.st_ino, os.stat(os.path.join(self.bus.tmp, "B759.gif")).st_ino)


class DrawNamesLateTest(ServerTestCase):
    bus_env = {"TESSERA_FAKE_TIME": "2026-12-08T14:15:30"}

    def test_two_digit_minutes_and_seconds_are_written_in_full(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(self.draw(inst, "A12"), "A121530.gif")


class DrawNamesAmbiguousTest(ServerTestCase):
    bus_env = {"TESSERA_FAKE_TIME": "2026-12-08T00:15:01"}

    def test_minute_15_second_1_gives_151(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(self.draw(inst, "Z"), "Z151.gif")


class DrawFailuresTest(ServerTestCase):
    bus_env = {"TESSERA_FAKE_TIME": "2026-12-08T14:05:09"}

    def test_ids_that_are_not_plain_file_names_give_err_gif_and_write_nothing(self):
        _, inst, _ = self.bus.create()
        for ident in ("", "..", ".", "../A12", "sub/A12", "a\\b", "a\x01b", "tab\there"):
            self.assertEqual(self.draw(inst, ident), "err.gif", repr(ident))
        self.assertEqual(self.tmp_files(), [])
        self.assertFalse(os.path.exists(os.path.join(self.bus.root, "A1259.gif")))

    def test_a_failing_converter_gives_err_gif_and_deletes_the_bmp(self):
        _, inst, _ = self.bus.create()
        os.mkdir(os.path.join(self.bus.tmp, "C59.gif"))  # the GIF cannot take this name
        self.assertEqual(self.draw(inst, "C"), "err.gif")
        self.assertEqual(self.tmp_files(), ["C59.gif"])
        self.assertNotIn("err.gif", self.tmp_files())

    def test_a_scale_below_1_converts_the_cleared_box(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(self.draw(inst, "S", 100, 80, mp=0.5), "S59.gif")
        gif = Image.open(os.path.join(self.bus.tmp, "S59.gif")).convert("RGB")
        self.assertEqual(gif.size, (96, 76))
        self.assertEqual(gif.getcolors(), [(96 * 76, BACKGROUND)])

    def test_a_view_outside_the_int32_range_gives_err_gif(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(self.draw(inst, "O", mp=1e300), "err.gif")
        self.assertEqual(self.draw(inst, "O", w=-5), "err.gif")

    def test_a_refused_size_leaves_the_picture_box_as_it_was(self):
        conn, inst, _ = self.bus.create()
        debug = self.bus.debug(conn)
        self.assertEqual(self.draw(inst, "W", 4100, 60), "W59.gif")  # the largest side
        self.assertEqual(Image.open(os.path.join(self.bus.tmp, "W59.gif")).size, (4096, 56))
        for w, h in ((4101, 60), (16388, 16388), (0, 1000), (1000, 0), (300, 4101)):
            self.assertEqual(self.draw(inst, "R", w, h), "err.gif", (w, h))
            self.assertEqual(str(debug.controls()["P"]), "4096 56", (w, h))
        self.assertEqual(self.tmp_files(), ["W59.gif"])
        # Every other client still draws at that size.
        self.assertEqual(bmp_image(self.draw3(inst)).size, (4096, 56))

    def test_ids_up_to_200_utf8_bytes_work_and_longer_give_err_gif(self):
        _, inst, _ = self.bus.create()
        for ident, ok in (("a" * 200, True), ("a" * 201, False), ("中" * 66, True),
                          ("中" * 67, False), ("b" * 5000, False)):
            self.assertEqual(self.draw(inst, ident, 40, 40), ident + "59.gif" if ok else "err.gif",
                             len(ident.encode()))
        self.assertEqual(self.tmp_files(), sorted(["a" * 200 + "59.gif", "中" * 66 + "59.gif"]))

    def test_client_text_reaches_the_log_escaped(self):
        _, inst, _ = self.bus.create()
        forged = "x\n2026-12-08T14:05:09.000 tessera[1] info: forged\x1b[2J\u2028\u202e"
        for ident in (forged, forged + "y" * 300):
            self.assertEqual(self.draw(inst, ident), "err.gif")
        with open(os.path.join(self.bus.tmp, "tessera.log"), "rb") as f:
            log = f.read().decode("utf-8")
        lines = log.splitlines()
        self.assertTrue(all(re.match(r"\d{4}-\d\d-\d\dT[0-9:.]+ tessera\[\d+\] ", line)
                            for line in lines), log)
        for raw in ("\x1b", "\u2028", "\u202e", "\r"):
            self.assertNotIn(raw, log)
        self.assertIn("x\\n2026-12-08T14:05:09.000 tessera[1] info: forged\\x1b[2J"
                      "\\u{2028}\\u{202e}", log)
        self.assertRegex(log, r"y{100}\.\.\.\(\d+ more\)\"")  # a long identifier is cut

    def test_draw_when_the_temporary_folder_is_missing_gives_err_gif(self):
        bus = PrivateBus(env=self.bus_env, make_tmp=False)
        try:
            _, inst, _ = bus.create()
            self.assertEqual(self.draw(inst, "A12"), "err.gif")
            self.assertFalse(os.path.exists(bus.tmp))
        finally:
            bus.close()

    def test_a_missing_converter_keeps_the_window_from_loading(self):
        bus = PrivateBus(env=self.bus_env, converter="/nonexistent/libkbmp2gif.so")
        try:
            conn, inst, _ = bus.create()
            self.assertEqual(self.draw(inst, "A12"), "err.gif")
            self.assertEqual(error_of(lambda: self.draw3(inst)),
                             ("tessera.Error.E48", "48: Error in loading DLL"))
            self.assertEqual(error_of(lambda: inst.show()),
                             ("tessera.Error.E48", "48: Error in loading DLL"))
            self.assertEqual(dict(bus.debug(conn).controls()), {})
            self.assertEqual(int(inst.test(1, 2)), 4)
        finally:
            bus.close()


class ByteArraysTest(ServerTestCase):
    bus_env = {"TESSERA_FAKE_TIME": "2026-12-08T14:05:09"}

    def labels(self, conn):
        texts = self.bus.debug(conn).controls()
        return str(texts["Label1"]), str(texts["Label4"])

    def test_draw2_after_draw_uses_its_size_and_stamps_label4(self):
        conn, inst, _ = self.bus.create()
        self.assertEqual(self.draw(inst, "D", 300, 200), "D59.gif")
        self.assertEqual(self.labels(conn), ("busy", ""))
        count, filled = self.draw2(inst, HEADER + 296 * 196)
        self.assertEqual(len(filled), HEADER + 296 * 196)
        image = filled[:HEADER + count]
        self.assertEqual(image[:2], b"BM")
        self.assertEqual(int.from_bytes(image[2:6], "little"), count + HEADER)
        self.assertEqual(bmp_image(image).size, (296, 196))
        self.assertEqual(self.labels(conn), ("", "26_12_08 14:05:09"))

    def test_draw3_is_the_draw2_image_with_its_header(self):
        _, inst, _ = self.bus.create()
        count, filled = self.draw2(inst, HEADER + 356 * 276)
        image = self.draw3(inst)
        self.assertEqual(len(image), count + HEADER)
        self.assertEqual(image[:2], b"BM")
        self.assertEqual(image, filled[:HEADER + count])
        decoded = bmp_image(image)
        self.assertEqual(decoded.size, (356, 276))
        self.assertLessEqual(count, 356 * 276)

    def test_an_empty_array_fails_with_subscript_out_of_range_and_leaves_busy(self):
        conn, inst, _ = self.bus.create()
        self.assertEqual(error_of(lambda: self.draw2(inst, 0)),
                         ("tessera.Error.E9", "9: Subscript out of range"))
        self.assertEqual(self.labels(conn)[0], "busy")

    def test_an_array_too_short_for_the_view_is_refused(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(error_of(lambda: self.draw2(inst, HEADER + 356 * 276 - 1))[0],
                         "tessera.Error.E9")
        self.assertEqual(error_of(lambda: self.draw2(inst, 100))[0], "tessera.Error.E9")
        count, _ = self.draw2(inst, HEADER + 356 * 276)
        self.assertGreater(count, 0)

    def test_after_a_refused_scale_the_room_of_the_last_accepted_view_is_required(self):
        _, inst, _ = self.bus.create()
        self.draw3(inst)  # accepted 356 x 276
        self.assertEqual(self.draw(inst, "small", 60, 50, mp=0.5), "small59.gif")
        # P is now 56 x 46, but the export still reads the 356 x 276 view.
        self.assertEqual(error_of(lambda: self.draw2(inst, HEADER + 56 * 46, mp=0.5))[0],
                         "tessera.Error.E9")
        image = self.draw3(inst, mp=0.5)
        self.assertEqual(bmp_image(image).size, (356, 276))

    def test_draw3_refuses_views_larger_than_its_buffer(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(self.draw(inst, "big", 800, 700), "big59.gif")
        self.assertEqual(error_of(lambda: self.draw3(inst))[0], "tessera.Error.E9")
        self.assertEqual(self.draw(inst, "fit", 710, 700), "fit59.gif")  # 706 x 696 fits
        self.assertEqual(bmp_image(self.draw3(inst)).size, (706, 696))

    def test_a_scale_that_overflows_the_view_window_fails_with_overflow(self):
        _, inst, _ = self.bus.create()
        self.assertEqual(error_of(lambda: self.draw3(inst, mp=1e300))[0], "tessera.Error.E6")
        self.assertEqual(error_of(lambda: self.draw3(inst, mp=float("nan")))[0],
                         "tessera.Error.E6")

    def test_the_client_saves_draw3_and_draw2_images(self):
        out3 = os.path.join(self.bus.root, "view3.bmp")
        out2 = os.path.join(self.bus.root, "view2.bmp")
        env = dict(self.bus.env)
        subprocess.run([CLIENT, "draw3", str(CENTRE_X), str(CENTRE_Y), "20", out3], env=env,
                       check=True, capture_output=True)
        subprocess.run([CLIENT, "draw2", str(CENTRE_X), str(CENTRE_Y), "20", "200000", out2],
                       env=env, check=True, capture_output=True)
        with open(out3, "rb") as f3, open(out2, "rb") as f2:
            self.assertEqual(f3.read(), f2.read())
        result = subprocess.run([CLIENT, "draw2", "1", "1", "20", "10", out2], env=env,
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("9: Subscript out of range", result.stderr)


class LifetimeTest(ServerTestCase):
    def test_myend_ends_the_server_while_another_client_holds_an_instance(self):
        holder, held, _ = self.bus.create()
        self.assertEqual(int(held.test(0, 0)), 1)
        pid = self.bus.server_pid(holder)
        _, ender, _ = self.bus.create()
        error = error_of(lambda: ender.myend(timeout=CALL_TIMEOUT))
        self.assertIsNotNone(error, "myend must not return normally")
        self.assertTrue(self.bus.wait_gone(pid))
        self.assertFalse(self.bus.has_server(holder))

    def test_the_server_ends_when_its_last_client_leaves_the_bus(self):
        watcher = self.bus.connect()
        client, inst, _ = self.bus.create(dbus.bus.BusConnection(self.bus.address))
        inst.test(1, 1)
        pid = self.bus.server_pid(watcher)
        client.close()
        self.assertTrue(self.bus.wait_gone(pid))

    def test_the_server_ends_when_busctl_leaves_after_creating_an_instance(self):
        watcher = self.bus.connect()
        subprocess.run(["busctl", "--address=" + self.bus.address, "call", SERVICE, CLASS_PATH,
                        "tessera.ClassFactory", "CreateInstance"], check=True,
                       capture_output=True)
        end = time.time() + 20
        while self.bus.has_server(watcher) and time.time() < end:
            time.sleep(0.05)
        self.assertFalse(self.bus.has_server(watcher))

    def test_release_of_the_last_instance_ends_the_server_unless_the_window_is_loaded(self):
        conn, inst, path = self.bus.create()
        pid = self.bus.server_pid(conn)
        dbus.Interface(conn.get_object(SERVICE, path), "tessera.Object").Release()
        self.assertTrue(self.bus.wait_gone(pid))
        # With the window loaded the server stays until the window closes.
        conn, inst, path = self.bus.create()
        pid = self.bus.server_pid(conn)
        self.draw3(inst)
        dbus.Interface(conn.get_object(SERVICE, path), "tessera.Object").Release()
        time.sleep(0.5)
        self.assertTrue(PrivateBus.running(pid))
        self.bus.debug(conn).closeWindow()
        self.assertTrue(self.bus.wait_gone(pid))


class OwnershipTest(ServerTestCase):
    def test_only_the_creating_connection_may_call_or_release_an_instance(self):
        owner, inst, path = self.bus.create()
        other = self.bus.connect()
        foreign = dbus.Interface(other.get_object(SERVICE, path), IFACE)
        denied = "org.freedesktop.DBus.Error.AccessDenied"
        calls = (lambda: foreign.test(1, 2), lambda: foreign.show(),
                 lambda: self.draw(foreign, "F"), lambda: self.draw3(foreign),
                 lambda: self.draw2(foreign, HEADER + 356 * 276), lambda: foreign.myend(),
                 lambda: dbus.Interface(other.get_object(SERVICE, path), "tessera.Object").Release())
        for call in calls:
            error = error_of(call)
            self.assertEqual(error[0], denied)
            self.assertIn("belongs to the bus connection that created it", error[1])
        self.assertEqual(self.tmp_files(), [])
        self.assertEqual(dict(self.bus.debug(owner).controls()), {})  # no window was loaded
        # The refused calls neither counted nor released: the owner's instance works.
        self.assertEqual(int(inst.test(1, 2)), 4)
        out = subprocess.run(["busctl", "--address=" + self.bus.address, "call", SERVICE, path,
                              IFACE, "test", "ii", "1", "2"], capture_output=True, text=True)
        self.assertNotEqual(out.returncode, 0)
        self.assertIn("Access denied", out.stderr)


class LimitsTest(ServerTestCase):
    PER_CLIENT, TOTAL = 64, 1024

    def factory(self, conn):
        return dbus.Interface(conn.get_object(SERVICE, CLASS_PATH), "tessera.ClassFactory")

    def children(self, conn):
        xml = dbus.Interface(conn.get_object(SERVICE, CLASS_PATH),
                             "org.freedesktop.DBus.Introspectable").Introspect()
        return re.findall(r'<node name="(\d+)"', xml)

    def test_live_instances_are_bounded_per_connection_and_in_total(self):
        first = self.bus.connect()
        self.bus.create(first)
        paths = [str(self.factory(first).CreateInstance()) for _ in range(self.PER_CLIENT - 1)]
        error = error_of(lambda: self.factory(first).CreateInstance())
        self.assertEqual(error[0], "org.freedesktop.DBus.Error.LimitsExceeded")
        self.assertIn("holds 64 tesseraClass instances", error[1])
        dbus.Interface(first.get_object(SERVICE, paths[0]), "tessera.Object").Release()
        self.factory(first).CreateInstance()
        # Fill the server from more connections, up to its total.
        others = [self.bus.connect() for _ in range(self.TOTAL // self.PER_CLIENT - 1)]
        for conn in others:
            for _ in range(self.PER_CLIENT):
                self.factory(conn).CreateInstance()
        late = self.bus.connect()
        error = error_of(lambda: self.factory(late).CreateInstance())
        self.assertEqual(error[0], "org.freedesktop.DBus.Error.LimitsExceeded")
        self.assertIn("1024", error[1])
        self.assertEqual(len(self.children(late)), self.TOTAL)
        # A client leaving gives its instances back.
        others[0].close()
        end = time.time() + 20
        while len(self.children(late)) > self.TOTAL - self.PER_CLIENT and time.time() < end:
            time.sleep(0.05)
        self.factory(late).CreateInstance()

    def test_released_instances_leave_no_registration_or_watch_behind(self):
        conn, inst, _ = self.bus.create()
        self.draw3(inst)  # the window keeps the server alive with no instance
        for _ in range(3):
            paths = [str(self.factory(conn).CreateInstance()) for _ in range(50)]
            for path in paths:
                dbus.Interface(conn.get_object(SERVICE, path), "tessera.Object").Release()
        self.assertEqual(self.children(conn), ["1"])
        # Clients that came and went leave no match rule of the server behind.
        for _ in range(20):
            client = dbus.bus.BusConnection(self.bus.address)
            self.factory(client).CreateInstance()
            client.close()
        daemon = dbus.Interface(conn.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus"),
                                "org.freedesktop.DBus.Debug.Stats")
        server = conn.get_name_owner(SERVICE)
        end = time.time() + 20
        while time.time() < end:
            stats = daemon.GetConnectionStats(server)
            if len(self.children(conn)) == 1 and int(stats["MatchRules"]) <= 3:
                break
            time.sleep(0.1)
        self.assertEqual(self.children(conn), ["1"])
        self.assertLessEqual(int(stats["MatchRules"]), 3)


class WindowTest(ServerTestCase):
    def test_the_window_loads_hidden_with_its_captions_and_the_size_texts(self):
        conn, inst, _ = self.bus.create()
        debug = self.bus.debug(conn)
        self.assertEqual(dict(debug.controls()), {})  # not loaded by the creation
        self.assertEqual(int(inst.show()), 0)
        texts = {str(k): str(v) for k, v in debug.controls().items()}
        self.assertEqual(texts["caption"], "tessera")
        self.assertEqual(texts["Text4"], " 356")
        self.assertEqual(texts["Text5"], " 276")
        self.assertEqual(texts["Text1"], "301234")
        self.assertEqual(texts["Text2"], "2771234")
        self.assertEqual(texts["Text3"], "20")
        self.assertEqual(texts["Command1"], "秀圖")
        self.assertEqual(texts["Command2"], "寬高")
        self.assertEqual(texts["Command3"], "清圖")
        self.assertEqual(texts["Label5"], "前次時間")
        self.assertEqual(texts["Label3"], "狀態")
        self.assertEqual(texts["Label2"], "xy")
        self.assertEqual(texts["P"], "356 276")
        self.assertEqual(texts["visible"], "1")

    def test_the_size_button_sets_the_outer_size_from_the_texts(self):
        conn, inst, _ = self.bus.create()
        inst.show()
        debug = self.bus.debug(conn)
        self.assertEqual(str(debug.press("Command2")), "")
        self.assertEqual(str(debug.controls()["P.outer"]), "356 276")
        self.assertEqual(str(debug.controls()["P"]), "352 272")
        debug.setText("Text4", "200abc")
        debug.setText("Text5", " 1 50")
        self.assertEqual(str(debug.press("Command2")), "")
        self.assertEqual(str(debug.controls()["P"]), "196 146")
        debug.setText("Text4", "-20")
        self.assertEqual(str(debug.press("Command2")), "380: Invalid property value")

    def test_the_draw_button_draws_and_leaves_the_labels_alone(self):
        conn, inst, _ = self.bus.create()
        inst.show()
        debug = self.bus.debug(conn)
        self.assertEqual(str(debug.press("Command1")), "")
        texts = debug.controls()
        self.assertEqual((str(texts["Label1"]), str(texts["Label4"])), ("", ""))
        shot = os.path.join(self.bus.root, "after-draw.png")
        self.assertTrue(debug.grabWindow(shot))
        inner = Image.open(shot).convert("RGB").crop((18, 50, 18 + 356, 50 + 276))
        self.assertGreater(len(inner.getcolors(4096)), 2)
        # The clear button empties the picture box.
        self.assertEqual(str(debug.press("Command3")), "")
        self.assertTrue(debug.grabWindow(shot))
        inner = Image.open(shot).convert("RGB").crop((18, 50, 18 + 356, 50 + 276))
        self.assertEqual(inner.getcolors(), [(356 * 276, BACKGROUND)])

    def test_the_draw_button_with_no_scale_clears_and_with_a_huge_x_overflows(self):
        conn, inst, _ = self.bus.create()
        inst.show()
        debug = self.bus.debug(conn)
        debug.setText("Text3", "abc")
        self.assertEqual(str(debug.press("Command1")), "")
        debug.setText("Text3", "20")
        debug.setText("Text1", "1e10")
        self.assertEqual(str(debug.press("Command1")), "6: Overflow")

    def test_closing_the_window_with_no_instance_alive_ends_the_server(self):
        conn, inst, path = self.bus.create()
        inst.show()
        pid = self.bus.server_pid(conn)
        dbus.Interface(conn.get_object(SERVICE, path), "tessera.Object").Release()
        time.sleep(0.3)
        self.assertTrue(PrivateBus.running(pid))
        self.bus.debug(conn).closeWindow()
        self.assertTrue(self.bus.wait_gone(pid))


class EngineLibrariesTest(ServerTestCase):
    def test_the_server_runs_with_the_server_only_library_in_the_engine_place(self):
        folder = tempfile.mkdtemp(prefix="tessera-srv-")
        try:
            os.symlink(os.path.join(LIBDIR, "libkestrelsrv.so"), os.path.join(folder, "libkestrel.so"))
            bus = PrivateBus(env={"LD_LIBRARY_PATH": folder,
                                  "TESSERA_ENGINE_PATH": os.path.join(folder, "libkestrel.so")})
            try:
                conn, inst, _ = bus.create()
                image = self.draw3(inst)
                self.assertEqual(image[:2], b"BM")
                self.assertEqual(bmp_image(image).size, (356, 276))
                calls, same, loaded = bus.debug(conn).engineState()
                self.assertEqual(int(calls), 1)
                self.assertTrue(same)
                self.assertEqual(str(loaded), os.path.join(folder, "libkestrel.so"))
            finally:
                bus.close()
        finally:
            shutil.rmtree(folder)

    def test_a_missing_engine_fails_the_creation_with_error_48(self):
        folder = tempfile.mkdtemp(prefix="tessera-none-")
        try:
            # An empty file found first by the bare name cannot be loaded.
            open(os.path.join(folder, "libkestrel.so"), "w").close()
            bus = PrivateBus(env={"LD_LIBRARY_PATH": folder})
            try:
                error = error_of(lambda: bus.create())
                self.assertEqual(error, ("tessera.Error.E48", "48: Error in loading DLL"))
            finally:
                bus.close()
        finally:
            shutil.rmtree(folder)


class RegistrationTest(unittest.TestCase):
    def test_regserver_writes_and_unregserver_removes_the_activation_file(self):
        home = tempfile.mkdtemp(prefix="tessera-reg-")
        try:
            env = dict(os.environ, XDG_DATA_HOME=home)
            subprocess.run([EXE, "--regserver"], env=env, check=True, capture_output=True)
            path = os.path.join(home, "dbus-1", "services", SERVICE + ".service")
            with open(path) as f:
                text = f.read()
            self.assertIn("Name=%s\n" % SERVICE, text)
            self.assertIn("Exec=%s\n" % os.path.realpath(EXE), text)
            subprocess.run([EXE, "--unregserver"], env=env, check=True, capture_output=True)
            self.assertFalse(os.path.exists(path))
        finally:
            shutil.rmtree(home)

    def test_help_explains_the_options_and_unknown_options_are_refused(self):
        out = subprocess.run([EXE, "--help"], capture_output=True, text=True, check=True).stdout
        self.assertIn("--regserver", out)
        bad = subprocess.run([EXE, "--bogus"], capture_output=True, text=True)
        self.assertEqual(bad.returncode, 2)
        self.assertIn("unknown option", bad.stderr)

    def test_without_a_bus_the_server_says_why_it_cannot_start(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/bus"
        result = subprocess.run([EXE], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot start", result.stderr)


class ScreenshotTest(unittest.TestCase):
    """Shows the window on an Xvfb display and takes a real screenshot of it."""

    def test_the_window_on_an_x_display(self):
        if shutil.which("Xvfb") is None or shutil.which("import") is None:
            self.skipTest("Xvfb or ImageMagick import missing")
        display = ":%d" % (90 + os.getpid() % 500)
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "640x480x24", "-nolisten", "tcp"],
                                stderr=subprocess.DEVNULL)
        try:
            time.sleep(1.0)
            bus = PrivateBus(display=display)
            try:
                conn, inst, _ = bus.create()
                inst.show()
                inst.draw2(dbus.Int32(CENTRE_X), dbus.Int32(CENTRE_Y), dbus.Double(20.0),
                           dbus.ByteArray(bytes(HEADER + 356 * 276)), timeout=CALL_TIMEOUT)
                time.sleep(1.0)
                shot = os.path.join(bus.root, "screen.png")
                subprocess.run(["import", "-display", display, "-window", "root", shot],
                               check=True, capture_output=True)
                screen = Image.open(shot).convert("RGB")
                # Without a window manager the window sits at the top-left of the screen.
                window = screen.crop((0, 0, 401, 377))
                colours = dict((c, n) for n, c in window.getcolors(65536))
                self.assertGreater(colours.get(BACKGROUND, 0), 5000)
                keep = os.environ.get("TESSERA_SCREENSHOT")
                if keep:
                    window.save(keep)
            finally:
                bus.close()
        finally:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    if not EXE or not os.path.exists(EXE):
        print("TESSERA_EXE must name the built tessera", file=sys.stderr)
        sys.exit(2)
    unittest.main()
