"""Shared fixtures of the module-image tests: the built Vexel.8bf (x86) and Vexel64.8bf (x64),
parsed natively (no Wine). Every test that takes `image` or `resources` runs once per build."""

import os

import pefile
import pytest


MODULE_VARIABLES = {"x86": "VEXEL_PLUGIN32", "x64": "VEXEL_PLUGIN64"}


@pytest.fixture(scope="session", params=sorted(MODULE_VARIABLES))
def arch(request):
    return request.param


@pytest.fixture(scope="session")
def image(arch):
    path = os.environ.get(MODULE_VARIABLES[arch])
    assert path, f"{MODULE_VARIABLES[arch]} must name the built module"
    return pefile.PE(path)


@pytest.fixture(scope="session")
def resources(image):
    return read_resources(image)


def read_resources(image):
    """{(type, name): {language: bytes}}; types and names are ints or upper-case strings."""
    found = {}
    for type_entry in image.DIRECTORY_ENTRY_RESOURCE.entries:
        type_key = str(type_entry.name) if type_entry.name is not None else type_entry.id
        for name_entry in type_entry.directory.entries:
            name_key = str(name_entry.name) if name_entry.name is not None else name_entry.id
            for lang_entry in name_entry.directory.entries:
                data = lang_entry.data.struct
                found.setdefault((type_key, name_key), {})[lang_entry.id] = image.get_data(
                    data.OffsetToData, data.Size
                )
    return found

