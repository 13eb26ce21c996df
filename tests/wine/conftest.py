"""Every Wine test starts as a Windows user of its own with no remembered settings. The 32-bit
build's tests are skipped, with the reason, where no 32-bit program can be run."""

import pytest

from harness import ARCH, begin_test_user, i386_mode

# ctest reports a run that exits with this status as skipped (SKIP_RETURN_CODE).
SKIPPED = 77


def pytest_sessionstart(session):
    mode, reason = i386_mode()
    if ARCH == "x86" and mode == "none":
        pytest.exit(f"skipped: the 32-bit build cannot be run here: {reason}", returncode=SKIPPED)


@pytest.fixture(autouse=True)
def _fresh_user(request):
    begin_test_user(request.node.nodeid)
