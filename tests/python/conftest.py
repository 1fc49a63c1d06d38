"""Fixtures of the Python package's tests: the shipped sample, and history
and record-store folders of a test's own. The configuration is the
process's, so every fixture sets it afresh."""

import pathlib

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
