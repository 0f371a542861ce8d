"""The norvisk module: the graph objects' worked examples through Python, statuses as
exceptions, bytes equal to the norvisk command's files, and handles that do not leak."""

import os
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

import norvisk

# The reading of BMP and PNG files the tests share, none of it the library's.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "support"))
from picture_pixels import bmp_rgb, difference, png_rgb  # noqa: E402

BAR = "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)"
XY = "(Jan;10)(Feb;20)(Mar;15)(Apr;12)"
COMMAND = os.environ.get("NORVISK_BINARY")


def bmp_size(width, height):
    return 54 + (width * 3 + 3) // 4 * 4 * height


def le32(data, at):
    return int.from_bytes(data[at:at + 4], "little")


class Folder(unittest.TestCase):
    def assertSamePicture(self, got, want):
        """Pictures as (width, height, RGB)."""
        why = difference(got, want)
        if why:
            self.fail(why)

    def setUp(self):
        self._folder = tempfile.TemporaryDirectory(prefix="norvisk-python-")
        self.folder = self._folder.name

    def tearDown(self):
        self._folder.cleanup()

    def path(self, name):
        return os.path.join(self.folder, name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()


class StatusTest(Folder):
    def test_fresh_graph_refuses_adding_and_has_nothing_to_save(self):
        with norvisk.Graph() as g:
            self.assertRaises(norvisk.KindError, g.add_bar_value, 1.5)
            self.assertRaises(norvisk.KindError, g.add_xy_value, "a", 1)
            self.assertRaises(norvisk.KindError, g.add_bar_bar, "a")
            g.clear()  # done, also without a graph
            self.assertRaises(norvisk.KindError, g.save_to_file, self.path("none.bmp"))
            self.assertFalse(os.path.exists(self.path("none.bmp")))
            self.assertRaises(norvisk.KindError, g.encode, "bmp")
            self.assertRaises(norvisk.KindError, g.set_width, 800)

    def test_kinds_do_not_mix(self):
        with norvisk.Graph() as g:
            g.create_xy_graph()
            self.assertRaises(norvisk.KindError, g.add_bar_bar, "a")
            g.add_xy_value("a", 1)
            before = g.encode("bmp")
            self.assertRaises(norvisk.KindError, g.add_bar_legend, "b")
            self.assertEqual(g.encode("bmp"), before)  # the XY graph is unchanged
            g.create_bar_graph()
            self.assertRaises(norvisk.KindError, g.add_xy_value, "a", 1)
            # A drawing method replaces an XY graph with a bar graph.
            g.create_xy_graph()
            g.draw_bar_graph(self.path("bar.bmp"), BAR)
            self.assertRaises(norvisk.KindError, g.add_xy_value, "a", 1)
            g.add_bar_value(3)

    def test_clear_keeps_the_kind_and_leaves_only_later_data(self):
        with norvisk.Graph() as g, norvisk.Graph() as fresh:
            g.create_bar_graph()
            g.add_bar_bar("gone")
            g.add_bar_value(99)
            g.clear()
            g.add_bar_bar("kept")
            g.add_bar_value(5)
            fresh.create_bar_graph()
            fresh.add_bar_bar("kept")
            fresh.add_bar_value(5)
            self.assertEqual(g.encode("bmp"), fresh.encode("bmp"))

    def test_nothing_written_is_an_error(self):
        with norvisk.Graph() as g:
            g.create_xy_graph()
            self.assertRaises(norvisk.NotWrittenError, g.encode)
            self.assertRaises(norvisk.NotWrittenError, g.draw_xy_graph, self.path("x.jpg"), "")
            self.assertFalse(os.path.exists(self.path("x.jpg")))
            g.add_xy_value("a", 1)
            for name in ("OUT.BMP", "out.jpeg", "chart"):
                self.assertRaises(norvisk.NotWrittenError, g.save_to_file, self.path(name))
                self.assertFalse(os.path.exists(self.path(name)))
            self.assertRaises(norvisk.NotWrittenError, g.save_to_file,
                              self.path(os.path.join("missing", "x.bmp")))
            g.save_to_file(self.path("x.bmp.jpg"))
            self.assertEqual(self.read("x.bmp.jpg")[:2], b"BM")
        self.assertRaises(norvisk.NotWrittenError, norvisk.xy_chart, "no pairs")
        self.assertRaises(norvisk.NotWrittenError, norvisk.bar_chart, BAR, "bmp", 0, 300)

    def test_a_failed_save_keeps_the_old_file(self):
        with norvisk.Graph() as g:
            g.draw_bar_graph(self.path("chart.jpg"), BAR)
            old = self.read("chart.jpg")
            g.set_width(70000)  # wider than a JPEG may be
            self.assertRaises(norvisk.NotWrittenError, g.save_to_file, self.path("chart.jpg"))
            self.assertEqual(self.read("chart.jpg"), old)
            self.assertEqual(os.listdir(self.folder), ["chart.jpg"])
            # A save that works replaces it whole, and a link to it stays a link.
            g.set_width(320)
            os.symlink("chart.jpg", self.path("link.jpg"))
            g.save_to_file(self.path("link.jpg"))
            self.assertTrue(os.path.islink(self.path("link.jpg")))
            self.assertEqual(self.read("chart.jpg"), g.encode("jpeg"))
            self.assertEqual(sorted(os.listdir(self.folder)), ["chart.jpg", "link.jpg"])

    def test_bad_arguments(self):
        with norvisk.Graph() as g:
            g.create_bar_graph()
            self.assertRaises(TypeError, g.add_bar_bar, 5)
            self.assertRaises(TypeError, g.add_bar_bar, None)
            self.assertRaises(TypeError, g.add_bar_value, "5")
            self.assertRaises(TypeError, g.add_bar_value, True)
            self.assertRaises(TypeError, g.set_width, 8.5)
            self.assertRaises(ValueError, g.set_width, 2 ** 31)
            self.assertRaises(ValueError, g.add_bar_bar, "a\0b")
            self.assertRaises(ValueError, g.encode, "gif")
            self.assertRaises(TypeError, g.encode, 2)
            g.add_bar_bar(b"bytes are taken as they are")
        g.close()  # a second close does nothing
        self.assertRaises(ValueError, g.add_bar_bar, "closed")
        self.assertRaises(ValueError, g.encode)
        self.assertRaises(TypeError, norvisk.bar_chart, None)
        self.assertRaises(ValueError, norvisk.bar_chart, BAR, "gif")
        self.assertRaises(TypeError, norvisk.xy_chart, XY, "jpeg", "640")

    def test_out_of_memory_is_memory_error(self):
        # A surface within the size limit that the address-space limit refuses: in a child, so
        # that the limit stays there.
        script = (
            "import resource, norvisk\n"
            "soft, hard = resource.getrlimit(resource.RLIMIT_AS)\n"
            "with open('/proc/self/statm') as f: pages = int(f.read().split()[0])\n"
            "resource.setrlimit(resource.RLIMIT_AS, (pages * resource.getpagesize() + (64 << 20), hard))\n"
            "try:\n"
            "    norvisk.bar_chart('(a)(b;1)', 'bmp', 9000, 9000)\n"
            "except MemoryError:\n"
            "    g = norvisk.Graph(); g.create_bar_graph(); g.add_bar_bar('still usable')\n"
            "    print('MemoryError', len(norvisk.bar_chart('(a)(b;1)', 'bmp', 64, 32)))\n")
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              timeout=120, env=os.environ)
        self.assertEqual(done.stdout.strip(), "MemoryError %d" % bmp_size(64, 32), done.stderr)


