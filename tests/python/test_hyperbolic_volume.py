"""hyperbolic_volume_from_pd hands the PD code to the outside module tarq_hypvol_no_deps, imported at every call.

The outside module is not part of this project: these tests place stand-ins in sys.modules.
"""
import sys
import types

import pytest

import _bindings as tb
from conftest import doc_body

MODULE = "tarq_hypvol_no_deps"


class Recorder:
    def __init__(self, result=2.0298832128193):
        self.calls = []
        self.result = result

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


@pytest.fixture
def stand_in(monkeypatch):
    def install(result=2.0298832128193, with_function=True):
        module = types.ModuleType(MODULE)
        recorder = Recorder(result)
        if with_function:
            module.hyperbolic_volume_from_pd = recorder
        monkeypatch.setitem(sys.modules, MODULE, module)
        return recorder
    return install


def test_docstring():
    assert doc_body(tb.hyperbolic_volume_from_pd) == (
        "\nHyperbolic volume from PD (delegates to Python if no native solver).\n")


def test_passes_a_new_list_of_int_lists_and_verbose_false(stand_in):
    recorder = stand_in()
    pd = [[1, 4, 2, 5], [3, 6, 4, 1], [5, 2, 6, 3]]
    got = tb.hyperbolic_volume_from_pd(pd)
    assert got == 2.0298832128193 and type(got) is float
    (args, kwargs), = recorder.calls
    assert args == (pd,) and kwargs == {"verbose": False}
    assert kwargs["verbose"] is False
    assert type(args[0]) is list and args[0] is not pd
    assert all(type(c) is list and c is not o and all(type(x) is int for x in c) for c, o in zip(args[0], pd))


def test_tuples_keyword_and_empty_code(stand_in):
    recorder = stand_in()
    tb.hyperbolic_volume_from_pd(pd=((1, 2, 3, 4),))
    tb.hyperbolic_volume_from_pd([])
    assert [c[0] for c in recorder.calls] == [([[1, 2, 3, 4]],), ([],)]


class FloatLike:
    def __float__(self):
        return 1.5


@pytest.mark.parametrize("result,expected", [(3, 3.0), (FloatLike(), 1.5), (True, 1.0)])
def test_result_converts_like_a_float_argument(stand_in, result, expected):
    stand_in(result)
    got = tb.hyperbolic_volume_from_pd([])
    assert got == expected and type(got) is float


@pytest.mark.parametrize("result", ["abc", None, [1.0]])
def test_result_that_is_not_a_number_is_a_runtime_error(stand_in, result):
    stand_in(result)
    with pytest.raises(RuntimeError):
        tb.hyperbolic_volume_from_pd([])


def test_errors_of_the_outside_function_pass_through(stand_in):
    boom = ValueError("boom")
    stand_in(boom)
    with pytest.raises(ValueError) as err:
        tb.hyperbolic_volume_from_pd([[1, 2, 3, 4]])
    assert err.value is boom


def test_missing_function_is_an_attribute_error(stand_in):
    stand_in(with_function=False)
    with pytest.raises(AttributeError):
        tb.hyperbolic_volume_from_pd([])


def test_missing_module_is_the_import_error_every_time(monkeypatch):
    monkeypatch.setitem(sys.modules, MODULE, None)
    for _ in range(2):
        with pytest.raises(ModuleNotFoundError):
            tb.hyperbolic_volume_from_pd([[1, 2, 3, 4]])


def test_imported_at_every_call(stand_in, monkeypatch):
    first = stand_in(1.0)
    assert tb.hyperbolic_volume_from_pd([]) == 1.0
    second = stand_in(2.0)
    assert tb.hyperbolic_volume_from_pd([]) == 2.0
    assert (len(first.calls), len(second.calls)) == (1, 1)
    monkeypatch.setitem(sys.modules, MODULE, None)
    with pytest.raises(ImportError):
        tb.hyperbolic_volume_from_pd([])
    third = stand_in(3.0)
    assert tb.hyperbolic_volume_from_pd([]) == 3.0 and len(third.calls) == 1


@pytest.mark.parametrize("pd", [[[1, 2, 3]], [[1, 2, 3, 4, 5]], [[1.0, 2, 3, 4]], [1, 2, 3, 4], None, [[2 ** 40, 1, 1, 1]]])
def test_malformed_code_is_refused_before_the_import(monkeypatch, pd):
    monkeypatch.setitem(sys.modules, MODULE, None)
    with pytest.raises(TypeError):
        tb.hyperbolic_volume_from_pd(pd)
