"""test_sample.py: checks of the sample data set that the build writes into the AppDir.

The files are read with sample_format.py, a reader written from the file layouts that shares
no code with the generator, the writer or the engine. Names are decoded with Python's own
cp950 codec (pairs of bytes, never byte by byte). Run as
    /usr/bin/python3 test_sample.py --data DIR --track FILE --gen KSAMPLE_GEN [--dump DUMP]
        [--view KVIEW] [unittest arguments, e.g. TestCapacities]
"""
import argparse
import collections
import filecmp
import math
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sample_format as sf  # noqa: E402

ARGS = None

MAX_RECORDS, MAX_VERTICES, MAX_NAMES, MAX_FILE = 10000, 100000, 5000, 2000000
ABSENT = {277026, 278026, 278027, 273032}
COLUMNS, ROWS = range(26, 33), range(273, 279)
CENTRE_TILE = 277030
FIXED_FILES = ["d4.txt", "dat44_1.bin", "dat44_2.bin", "alldist.txt", "dist.emf"]

_cache = {}


def tiles():
    if "tiles" not in _cache:
        _cache["tiles"] = sf.read_tiles(ARGS.data)
    return _cache["tiles"]


def big5_ok(raw):
    """True when the bytes decode as code page 950 without error."""
    try:
        raw.decode("cp950", errors="strict")
        return True
    except UnicodeDecodeError:
        return False


class TestFiles(unittest.TestCase):
    def test_the_build_writes_every_file_of_the_data_set(self):
        for name in FIXED_FILES:
            self.assertTrue(os.path.getsize(os.path.join(ARGS.data, name)) > 0, name)
        self.assertTrue(os.path.getsize(ARGS.track) > 0)

    def test_the_covered_area_is_at_least_six_by_five_tiles_around_the_default_centre(self):
        present = set(tiles())
        self.assertIn(CENTRE_TILE, present)
        self.assertEqual(present, {r * 1000 + c for r in ROWS for c in COLUMNS} - ABSENT)

    def test_the_absent_edge_tiles_have_no_file(self):
        for t in ABSENT:
            self.assertFalse(os.path.exists(os.path.join(ARGS.data, "%d.dat" % t)), t)
            col, row = t % 1000, t // 1000
            self.assertTrue(col in (COLUMNS[0], COLUMNS[-1]) or row in (ROWS[0], ROWS[-1]), t)

    def test_the_generator_explains_itself_and_refuses_bad_arguments(self):
        out = subprocess.run([ARGS.gen, "--help"], capture_output=True, text=True)
        self.assertEqual(out.returncode, 0)
        self.assertIn("--out DIR", out.stdout)
        self.assertIn("--track FILE", out.stdout)
        bad = subprocess.run([ARGS.gen, "--bogus"], capture_output=True, text=True)
        self.assertEqual(bad.returncode, 2)
        self.assertIn("--bogus", bad.stderr)
        missing = subprocess.run([ARGS.gen], capture_output=True, text=True)
        self.assertEqual(missing.returncode, 2)


