"""No C++ exception can reach the host: the module's own objects call nothing that allocates from
the heap or throws (the module is built with -fno-exceptions and uses fixed storage)."""

import glob
import os
import subprocess

import pytest

from conftest import MODULE_VARIABLES

# Mangled and C names of what could throw or fail an allocation behind the module's back.
FORBIDDEN = ("_Znw", "_Zna", "__cxa_throw", "__cxa_allocate_exception", "_Unwind_Resume",
             "malloc", "calloc", "realloc", "_ZSt17__throw", "_ZSt19__throw", "_ZSt20__throw")


@pytest.mark.parametrize("arch", sorted(MODULE_VARIABLES))
def test_module_objects_neither_throw_nor_allocate(arch):
    build = os.path.dirname(os.environ[MODULE_VARIABLES[arch]])
    objects = glob.glob(os.path.join(build, "CMakeFiles", "vexel_module_objects.dir", "**",
                                     "*.obj"), recursive=True)
    assert len(objects) > 20, f"module objects not found under {build}"
    listing = subprocess.run(["x86_64-w64-mingw32-nm", "--undefined-only", *objects],
                             check=True, capture_output=True, text=True).stdout
    undefined = {line.split()[-1].lstrip("_") for line in listing.splitlines()
                 if line.strip().startswith("U ")}
    found = sorted(name for name in undefined
                   if any(name.startswith(f.lstrip("_")) for f in FORBIDDEN))
    assert found == []
