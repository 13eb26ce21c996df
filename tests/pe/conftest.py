"""Shared fixtures of the module-image tests: the built Vexel.8bf, parsed natively (no Wine)."""

import os

import pefile
import pytest


@pytest.fixture(scope="session")
def image():
    path = os.environ.get("VEXEL_PLUGIN")
    assert path, "VEXEL_PLUGIN must name the built module"
    return pefile.PE(path)


@pytest.fixture(scope="session")
def resources(image):
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

