"""The registry name table (common/registry_upcase_table.h, Unicode's simple
uppercase mapping) against the system's own ordinal compare with case ignored
(CompareStringOrdinal), over every unit of the Basic Multilingual Plane.

Wine's table leaves alone every lowercase letter whose capital lowercases to
another letter, so these 27 units, which Unicode gives a capital, compare
equal to it in the table but not under Wine. No unit is equal under Wine and
not in the table."""

# (unit, its capital in the table) that Wine does not take as equal.
WINE_KEEPS_APART = [
    (0x00B5, 0x039C),  # micro sign, Greek capital mu
    (0x0131, 0x0049),  # dotless i, I
    (0x017F, 0x0053),  # long s, S
    (0x01C5, 0x01C4),  # the titlecase digraphs Dz with caron, Lj, Nj, Dz
    (0x01C8, 0x01C7),
    (0x01CB, 0x01CA),
    (0x01F2, 0x01F1),
    (0x0345, 0x0399),  # combining ypogegrammeni, Greek capital iota
    (0x03C2, 0x03A3),  # final sigma, capital sigma
    (0x03D0, 0x0392),  # the Greek symbol forms of beta, theta, phi, pi, kappa, rho, epsilon
    (0x03D1, 0x0398),
    (0x03D5, 0x03A6),
    (0x03D6, 0x03A0),
    (0x03F0, 0x039A),
    (0x03F1, 0x03A1),
    (0x03F5, 0x0395),
    (0x1C80, 0x0412),  # the old Cyrillic variant letters
    (0x1C81, 0x0414),
    (0x1C82, 0x041E),
    (0x1C83, 0x0421),
    (0x1C84, 0x0422),
    (0x1C85, 0x0422),
    (0x1C86, 0x042A),
    (0x1C87, 0x0462),
    (0x1C88, 0xA64A),
    (0x1E9B, 0x1E60),  # long s with dot above
    (0x1FBE, 0x0399),  # Greek prosgegrammeni
]


def test_registry_name_table_agrees_with_compare_string_ordinal(wine):
    done = wine.wine(wine.tltest, "upcase")
    assert done.returncode == 0, done.stderr
    expected = [f"table {unit:04X} {capital:04X}" for unit, capital in WINE_KEEPS_APART]
    assert done.stdout.decode().splitlines() == expected
