import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from wine_prefix import private_machine, pytest_runtest_makereport, wine_journal  # noqa: E402,F401 (fixture and hook)


@pytest.fixture(scope="module")
def wine(request):
    yield from private_machine(request, request.module.__name__)
