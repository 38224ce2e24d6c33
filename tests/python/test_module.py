import ast
import importlib
import os
import shutil
import subprocess
import sys

import pytest

import _bindings


def test_docstring():
    assert _bindings.__doc__ == "TARQ Core Bindings (backwards compatibility alias)"


def test_reimport_returns_the_same_filled_module():
    names = list(vars(_bindings))
    del sys.modules["_bindings"]
    again = importlib.import_module("_bindings")
    assert again is _bindings
    assert list(vars(again)) == names


def _other_pythons():
    # pyenv's shims answer only for the selected version, so ask pyenv for each interpreter's own path.
    found = []
    if shutil.which("pyenv") is None:
        return found
    for version in ("3.9", "3.11", "3.12"):
        prefix = subprocess.run(["pyenv", "prefix", version], capture_output=True, text=True)
        candidate = os.path.join(prefix.stdout.strip(), "bin", f"python{version}")
        if prefix.returncode == 0 and os.path.exists(candidate):
            found.append(candidate)
    return found


@pytest.mark.parametrize("exe", _other_pythons())
def test_other_interpreter_versions_are_refused(exe):
    script = (
        "import importlib.util, sys\n"
        f"spec = importlib.util.spec_from_file_location('_bindings', {_bindings.__file__!r})\n"
        "try:\n"
        "    importlib.util.module_from_spec(spec)\n"
        "except ImportError as e:\n"
        "    print(repr(str(e)))\n"
        "print(repr(sys.version))\n"
    )
    out = subprocess.run([exe, "-c", script], capture_output=True, text=True, check=True).stdout
    message, version = (ast.literal_eval(line) for line in out.splitlines())
    assert message == (
        "Python version mismatch: module was compiled for Python 3.10, but the interpreter version is "
        f"incompatible: {version}."
    )


class TestListBindings:
    def test_defaults_sort_every_public_name(self):
        result = _bindings.list_bindings()
        assert list(result) == ["functions", "classes", "attributes", "counts"]
        assert list(result["counts"]) == ["functions", "classes", "attributes"]
        for key in ("functions", "classes", "attributes"):
            assert result["counts"][key] == len(result[key])
        assert "list_bindings" not in result["functions"]
        assert len(set(result["functions"])) == len(result["functions"])
        for name in result["functions"]:
            assert callable(getattr(_bindings, name)) and not isinstance(getattr(_bindings, name), type)
        for name in result["classes"]:
            assert isinstance(getattr(_bindings, name), type)
        public = [n for n in vars(_bindings) if not n.startswith("_") and n != "list_bindings"]
        assert result["functions"] + result["classes"] + result["attributes"] == [
            n for n in public if n in result["functions"]
        ] + [n for n in public if n in result["classes"]] + [n for n in public if n in result["attributes"]]
        assert _bindings.__all__ == result["functions"] + result["classes"]

    def test_pattern_is_case_insensitive_and_empty_means_none(self):
        assert _bindings.list_bindings("KNOT") == _bindings.list_bindings(pattern="knot")
        assert _bindings.list_bindings("") == _bindings.list_bindings(None)
        knot = _bindings.list_bindings("knot")
        assert all("knot" in n.lower() for key in ("functions", "classes", "attributes") for n in knot[key])

    def test_no_match_empties_all(self):
        result = _bindings.list_bindings("no-name-has-this")
        assert result == {
            "functions": [],
            "classes": [],
            "attributes": [],
            "counts": {"functions": 0, "classes": 0, "attributes": 0},
        }
        assert _bindings.__all__ == []

    def test_private_names(self):
        _bindings.list_bindings()
        result = _bindings.list_bindings(include_private=True)
        assert {"__doc__", "__name__", "__all__"} <= set(result["attributes"])
        assert "list_bindings" not in result["functions"]
        assert _bindings.__all__ == result["functions"] + result["classes"]

    def test_pattern_is_converted_with_str(self):
        assert _bindings.list_bindings(12345)["counts"]["functions"] == 0

    def test_include_private_must_be_bool(self):
        with pytest.raises(TypeError):
            _bindings.list_bindings(None, "yes")

    def test_docstring(self):
        assert _bindings.list_bindings.__doc__.split("\n", 1)[1] == (
            "\n"
            "\n        Return a dictionary of exported names in this module.\n\n        Args:\n"
            "          pattern (str|None): optional case-insensitive substring filter.\n"
            "          include_private (bool): include names beginning with '_' if True.\n\n"
            "        Returns:\n          dict with keys: 'functions', 'classes', 'attributes', and 'counts'.\n"
            "        Also sets module __all__ = functions + classes (public names).\n        \n"
        )
