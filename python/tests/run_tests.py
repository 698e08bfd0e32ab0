"""Runs one test module of the package; exits 77 (skipped) when python-can is not installed."""

import os
import sys
import unittest

SKIPPED = 77


def main() -> int:
    try:
        import can  # noqa: F401  pylint: disable=import-outside-toplevel,unused-import
    except ImportError:
        print("SKIPPED: python-can is not installed (Debian: apt-get install python3-can)")
        return SKIPPED
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path[:0] = [here, os.path.dirname(here)]
    names = sys.argv[1:] or ["test_mapping", "test_bus", "test_tools"]
    suite = unittest.defaultTestLoader.loadTestsFromNames(names)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
