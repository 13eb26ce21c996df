"""Every Wine test starts as a Windows user of its own with no remembered settings."""

import pytest

from harness import begin_test_user


@pytest.fixture(autouse=True)
def _fresh_user(request):
    begin_test_user(request.node.nodeid)
