"""The installed tree, used from outside the source tree."""
import subprocess
import sys

from conftest import ROOT


def test_install_serves_c_and_python_programs(build_dir, tmp_path):
    result = subprocess.run([str(ROOT / "scripts" / "check-install"), str(build_dir),
                             str(tmp_path), sys.executable],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