class PictureTest(Folder):
    def command(self, kind, name, data, *size):
        if not COMMAND:
            self.skipTest("NORVISK_BINARY is not set")
        args = [COMMAND, kind, self.path(name), data]
        if size:
            args += ["--width", str(size[0]), "--height", str(size[1])]
        subprocess.run(args, check=True, timeout=60)
        return self.read(name)

    def test_bytes_equal_the_command_files(self):
        for fmt, ext in (("bmp", "bmp"), ("jpeg", "jpg"), ("png", "png")):
            for size in ((640, 300), (701, 333)):
                with self.subTest(format=fmt, size=size):
                    want = self.command("bar", "bar." + ext, BAR, *size)
                    self.assertEqual(norvisk.bar_chart(BAR, fmt, *size), want)
                    want = self.command("xy", "xy." + ext, XY, *size)
                    self.assertEqual(norvisk.xy_chart(XY, fmt, *size), want)

    def test_handle_file_encode_and_command_agree(self):
        want = self.command("bar", "command.jpg", BAR)
        with norvisk.Graph() as g:
            g.draw_bar_graph(self.path("drawn.jpg"), BAR)
            self.assertEqual(self.read("drawn.jpg"), want)
            self.assertEqual(g.encode(), want)
            g.save_to_file(self.path("again.jpg"))
            self.assertEqual(self.read("again.jpg"), want)
            # Item by item, the same picture as the data string.
            g.create_bar_graph()
            for legend in ("Q1", "Q2", "Q3"):
                g.add_bar_legend(legend)
            for name, values in (("North", (10, 20, 30)), ("South", (15, 25, 35)),
                                 ("East", (5, 10, 5))):
                g.add_bar_bar(name)
                for v in values:
                    g.add_bar_value(v)
            self.assertEqual(g.encode("jpeg"), want)

    def test_png_holds_exactly_the_bitmap_pixels(self):
        # 640 x 300, a width that is no multiple of 4, one pixel, more than the background.
        for size in ((640, 300), (333, 201), (1, 1), (900, 450)):
            for chart, data in ((norvisk.bar_chart, BAR), (norvisk.xy_chart, XY)):
                with self.subTest(chart=chart.__name__, size=size):
                    png = chart(data, "png", *size)
                    self.assertSamePicture(png_rgb(png), bmp_rgb(chart(data, "bmp", *size)))
                    if shutil.which("pngcheck"):
                        with open(self.path("chart.png"), "wb") as f:
                            f.write(png)
                        done = subprocess.run(["pngcheck", self.path("chart.png")],
                                              capture_output=True, text=True, timeout=60)
                        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        # A size of no picture gives none.
        self.assertRaises(norvisk.NotWrittenError, norvisk.bar_chart, BAR, "png", 0, 300)
        self.assertRaises(norvisk.NotWrittenError, norvisk.xy_chart, "no pairs", "png")

    def test_png_is_encoded_but_never_saved_by_name(self):
        # save_to_file is the component's SaveToFile: a ".png" name is a name of no format, and
        # the file there stays as it was.
        with open(self.path("chart.png"), "wb") as f:
            f.write(b"old")
        with norvisk.Graph() as g:
            g.create_bar_graph()
            g.add_bar_bar("a")
            g.add_bar_value(1)
            self.assertRaises(norvisk.NotWrittenError, g.save_to_file, self.path("chart.png"))
            self.assertRaises(norvisk.NotWrittenError, g.draw_xy_graph, self.path("xy.png"), XY)
            self.assertEqual(g.encode("png")[:8], b"\x89PNG\r\n\x1a\n")
            self.assertSamePicture(png_rgb(g.encode("png")), bmp_rgb(g.encode("bmp")))
        self.assertEqual(self.read("chart.png"), b"old")
        self.assertEqual(os.listdir(self.folder), ["chart.png"])

    def test_resized_graph_keeps_black_beyond_the_background(self):
        with norvisk.Graph() as g:
            g.create_bar_graph()
            g.set_width(800)
            g.set_height(400)
            g.add_bar_bar("a")
            g.add_bar_value(1)
            g.save_to_file(self.path("big.bmp"))
            data = self.read("big.bmp")
            self.assertEqual(len(data), bmp_size(800, 400))
            self.assertEqual((le32(data, 18), le32(data, 22)), (800, 400))
            # Bottom-right pixel (first row in the file) is black; top-left is background.
            self.assertEqual(data[54 + 799 * 3:54 + 800 * 3], b"\0\0\0")
            self.assertNotEqual(data[54 + 2400 * 399:54 + 2400 * 399 + 3], b"\0\0\0")
            # A drawing method makes a new graph at 640 x 300.
            g.draw_bar_graph(self.path("small.bmp"), BAR)
            self.assertEqual(len(self.read("small.bmp")), bmp_size(640, 300))

    def test_texts_are_utf8(self):
        self.assertEqual(norvisk.xy_chart("(été;1)(b;2)", "bmp"),
                         norvisk.xy_chart(b"(\xe9t\xe9;1)(b;2)", "bmp"))
        self.assertNotEqual(norvisk.xy_chart("(été;1)(b;2)", "bmp"),
                            norvisk.xy_chart("(ete;1)(b;2)", "bmp"))

    def test_path_like_file_names(self):
        import pathlib
        with norvisk.Graph() as g:
            g.draw_xy_graph(pathlib.Path(self.path("p.bmp")), XY)
        self.assertEqual(self.read("p.bmp"), norvisk.xy_chart(XY, "bmp"))


