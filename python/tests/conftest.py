import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def build_dir():
    return pathlib.Path(os.environ.get("ORU_BUILD_DIR", ROOT / "build"))
