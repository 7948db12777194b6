import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from wine_prefix import Wine  # noqa: E402


@pytest.fixture(scope="module")
def wine(request):
    machine = Wine(request.module.__name__)
    yield machine
    machine.close()

