# SPDX-License-Identifier: MIT
# The package holds the compiled module, its stubs and py.typed, so that type checkers take the stubs.
from ._tarvex import *  # noqa: F401,F403
from ._tarvex import __doc__, __version__  # noqa: F401