class TestCapacities(unittest.TestCase):
    def test_every_tile_keeps_within_the_engine_capacities(self):
        for number, t in tiles().items():
            self.assertLessEqual(t.records(), MAX_RECORDS, number)
            self.assertLessEqual(t.file_vertices + t.decoded_vertices, MAX_VERTICES, number)
            self.assertLessEqual(len(t.names), MAX_NAMES, number)
            self.assertLessEqual(t.size, MAX_FILE, number)

    def test_every_tile_names_itself_and_keeps_its_features_inside_it(self):
        for number, t in tiles().items():
            self.assertEqual(t.number, number)
            x0, y0 = (number % 1000) * 10000, (number // 1000) * 10000
            for feature in [rd["points"] for rd in t.roads] + [pts for _, pts in t.lines]:
                for x, y in feature:
                    self.assertTrue(x0 <= x <= x0 + 10000 and y0 <= y <= y0 + 10000, (number, x, y))

    def test_point_records_come_after_every_line_and_area(self):
        for number, t in tiles().items():
            self.assertTrue(all(10 <= ty <= 20 for ty, _ in t.lines), number)
            self.assertTrue(all(1 <= rd["type"] <= 9 for rd in t.roads), number)
            self.assertTrue(all(ty > 20 for ty, _, _ in t.places + t.coded), number)

    def test_the_central_tiles_hold_thousands_of_roads_and_the_edges_fewer(self):
        self.assertGreater(len(tiles()[CENTRE_TILE].roads), 3000)
        edge = [len(t.roads) for n, t in tiles().items() if n % 1000 in (26, 32) or n // 1000 in (273, 278)]
        self.assertLess(max(edge), len(tiles()[CENTRE_TILE].roads))


class TestContent(unittest.TestCase):
    def test_roads_of_every_type_one_to_nine_are_present(self):
        types = {rd["type"] for t in tiles().values() for rd in t.roads}
        self.assertEqual(types, set(range(1, 10)))

    def test_areas_lines_place_labels_and_coded_points_of_every_kind_are_present(self):
        lines = {ty for t in tiles().values() for ty, _ in t.lines}
        self.assertTrue({10, 11, 12, 13, 14, 15} <= lines, lines)
        places = {ty for t in tiles().values() for ty, _, _ in t.places}
        self.assertTrue({21, 22, 23, 24} <= places, places)
        self.assertTrue(any(t.coded for t in tiles().values()))

    def test_roads_belong_to_several_districts_with_codes_from_100(self):
        districts = {rd["district"] for t in tiles().values() for rd in t.roads}
        self.assertTrue(all(d >= 100 for d in districts))
        self.assertGreaterEqual(len(districts), 8)

    def test_names_include_unnamed_roads_ascii_digits_and_names_shared_by_districts(self):
        names = [rd["name"] for t in tiles().values() for rd in t.roads]
        self.assertTrue(any(n[:1] == b" " for n in names), "no unnamed road")
        named = [n for n in names if n[:1] != b" "]
        self.assertTrue(any(any(0x30 <= b <= 0x39 for b in n.rstrip(b" ")) for n in named), "no digits")
        by_name = collections.defaultdict(set)
        for t in tiles().values():
            for rd in t.roads:
                if rd["name"][:1] != b" ":
                    by_name[rd["name"]].add(rd["district"])
        self.assertGreater(sum(1 for d in by_name.values() if len(d) > 1), 20)

    def test_roads_are_cut_at_tile_borders_into_pieces_that_meet_there(self):
        # A named road leaving a tile continues in the neighbour from the same border point.
        ends = collections.defaultdict(set)
        for number, t in tiles().items():
            for rd in t.roads:
                for p in (rd["points"][0], rd["points"][-1]):
                    if p[0] % 10000 == 0 or p[1] % 10000 == 0:
                        ends[(p, rd["name"])].add(number)
        self.assertGreater(sum(1 for tiles_ in ends.values() if len(tiles_) >= 2), 200)

    def test_meeting_roads_share_a_vertex_in_the_centre_tile(self):
        t = tiles()[CENTRE_TILE]
        owners = collections.defaultdict(set)
        for rd in t.roads:
            if rd["name"][:1] != b" ":
                for p in rd["points"]:
                    owners[p].add(rd["name"])
        self.assertGreater(sum(1 for names in owners.values() if len(names) >= 2), 2000)

    def test_long_roads_are_split_into_several_features(self):
        counts = collections.Counter(rd["name"] for rd in tiles()[CENTRE_TILE].roads if rd["type"] <= 6)
        self.assertGreater(max(counts.values()), 3)


class TestTileIndex(unittest.TestCase):
    def test_every_tile_holding_a_road_of_a_district_is_listed_for_it_and_nothing_else(self):
        wanted = {(rd["district"], n) for n, t in tiles().items() for rd in t.roads}
        listed = sf.read_d4(ARGS.data)
        self.assertEqual(len(listed), len(set(listed)), "a pair is listed twice")
        self.assertEqual(set(listed), wanted)
        self.assertLessEqual(len(listed), 2000)


class TestNames(unittest.TestCase):
    def test_every_tile_name_is_valid_big5(self):
        for number, t in tiles().items():
            for raw in t.names:
                self.assertEqual(len(raw), 20)
                self.assertTrue(big5_ok(raw), (number, raw))

    def test_road_names_read_as_traditional_chinese_street_names(self):
        decoded = {rd["name"].decode("cp950").rstrip() for rd in tiles()[CENTRE_TILE].roads}
        self.assertTrue(any(n.endswith("路") for n in decoded))
        self.assertTrue(any(n.endswith("街") for n in decoded))
        self.assertTrue(any(n.endswith("巷") for n in decoded))
        self.assertTrue(any("段" in n for n in decoded))

    def test_poi_names_and_notes_are_valid_big5(self):
        with open(os.path.join(ARGS.data, "dat44_2.bin"), "rb") as f:
            notes = f.read()
        self.assertEqual(len(notes) % sf.POI_NOTE_BYTES, 0)
        for poi in sf.read_pois(ARGS.data):
            self.assertTrue(big5_ok(poi[6]), poi)
            if poi[5] >= 0:
                self.assertTrue(big5_ok(notes[poi[5] * 52:(poi[5] + 1) * 52]), poi)

    def test_catalogue_names_are_valid_big5_single_tokens_of_at_most_ten_bytes(self):
        for kind, name, _ in sf.read_catalogue(ARGS.data):
            if kind != "pline":
                self.assertTrue(0 < len(name) <= 10 and big5_ok(name), name)


class TestPointsOfInterest(unittest.TestCase):
    def test_points_of_interest_span_several_categories_districts_and_tiles(self):
        pois = sf.read_pois(ARGS.data)
        self.assertGreater(len(pois), 1000)
        self.assertGreaterEqual(len({p[4] for p in pois}), 8)
        self.assertGreaterEqual(len({p[3] for p in pois}), 8)
        self.assertGreaterEqual(len({p[0] for p in pois}), 10)
        self.assertTrue(all(p[3] >= 100 for p in pois))

    def test_points_lie_inside_their_tiles_and_names_are_blank_padded(self):
        for tile, x, y, _, _, _, name in sf.read_pois(ARGS.data):
            self.assertTrue(0 <= x < 10000 and 0 <= y < 10000, (tile, x, y))
            self.assertNotIn(b"\0", name)
            self.assertNotEqual(name[:1], b" ")

    def test_some_points_have_notes_and_some_do_not(self):
        with open(os.path.join(ARGS.data, "dat44_2.bin"), "rb") as f:
            count = len(f.read()) // 52
        notes = [p[5] for p in sf.read_pois(ARGS.data)]
        self.assertIn(-1, notes)
        with_note = [n for n in notes if n >= 0]
        self.assertTrue(with_note)
        self.assertTrue(all(n < count for n in with_note))


class TestCatalogue(unittest.TestCase):
    def test_the_catalogue_holds_every_kind_within_its_capacities(self):
        entries = sf.read_catalogue(ARGS.data)
        kinds = collections.Counter(k for k, _, _ in entries)
        self.assertTrue(all(kinds[k] > 0 for k in ("pline", "city", "point", "poin22")), kinds)
        self.assertLessEqual(len(entries), 2000)
        first = 0
        for _, _, pts in entries:
            self.assertLess(first, 32768)
            first += len(pts)
        self.assertLessEqual(first, 80000)

    def test_the_base_map_is_an_enhanced_metafile(self):
        with open(os.path.join(ARGS.data, "dist.emf"), "rb") as f:
            head = f.read(88)
        self.assertEqual(int.from_bytes(head[0:4], "little"), 1)  # EMR_HEADER
        self.assertEqual(head[40:44], b" EMF")


class TestTrack(unittest.TestCase):
    def read(self):
        points = []
        with open(ARGS.track, "rb") as f:
            for line in f:
                if line[:2] == b"xy":
                    _, x, y = line.split()
                    points.append((int(x), int(y)))
        return points

    def test_the_track_is_a_long_continuous_drive_inside_the_accepted_ranges(self):
        points = self.read()
        self.assertGreater(len(points), 1000)
        self.assertLessEqual(len(points), 20000)
        for x, y in points:
            self.assertTrue(110000 < x < 360000 and 2410000 < y < 2810000)
        for a, b in zip(points, points[1:]):
            self.assertLess(math.dist(a, b), 40)

    def test_the_track_follows_the_roads(self):
        # Every 20th point lies within a few metres of a road segment of its tile.
        points = self.read()[::20]
        for x, y in points:
            t = tiles()[(y // 10000) * 1000 + x // 10000]
            best = min(self._seg_dist((x, y), rd["points"]) for rd in t.roads
                       if abs(rd["points"][0][0] - x) < 3000 and abs(rd["points"][0][1] - y) < 3000)
            self.assertLess(best, 10, (x, y))

    @staticmethod
    def _seg_dist(p, pts):
        best = 1e18
        for (ax, ay), (bx, by) in zip(pts, pts[1:]):
            dx, dy = bx - ax, by - ay
            l2 = dx * dx + dy * dy
            t = 0 if l2 == 0 else max(0.0, min(1.0, ((p[0] - ax) * dx + (p[1] - ay) * dy) / l2))
            best = min(best, math.hypot(ax + t * dx - p[0], ay + t * dy - p[1]))
        return best


class TestDeterminism(unittest.TestCase):
    def test_a_second_run_writes_identical_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "kgrid") + "/"
            track = os.path.join(tmp, "track.txt")
            subprocess.run([ARGS.gen, "--quiet", "--out", out, "--track", track], check=True)
            names = sorted(os.listdir(ARGS.data))
            self.assertEqual(sorted(os.listdir(out)), names)
            match, mismatch, errors = filecmp.cmpfiles(ARGS.data, out, names, shallow=False)
            self.assertEqual((mismatch, errors), ([], []))
            self.assertTrue(filecmp.cmp(ARGS.track, track, shallow=False))


class TestReadBack(unittest.TestCase):
    def test_the_dump_command_reads_the_data_set_without_complaint(self):
        if not ARGS.dump:
            self.skipTest("kdataset-dump is not built")
        out = subprocess.run([ARGS.dump, ARGS.data.rstrip("/") + "/"], capture_output=True)
        self.assertEqual(out.returncode, 0, out.stderr.decode(errors="replace"))
        for n in tiles():
            self.assertIn(b"%d" % n, out.stdout)

    def test_the_engine_draws_a_dense_road_map_at_the_default_centre(self):
        if not ARGS.view:
            self.skipTest("kview is not built")
        try:
            from PIL import Image
        except ImportError:
            self.skipTest("Pillow is missing")
        with tempfile.TemporaryDirectory() as tmp:
            png = os.path.join(tmp, "view.png")
            subprocess.run([ARGS.view, "--data", ARGS.data.rstrip("/") + "/", "--centre", "301234,2771234",
                            "--scale", "10", "--size", "400x300", "--output", png], check=True)
            img = Image.open(png).convert("RGB")
            pixels = list(img.getdata())
            ink = sum(1 for p in pixels if p != (255, 255, 255))
            self.assertGreater(ink / len(pixels), 0.2)  # roads cover a good part of a city view
            self.assertIn((0, 0, 0), pixels)            # labels
            self.assertGreater(len(set(pixels)), 4)     # several road colours


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--data", required=True)
    parser.add_argument("--track", required=True)
    parser.add_argument("--gen", required=True)
    parser.add_argument("--dump", default="")
    parser.add_argument("--view", default="")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
