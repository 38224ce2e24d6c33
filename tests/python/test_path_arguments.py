"""Every path parameter takes what Python's file functions take: str, bytes (bytearray too, as before) and any
os.PathLike, pathlib.Path or one whose __fspath__ gives bytes, with the same result. Anything else is refused
with TypeError, and an exception raised by __fspath__ reaches the caller as it was raised."""
import os
import pathlib
import re
import shutil

import pytest

import _bindings as tb

FSERIES = "% a circle\n2.0 0.0 0.0 2.0 0.0 0.0\n0.0 0.1 0.2 0.0 0.3 0.0\n"
IDEAL = '<AB Id="c" Conway="0" L="6.5" D="1.5" n="1">\n<Coeff I="1" A="2.5, 0, 0" B="0, 2.5, 0" />\n</AB>\n'


class PathLike:
    """An os.PathLike that is neither str nor bytes nor pathlib.Path: its __fspath__ gives `value`."""

    def __init__(self, value):
        self.value = value

    def __fspath__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


def _load_blocks(p):
    k = tb.fourier_knot()
    k.loadBlocks(p)
    return k.blocks


def _energy(p):
    params = tb.FilamentEnergyParams()
    params.nsamples = 8
    return tb.compute_filament_energy_from_fseries(p, params)


def _set_path(cls):
    def call(p):
        record = cls()
        record.path = p
        return record.path
    return call


# Every path parameter of the module: (where it is, its parameter, the file it names, a call with the path).
PATH_CALLS = [
    ("parse_fseries_multi", "path", "fseries", lambda p: tb.parse_fseries_multi(p)),
    ("parse_ideal_txt_multi", "path", "ideal", lambda p: tb.parse_ideal_txt_multi(p)),
    ("load_all_knots", "paths", "fseries", lambda p: tb.load_all_knots([p, p], 8)),
    ("fourier_knot.loadBlocks", "arg0", "fseries", _load_blocks),
    ("canonicalize_fseries_file_inplace", "path", "fseries", lambda p: tb.canonicalize_fseries_file_inplace(p)),
    ("compute_helicity_from_fseries", "path", "fseries", lambda p: tb.compute_helicity_from_fseries(p, 4, 0.5, 1, 8)),
    ("sample_curve_centered", "path", "fseries", lambda p: tb.sample_curve_centered(p, 8)),
    ("compute_curve_metrics_from_fseries", "path", "fseries", lambda p: tb.compute_curve_metrics_from_fseries(p, 8)),
    ("curve_length_from_fseries", "path", "fseries", lambda p: tb.curve_length_from_fseries(p, 8)),
    ("min_non_neighbor_distance_from_fseries", "path", "fseries",
     lambda p: tb.min_non_neighbor_distance_from_fseries(p, 8)),
    ("reach_proxy_from_fseries", "path", "fseries", lambda p: tb.reach_proxy_from_fseries(p, 8)),
    ("compute_filament_energy_from_fseries", "path", "fseries", _energy),
    ("batch_helicity_from_dir", "root_dir", "dir", lambda p: tb.batch_helicity_from_dir(p, 4, 0.5, 1, 8)),
    ("compare_fseries_files", "path_a", "fseries", lambda p: tb.compare_fseries_files(p, FSERIES_PATH[0], 8)),
    ("compare_fseries_files", "path_b", "fseries", lambda p: tb.compare_fseries_files(FSERIES_PATH[0], p, 8)),
    ("CanonicalizeResult.path", "arg0", "fseries", _set_path(tb.CanonicalizeResult)),
    ("HelicityResult.path", "arg0", "fseries", _set_path(tb.HelicityResult)),
    ("FilamentEnergyResult.path", "arg0", "fseries", _set_path(tb.FilamentEnergyResult)),
]
PATH_IDS = [f"{where}:{param}" for where, param, _, _ in PATH_CALLS]

# The other str parameters: text (contents, ids, names of records) and names in the catalogues, which are no
# file names.
NOT_PATHS = {
    ("CanonicalizeResult.reason", "arg0"), ("FourierBlock.header", "arg0"), ("IdealABBlock.id", "arg0"),
    ("IdealABBlock.conway", "arg0"), ("ParticleEvaluator.__init__", "knot_ab_id"),
    ("VortexKnotSystem.initialize_knot_from_name", "knot_id"), ("ZooEvaluator.get_entry_mass", "identifier"),
    ("index_of_ideal_id", "id"), ("load_embedded_ideal_text", "name"), ("load_embedded_knot_block", "knot_id"),
    ("parse_embedded_ideal_ab_by_id", "ab_id"), ("parse_embedded_ideal_ab_by_id", "name"),
    ("parse_embedded_ideal_txt", "name"), ("parse_fseries_from_string", "content"),
    ("parse_ideal_ab_by_id_from_string", "ab_id"), ("parse_ideal_ab_by_id_from_string", "content"),
    ("parse_ideal_txt_from_string", "content"),
}

# A path in the fixture's folder that compare_fseries_files takes as its other file.
FSERIES_PATH = [None]


