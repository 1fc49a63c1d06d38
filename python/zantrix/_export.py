"""Shows the compiled module's classes as members of the modules that
re-export them, so that their reprs and help name the system's module paths."""

import sys


def claim(module_name):
    """Sets ``__module__`` of every class listed in the module's ``__all__``."""
    module = sys.modules[module_name]
    for name in module.__all__:
        value = getattr(module, name)
        if isinstance(value, type):
            value.__module__ = module_name
