"""Stacked bar and XY line charts as BMP, JPEG or PNG bytes, over libnorvisk (through ctypes).

    import norvisk
    jpeg = norvisk.bar_chart("(Q1;Q2)(North;10;20)(South;15;25)")
    png = norvisk.bar_chart("(Q1;Q2)(North;10;20)(South;15;25)", format="png")
    with norvisk.Graph() as graph:
        graph.create_xy_graph()
        graph.add_xy_value("Jan", 10)
        graph.add_xy_value("Feb", 20)
        bmp = graph.encode("bmp")

The library is looked for through the NORVISK_LIBRARY environment variable (a path), then beside
this package, then in the lib folder of the prefix the package is installed under, then by its
name libnorvisk.so.1 where the system finds shared libraries.
"""

import ctypes
import os
import threading

__all__ = ["Graph", "bar_chart", "xy_chart", "version", "Error", "KindError", "NotWrittenError"]

_OK, _WRONG_KIND, _NO_MEMORY, _NOT_WRITTEN, _BAD_ARGUMENT = range(5)
_FORMATS = {"bmp": 1, "jpeg": 2, "png": 3}
_INT_MIN, _INT_MAX = -(2 ** 31), 2 ** 31 - 1
_SONAME = "libnorvisk.so.1"


class Error(Exception):
    """A status of the library that is not one of Python's own errors."""


class KindError(Error):
    """The call does not fit the kind of the current graph, or there is no graph."""


class NotWrittenError(Error):
    """No picture: a file that could not be written, an XY graph without points, a size of no
    picture, a file name of no format."""


def _candidates():
    named = os.environ.get("NORVISK_LIBRARY")
    if named:
        yield named
        return
    here = os.path.dirname(os.path.abspath(__file__))
    yield os.path.join(here, _SONAME)
    # <prefix>/lib/python3*/dist-packages/norvisk -> <prefix>/lib
    yield os.path.normpath(os.path.join(here, "..", "..", "..", _SONAME))
    yield _SONAME


def _load():
    tried = []
    for path in _candidates():
        if os.sep in path and not os.path.exists(path):
            tried.append(path)
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append("%s (%s)" % (path, error))
    raise ImportError("libnorvisk not found; tried: " + "; ".join(tried))


_lib = _load()

_handle = ctypes.c_void_p
_out_bytes = ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))
_out_size = ctypes.POINTER(ctypes.c_size_t)


def _declare(name, restype, *argtypes):
    function = getattr(_lib, name)
    function.restype = restype
    function.argtypes = list(argtypes)
    return function


_graph_new = _declare("norvisk_graph_new", _handle)
_graph_free = _declare("norvisk_graph_free", None, _handle)
_free = _declare("norvisk_free", None, ctypes.c_void_p)
_status_text = _declare("norvisk_status_text", ctypes.c_char_p, ctypes.c_int)
_version = _declare("norvisk_version", ctypes.c_char_p)
_encode = _declare("norvisk_encode", ctypes.c_int, _handle, ctypes.c_int, _out_bytes, _out_size)
_charts = {
    kind: _declare("norvisk_%s_chart" % kind, ctypes.c_int, ctypes.c_char_p, ctypes.c_int,
                   ctypes.c_int, ctypes.c_int, _out_bytes, _out_size)
    for kind in ("bar", "xy")
}
_calls = {
    "create_bar_graph": (),
    "create_xy_graph": (),
    "add_bar_legend": (ctypes.c_char_p,),
    "add_bar_bar": (ctypes.c_char_p,),
    "add_bar_value": (ctypes.c_double,),
    "add_xy_value": (ctypes.c_char_p, ctypes.c_double),
    "clear": (),
    "set_width": (ctypes.c_int,),
    "set_height": (ctypes.c_int,),
    "save_to_file": (ctypes.c_char_p,),
    "draw_bar_graph": (ctypes.c_char_p, ctypes.c_char_p),
    "draw_xy_graph": (ctypes.c_char_p, ctypes.c_char_p),
}
_functions = {name: _declare("norvisk_" + name, ctypes.c_int, _handle, *args)
              for name, args in _calls.items()}

_live = 0
_live_lock = threading.Lock()


def version():
    """The library's version, "major.minor.patch"."""
    return _version().decode("ascii")


def live_graphs():
    """How many Graph objects of this module hold a handle of the library now."""
    return _live


def _check(status):
    if status == _OK:
        return
    text = _status_text(status).decode("ascii", "replace")
    if status == _WRONG_KIND:
        raise KindError(text)
    if status == _NO_MEMORY:
        raise MemoryError(text)
    if status == _NOT_WRITTEN:
        raise NotWrittenError(text)
    raise ValueError(text)


