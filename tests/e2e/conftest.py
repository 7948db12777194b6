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


@pytest.fixture(autouse=True)
def wine_journal(request):
    """Starts each test's record of Wine runs and keeps the fonts key as it was,
    for the failure report."""
    if "wine" not in request.fixturenames:
        yield
        return
    machine = request.getfixturevalue("wine")
    machine.journal = []
    request.node.key_at_start = machine.values(journal=False)
    yield


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failed test, setup or teardown reports every Wine run it made (command
    line, exit status as Wine returned it, Wine's stderr) and the change of the
    fonts key since the test began."""
    outcome = yield
    report = outcome.get_result()
    machine = getattr(item, "funcargs", {}).get("wine")
    if report.failed and isinstance(machine, Wine):
        report.sections.append((f"Wine runs of this test ({report.when})",
                                machine.failure_report(getattr(item, "key_at_start", None))))
