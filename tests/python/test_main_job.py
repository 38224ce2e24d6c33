"""The README's main job (examples/main_job.py) runs to the end with finite output and a bounded drift."""
import math
import os
import re
import subprocess
import sys

from conftest import child_env

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def test_main_job_output_is_finite_and_the_filament_stays_put():
    out = subprocess.run([sys.executable, os.path.join(ROOT, "examples", "main_job.py")], capture_output=True,
                         text=True, check=True, timeout=600, env=child_env()).stdout
    numbers = [float(x) for x in re.findall(r"-?(?:\d+\.\d*|nan|inf)", out)]
    assert numbers and all(math.isfinite(x) for x in numbers), out
    assert "1000 points, 100 Euler steps of dt = 0.0005" in out
    drift = float(re.search(r"centroid drift: (\S+)", out).group(1))
    largest = float(re.search(r"point displacement: mean \S+, max (\S+)", out).group(1))
    # The trefoil (size about 3) drifts slowly along its axis; a blow-up moves points by far more.
    assert 0.0 < drift < 0.1, out
    assert largest < 0.2, out
