"""Vortex-ring formulas and the golden closure from Python: registration, defaults, the enumeration, messages,
exception types and the closure's warning lines on standard error."""
import math
import pickle

import pytest

import _bindings as b
from conftest import assert_interruptible

M_E = 9.10938356e-31
W_RESIDUAL = "Warning: geometric ratio residual evaluated outside CORE_DOMINATED regime.\n"
W_NEWTON = "Warning: Inferring fundamental mass geometric ratio outside of CORE_DOMINATED regime.\n"

RING_FUNCTIONS = [
    ("lamb_oseen_velocity", 4),
    ("lamb_oseen_vorticity", 4),
    ("hill_streamfunction", 4),
    ("hill_vorticity", 4),
    ("hill_circulation", 2),
    ("hill_velocity", 2),
]


def closure(value):
    return b.GoldenNLSClosure(b.DensityRegime(value))


def warning_lines(capfd, line):
    """Number of standard-error lines written since the last call; every one of them must be `line`."""
    err = capfd.readouterr().err
    assert err == line * err.count(line)
    return err.count(line)


def test_registration_order():
    names = list(vars(b))
    i = names.index("lamb_oseen_velocity")
    assert names[i:i + 10] == [
        "lamb_oseen_velocity", "lamb_oseen_vorticity", "hill_streamfunction", "hill_vorticity",
        "hill_circulation", "hill_velocity", "DensityRegime", "EFFECTIVE_FLUID", "CORE_DOMINATED",
        "GoldenNLSClosure"]
    listed = b.list_bindings()
    k = listed["classes"].index("DensityRegime")
    assert listed["classes"][k:k + 2] == ["DensityRegime", "GoldenNLSClosure"]
    assert {"EFFECTIVE_FLUID", "CORE_DOMINATED"} <= set(listed["attributes"])


# ----------------------------------------------------------------------------------------------------------------
# Vortex-ring formulas


@pytest.mark.parametrize("name,arity", RING_FUNCTIONS)
def test_ring_functions_take_positional_floats_only(name, arity):
    f = getattr(b, name)
    assert isinstance(f(*[1] * arity), float)
    with pytest.raises(TypeError):
        f(*[1.0] * (arity - 1), arg0=1.0)
    with pytest.raises(TypeError):
        f(*[1.0] * (arity + 1))
    with pytest.raises(TypeError):
        f(*[1.0] * (arity - 1), None)
    with pytest.raises(TypeError):
        f(*[1.0] * (arity - 1), "1.0")


def test_ring_values_pass_through():
    assert b.hill_circulation(3, 1) == 6.283185307179586
    assert b.hill_velocity(5.0, 1.0) == 1.0
    assert b.hill_streamfunction(2.0, 1.0, 1.0, 2.0) == 4.0
    for f in (b.hill_streamfunction, b.hill_vorticity):
        assert f(1.0, 3.0, 4.0, 5.0) == 0.0
        assert f(1.0, math.nan, 0.0, 5.0) == 0.0
    assert b.lamb_oseen_velocity(1.0, 1.0, 0.3, 7.0) == b.lamb_oseen_velocity(1.0, 1.0, 7.0, 0.3)
    assert math.isnan(b.lamb_oseen_velocity(1.0, 0.0, 1.0, 1.0))


# ----------------------------------------------------------------------------------------------------------------
# DensityRegime


def test_density_regime_enumeration():
    assert b.DensityRegime.__members__ == {"EFFECTIVE_FLUID": b.EFFECTIVE_FLUID, "CORE_DOMINATED": b.CORE_DOMINATED}
    assert b.EFFECTIVE_FLUID is b.DensityRegime.EFFECTIVE_FLUID
    assert b.CORE_DOMINATED is b.DensityRegime.CORE_DOMINATED
    assert (int(b.EFFECTIVE_FLUID), int(b.CORE_DOMINATED)) == (0, 1)
    assert b.DensityRegime(1) == b.CORE_DOMINATED
    assert b.DensityRegime(value=0) == b.EFFECTIVE_FLUID
    assert [10, 20][b.CORE_DOMINATED] == 20
    assert pickle.loads(pickle.dumps(b.CORE_DOMINATED)) == b.CORE_DOMINATED
    for value in (2, -1, 2**31 - 1, -2**31):
        assert int(b.DensityRegime(value)) == value
    for value in (2**31, -2**31 - 1, 1.0, None):
        with pytest.raises(TypeError):
            b.DensityRegime(value)