def _text(value, what):
    if isinstance(value, str):
        value = value.encode("utf-8", "surrogateescape")
    elif isinstance(value, (bytes, bytearray)):
        value = bytes(value)
    else:
        raise TypeError("%s must be str or bytes, not %s" % (what, type(value).__name__))
    if b"\0" in value:
        raise ValueError("%s must not contain a zero character" % what)
    return value


def _path(value):
    if isinstance(value, os.PathLike):
        value = os.fspath(value)
    if isinstance(value, str):
        value = os.fsencode(value)
    return _text(value, "file name")


def _number(value, what):
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError("%s must be a number, not %s" % (what, type(value).__name__))
    return float(value)


def _size(value, what):
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int, not %s" % (what, type(value).__name__))
    if not _INT_MIN <= value <= _INT_MAX:
        raise ValueError("%s out of range: %d" % (what, value))
    return value


def _format(value):
    if not isinstance(value, str):
        raise TypeError("format must be str, not %s" % type(value).__name__)
    try:
        return _FORMATS[value.lower()]
    except KeyError:
        raise ValueError('format must be "jpeg", "bmp" or "png", not %r' % value) from None


def _take(call):
    """Runs call(out, size) and returns its picture as the one bytes object it is copied into."""
    out = ctypes.POINTER(ctypes.c_ubyte)()
    size = ctypes.c_size_t(0)
    status = call(ctypes.byref(out), ctypes.byref(size))
    try:
        _check(status)
        return ctypes.string_at(out, size.value)
    finally:
        _free(out)


def _chart(kind, data, format, width, height):
    data = _text(data, "data")
    code = _format(format)
    width = _size(width, "width")
    height = _size(height, "height")
    return _take(lambda out, size: _charts[kind](data, width, height, code, out, size))


def bar_chart(data, format="jpeg", width=640, height=300):
    """A bar chart of the data string "(legend;...)(bar;value;...)...", as file bytes."""
    return _chart("bar", data, format, width, height)


def xy_chart(data, format="jpeg", width=640, height=300):
    """An XY chart of the data string "(label;value)(label;value)...", as file bytes."""
    return _chart("xy", data, format, width, height)


class Graph:
    """The non-visual graph object: at most one graph, bar or XY, made at 640 x 300.

    Use one Graph on one thread at a time; different Graphs may be used on different threads.
    """

    def __init__(self):
        global _live
        handle = _graph_new()
        if not handle:
            raise MemoryError("no memory for a graph object")
        self._handle = handle
        with _live_lock:
            _live += 1

    def close(self):
        """Releases the library's object; further calls raise ValueError."""
        global _live
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            _graph_free(handle)
            with _live_lock:
                _live -= 1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:  # at interpreter exit the module's names may already be gone
            pass

    def _call(self, name, *args):
        if not self._handle:
            raise ValueError("the graph is closed")
        _check(_functions[name](self._handle, *args))

    def create_bar_graph(self):
        self._call("create_bar_graph")

    def create_xy_graph(self):
        self._call("create_xy_graph")

    def add_bar_legend(self, legend):
        self._call("add_bar_legend", _text(legend, "legend"))

    def add_bar_bar(self, name):
        self._call("add_bar_bar", _text(name, "name"))

    def add_bar_value(self, value):
        self._call("add_bar_value", _number(value, "value"))

    def add_xy_value(self, label, value):
        self._call("add_xy_value", _text(label, "label"), _number(value, "value"))

    def clear(self):
        self._call("clear")

    def set_width(self, width):
        self._call("set_width", _size(width, "width"))

    def set_height(self, height):
        self._call("set_height", _size(height, "height"))

    def save_to_file(self, file_name):
        """Writes the picture as the component's SaveToFile does: a bitmap for a name containing
        ".bmp", else a JPEG for one containing ".jpg", else nothing (a ".png" name too; encode
        gives PNG bytes). A file that is there is replaced only by a complete one, and is left as
        it was when NotWrittenError is raised."""
        self._call("save_to_file", _path(file_name))

    def draw_bar_graph(self, file_name, data):
        self._call("draw_bar_graph", _path(file_name), _text(data, "data"))

    def draw_xy_graph(self, file_name, data):
        self._call("draw_xy_graph", _path(file_name), _text(data, "data"))

    def encode(self, format="jpeg"):
        """The picture save_to_file would write, as the bytes of a "jpeg", "bmp" or "png" file."""
        code = _format(format)
        if not self._handle:
            raise ValueError("the graph is closed")
        handle = self._handle
        return _take(lambda out, size: _encode(handle, code, out, size))
