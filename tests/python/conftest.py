"""Fixtures of the Python package's tests: the shipped sample, and history
and record-store folders of a test's own. The configuration is the
process's, so every fixture sets it afresh."""

import os
import pathlib
import subprocess
import uuid

import pytest

from zantrix import zantrix_config

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
SAMPLE_CONFIG = REPOSITORY / "examples" / "zantrix_config.json"


@pytest.fixture
def sample():
    """The configuration of the shipped sample history."""
    config = zantrix_config()
    config.use_file(SAMPLE_CONFIG)
    return config


@pytest.fixture
def history(sample, tmp_path):
    """An empty bar history folder (DATA_PATH["kline"]) of this test's own."""
    sample.DATA_PATH = {"kline": str(tmp_path)}
    return tmp_path


@pytest.fixture
def store(sample, tmp_path):
    """A record store folder (DB["sqlite3"]) of this test's own."""
    sample.DB = {"sqlite3": str(tmp_path)}
    return tmp_path


@pytest.fixture(params=["sqlite3", "postgresql"])
def any_store(request, sample, tmp_path):
    """A record store of this test's own on either back end: a folder, or a
    fresh database on the tests' PostgreSQL server (skipped without one)."""
    if request.param == "sqlite3":
        sample.DB = {"sqlite3": str(tmp_path)}
        yield request.param
        return
    uri_file = os.environ.get("ZANTRIX_TEST_POSTGRES_URI_FILE", "")
    if not os.path.isfile(uri_file):
        pytest.skip("no PostgreSQL server for the tests")
    server = pathlib.Path(uri_file).read_text().strip()
    name = "zantrix_py_" + uuid.uuid4().hex[:12]
    subprocess.run(["psql", "-q", server, "-c", f"CREATE DATABASE {name}"], check=True)
    sample.DB = {"postgresql": server.rsplit("/", 1)[0] + "/" + name}
    yield request.param
    subprocess.run(["psql", "-q", server, "-c", f"DROP DATABASE {name} WITH (FORCE)"],
                   check=True)