def test_plain_ints_are_not_regimes():
    with pytest.raises(TypeError):
        b.GoldenNLSClosure(1)
    with pytest.raises(TypeError):
        b.GoldenNLSClosure().set_regime(0)


# ----------------------------------------------------------------------------------------------------------------
# GoldenNLSClosure


def test_construction_and_regimes():
    assert b.GoldenNLSClosure().get_active_density() == 3.8934358266918687e18
    assert b.GoldenNLSClosure(regime=b.EFFECTIVE_FLUID).get_active_density() == 7e-07
    c = b.GoldenNLSClosure(b.EFFECTIVE_FLUID)
    assert c.set_regime(b.CORE_DOMINATED) is None
    assert c.get_active_density() == 3.8934358266918687e18
    with pytest.raises(TypeError):
        c.set_regime(regime=b.EFFECTIVE_FLUID)


def test_unknown_regime(capfd):
    c = closure(2)
    for call in (c.get_active_density, lambda: c.calculate_loop_energy(1e-15), lambda: c.calculate_loop_mass(R=1e-15)):
        with pytest.raises(RuntimeError, match=r"^Unknown density regime selected\.$"):
            call()
    assert c.calculate_screened_mass(1.0, 2) == 0.38196601125010515
    assert warning_lines(capfd, W_RESIDUAL) == 0
    with pytest.raises(RuntimeError, match=r"^Unknown density regime selected\.$"):
        c.infer_geometric_ratio()
    assert warning_lines(capfd, W_NEWTON) == 1
    with pytest.raises(RuntimeError, match=r"^Unknown density regime selected\.$"):
        c.geometric_ratio_residual(1.0)
    assert warning_lines(capfd, W_RESIDUAL) == 1


def test_energy_mass_and_screening():
    c = b.GoldenNLSClosure()
    assert c.calculate_loop_energy(R=1.40897017e-15) == 1.1869937015286954e-13
    assert c.calculate_loop_mass(1.40897017e-15) == 1.1869937015286954e-13 / 8.987551787368176e16
    assert math.isnan(c.calculate_loop_energy(0.0))
    assert math.isnan(c.calculate_loop_mass(-1.0))
    assert c.calculate_screened_mass(bare_mass=2.0, double_k=-1) == 2.0 * 1.618033988749895
    assert c.calculate_screened_mass(1.0, -2**31) == math.inf
    for bad in (2.0, 2**31, None):
        with pytest.raises(TypeError):
            c.calculate_screened_mass(1.0, bad)


def test_solver_defaults_in_core_regime(capfd):
    c = b.GoldenNLSClosure()
    assert c.infer_geometric_ratio() == 0.89838128044679477
    assert c.infer_geometric_ratio(M_E, 1e-12, 100) == 0.89838128044679477
    assert c.infer_geometric_ratio_safe() == 0.89838128044679488
    assert c.infer_geometric_ratio_safe(target_mass=M_E, x0=1.0, x_min=1e-06, x_max=10.0, x_tol=1e-12, f_tol=1e-12,
                                        max_iter=100) == 0.89838128044679488
    assert abs(c.geometric_ratio_residual(0.89838128044679477)) < 1e-15
    assert c.geometric_ratio_residual(x=1.0) == c.geometric_ratio_residual(1.0, target_mass=M_E)
    assert capfd.readouterr().err == ""
    for bad in (100.0, 2**31):
        with pytest.raises(TypeError):
            c.infer_geometric_ratio(max_iter=bad)
        with pytest.raises(TypeError):
            c.infer_geometric_ratio_safe(max_iter=bad)


