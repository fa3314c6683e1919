"""The module's version and the oldest library it runs on: the one place both are
written. pyproject.toml (the wheel), CMake (the python3-quodrel package) and the
module itself at import read them here."""

__version__ = "3.1.0"

# The oldest libquodrel with every call the module makes (quodrel_options_init came
# in 2.3); any later 2.x will do.
LIBRARY_VERSION = "2.3.0"