class LifetimeTest(unittest.TestCase):
    def test_thousand_graphs_made_and_freed(self):
        def rss():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * resource.getpagesize()

        norvisk.bar_chart(BAR)  # what is made once per thread
        start = norvisk.live_graphs()
        memory = rss()
        for k in range(1000):
            if k % 2:
                with norvisk.Graph() as g:
                    g.create_bar_graph()
                    g.add_bar_bar("a")
                    g.add_bar_value(k)
                    if k % 50 == 1:
                        g.encode("jpeg")
            else:
                g = norvisk.Graph()
                g.create_xy_graph()
                g.add_xy_value("a", k)
                del g  # freed by the collector
            self.assertLessEqual(norvisk.live_graphs(), start + 1)
        self.assertEqual(norvisk.live_graphs(), start)
        # A graph holds a 576 KB canvas: a leak of each would show as hundreds of megabytes.
        self.assertLess(rss() - memory, 32 << 20)


class ModuleTest(unittest.TestCase):
    def test_version(self):
        parts = norvisk.version().split(".")
        self.assertEqual(len(parts), 3)
        self.assertTrue(all(p.isdigit() for p in parts))

    def test_library_named_by_environment_must_exist(self):
        script = "import norvisk"
        env = dict(os.environ, NORVISK_LIBRARY="/nonexistent/libnorvisk.so.1")
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              timeout=60, env=env)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("libnorvisk not found", done.stderr)


if __name__ == "__main__":
    unittest.main()
