"""The registry name table (deploy/registry_upcase_table.h, Unicode's simple
uppercase mapping where the capital lowercases back) against the system's own
ordinal compare with case ignored (CompareStringOrdinal), over every unit of
the Basic Multilingual Plane: no unit differs either way."""


def test_registry_name_table_agrees_with_compare_string_ordinal(wine):
    done = wine.wine(wine.tltest, "upcase")
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode().splitlines() == []