def test_effective_fluid_warning_counts(capfd):
    c = b.GoldenNLSClosure(b.EFFECTIVE_FLUID)
    assert c.infer_geometric_ratio() == 3.3821630161479524e22
    assert warning_lines(capfd, W_NEWTON) == 1
    message = r"^infer_geometric_ratio_safe: could not bracket root for bisection fallback\.$"
    with pytest.raises(RuntimeError, match=message):
        c.infer_geometric_ratio_safe()
    assert warning_lines(capfd, W_RESIDUAL) == 27
    with pytest.raises(RuntimeError, match=message):
        c.infer_geometric_ratio_safe(max_iter=0)
    assert warning_lines(capfd, W_RESIDUAL) == 26
    c.geometric_ratio_residual(2.0)
    c.geometric_ratio_residual(3.0)
    assert warning_lines(capfd, W_RESIDUAL) == 2


ERRORS = [
    (lambda: closure(5).get_active_density(), RuntimeError, "Unknown density regime selected."),
    (lambda: b.GoldenNLSClosure(b.EFFECTIVE_FLUID).geometric_ratio_residual(0.0), ValueError,
     "geometric_ratio_residual: x must be > 0."),
    (lambda: b.GoldenNLSClosure().infer_geometric_ratio(max_iter=0), RuntimeError,
     "Newton-Raphson failed to converge for geometric ratio."),
    (lambda: b.GoldenNLSClosure().infer_geometric_ratio_safe(x_min=0.0), ValueError,
     "infer_geometric_ratio_safe: require 0 < x_min < x_max."),
    (lambda: b.GoldenNLSClosure().infer_geometric_ratio_safe(x_min=1.0, x_max=1.0), ValueError,
     "infer_geometric_ratio_safe: require 0 < x_min < x_max."),
    (lambda: b.GoldenNLSClosure().infer_geometric_ratio_safe(target_mass=math.inf), RuntimeError,
     "infer_geometric_ratio_safe: non-finite residual at bracket endpoints."),
    (lambda: b.GoldenNLSClosure().infer_geometric_ratio_safe(x_min=1e-9, x_max=1e-8), RuntimeError,
     "infer_geometric_ratio_safe: could not bracket root for bisection fallback."),
    (lambda: b.GoldenNLSClosure().infer_geometric_ratio_safe(max_iter=0), RuntimeError,
     "infer_geometric_ratio_safe: failed to converge."),
    (lambda: b.GoldenNLSClosure.infer_effective_base(0.0, 0), ValueError, "infer_effective_base: ratio must be > 0."),
    (lambda: b.GoldenNLSClosure.infer_effective_base(ratio=8.0, exponent_n=0), ValueError,
     "infer_effective_base: exponent_n must be positive."),
    (lambda: b.GoldenNLSClosure.predicted_ratio_from_base(base=0.0, exponent_n=1), ValueError,
     "predicted_ratio_from_base: base must be > 0."),
    (lambda: b.GoldenNLSClosure.relative_error(1.0, 0.0), ValueError, "relative_error: observed must be nonzero."),
    (lambda: b.GoldenNLSClosure.relative_error(predicted=1.0, observed=-0.0), ValueError,
     "relative_error: observed must be nonzero."),
]


@pytest.mark.parametrize("call,exc,message", ERRORS)
def test_messages_and_exception_types(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value) == message


def test_static_helpers():
    assert b.GoldenNLSClosure.infer_effective_base(8.0, 3) == pytest.approx(2.0, rel=1e-15)
    assert b.GoldenNLSClosure.predicted_ratio_from_base(2.0, -1) == 0.5
    assert b.GoldenNLSClosure.relative_error(0.0, 2.0) == 1.0
    assert b.GoldenNLSClosure().relative_error(3.0, -2.0) == 2.5
    with pytest.raises(TypeError):
        b.GoldenNLSClosure.predicted_ratio_from_base(2.0, 1.5)


@pytest.mark.parametrize("solve", [
    lambda c: c.infer_geometric_ratio(tolerance=-1.0, max_iter=2**31 - 1),
    lambda c: c.infer_geometric_ratio_safe(x_tol=-1.0, f_tol=-1.0, max_iter=2**31 - 1),
])
def test_solvers_are_interruptible(solve):
    # Negative tolerances never converge; a signal handler's exception must end the loop and reach the caller.
    assert_interruptible(lambda: solve(b.GoldenNLSClosure()))