def _make_files(tmp_path, name):
    """{kind: bytes of its path}: a .fseries file, an ideal-database file and a folder holding one .fseries file,
    all under `name`."""
    folder = os.fsencode(str(tmp_path)) + b"/" + name + b".d"
    os.mkdir(folder)
    paths = {"fseries": folder + b"/" + name + b".fseries", "ideal": folder + b"/" + name + b".txt", "dir": folder}
    with open(paths["fseries"], "w") as f:
        f.write(FSERIES)
    with open(paths["ideal"], "w") as f:
        f.write(IDEAL)
    FSERIES_PATH[0] = os.fsdecode(paths["fseries"])
    return paths


@pytest.fixture(params=[b"k", b"\xff\xe9k"], ids=["plain", "not-utf8"])
def files(request, tmp_path):
    yield _make_files(tmp_path, request.param)
    FSERIES_PATH[0] = None


@pytest.fixture
def plain_files(tmp_path):
    yield _make_files(tmp_path, b"k")
    FSERIES_PATH[0] = None


def _value(v):
    """A result in a form that compares by value and by bits (NaN included)."""
    if isinstance(v, float):
        return v.hex()
    if isinstance(v, (list, tuple)):
        return [_value(x) for x in v]
    if isinstance(v, dict):
        return {k: _value(x) for k, x in v.items()}
    if type(v).__module__ == "_bindings":
        fields = [n for n in dir(type(v)) if not n.startswith("_") and isinstance(getattr(type(v), n), property)]
        return {n: _value(getattr(v, n)) for n in fields}
    return v


@pytest.mark.parametrize("where, param, kind, call", PATH_CALLS, ids=PATH_IDS)
def test_every_form_of_a_path_gives_the_same_result(files, where, param, kind, call):
    raw = files[kind]
    expected = _value(call(os.fsdecode(raw)))
    assert expected not in ([], None)
    for form in (raw, bytearray(raw), pathlib.Path(os.fsdecode(raw)), pathlib.PurePosixPath(os.fsdecode(raw)),
                 PathLike(os.fsdecode(raw)), PathLike(raw)):
        assert _value(call(form)) == expected, type(form).__name__


@pytest.mark.parametrize("where, param, kind, call", PATH_CALLS, ids=PATH_IDS)
@pytest.mark.parametrize("error", [KeyboardInterrupt(), OSError(5, "unreadable name"), TypeError("no name")],
                         ids=["interrupt", "oserror", "typeerror"])
def test_an_exception_of_fspath_reaches_the_caller(plain_files, where, param, kind, call, error):
    with pytest.raises(type(error)) as info:
        call(PathLike(error))
    assert info.value is error


@pytest.mark.parametrize("where, param, kind, call", PATH_CALLS, ids=PATH_IDS)
def test_an_fspath_result_that_is_no_name_is_refused_as_os_fspath_refuses_it(plain_files, where, param, kind, call):
    for result in (3, bytearray(b"x"), None):
        with pytest.raises(TypeError) as info:
            call(PathLike(result))
        assert str(info.value) == f"expected PathLike.__fspath__() to return str or bytes, not {type(result).__name__}"
        with pytest.raises(TypeError) as info:
            os.fspath(PathLike(result))
        assert str(info.value) == f"expected PathLike.__fspath__() to return str or bytes, not {type(result).__name__}"


class NotPathLike:
    """__fspath__ set on the instance only: os.fspath looks for it on the type, and so refuses this object."""

    def __init__(self):
        self.__fspath__ = lambda: "x"


@pytest.mark.parametrize("where, param, kind, call", PATH_CALLS, ids=PATH_IDS)
@pytest.mark.parametrize("value", [3, None, 1.5, object(), NotPathLike(), pathlib.Path, "\ud800",
                                   PathLike("\ud800"), memoryview(b"x")],
                         ids=["int", "none", "float", "object", "instance-fspath", "class", "surrogate",
                              "fspath-surrogate", "memoryview"])
def test_anything_else_is_refused_as_before(plain_files, where, param, kind, call, value):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call(value)


def _str_parameters():
    """(where, parameter) of every str parameter in the module's signatures, setters included."""
    found = set()

    def scan(where, fn):
        for line in (getattr(fn, "__doc__", None) or "").split("\n"):
            if "->" in line and "(" in line:
                params = line[line.index("("):line.rindex("->")]
                found.update((where, m) for m in re.findall(r"(\w+): (?:collections\.abc\.Sequence\[)?str\b", params))

    for name, value in vars(tb).items():
        if isinstance(value, type):
            for member, attr in vars(value).items():
                if isinstance(attr, property):
                    scan(f"{name}.{member}", attr.fset)
                else:
                    scan(f"{name}.{member}", getattr(attr, "__func__", attr))
        elif callable(value):
            scan(name, value)
    return found


def test_every_str_parameter_is_a_path_or_listed_as_none():
    # A new str parameter goes into PATH_CALLS (it names a file) or NOT_PATHS.
    paths = {(where, param) for where, param, _, _ in PATH_CALLS}
    assert not paths & NOT_PATHS
    assert _str_parameters() == paths | NOT_PATHS
