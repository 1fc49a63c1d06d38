"""Writes the type stubs of the compiled module (_zantrix.pyi) from the
signatures and docstrings pybind11 gives its names, so that an editor
completes them and a type checker knows their signatures.

    python3 python/stubs.py <folder that holds the package zantrix> <output .pyi>

Run by the build after the compiled module is linked.
"""

import enum
import importlib
import inspect
import re
import sys

HEADER = '''"""Type stubs of zantrix._zantrix, written by the build from the module."""

import datetime
import enum
import os
from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

import numpy
import pandas

'''

# pybind11's names for arguments taken as any Python object.
LOOSE = {"handle": "Any", "object": "Any", "args": "Any", "kwargs": "Any", "capsule": "Any",
         "function": "Callable[..., Any]", "numpy.ndarray[numpy.float64]": "numpy.ndarray",
         "numpy.ndarray[numpy.int64]": "numpy.ndarray"}


def split_top(text, separator=","):
    """Splits at separators outside brackets and quotes."""
    parts, depth, quote, current = [], 0, None, ""
    for char in text:
        if quote:
            quote = None if char == quote else quote
        elif char in "'\"":
            quote = char
        elif char in "([{<":
            depth += 1
        elif char in ")]}>":
            depth -= 1
        elif char == separator and depth == 0:
            parts.append(current.strip())
            current = ""
            continue
        current += char
    if current.strip():
        parts.append(current.strip())
    return parts


def clean_type(text):
    text = text.replace("zantrix._zantrix.", "")
    # A C++ name, where a class was bound after the function that returns it.
    text = re.sub(r"(?:\w+::)+(?:Python)?(\w+)", r"\1", text)
    for loose, typed in LOOSE.items():
        text = re.sub(rf"(?<![\w.]){re.escape(loose)}(?![\w.\[])", typed, text)
    return text


def clean_parameter(parameter):
    name, _, default = parameter.partition("=")
    name, _, annotation = name.partition(":")
    out = name.strip()
    if annotation.strip():
        out += ": " + clean_type(annotation.strip())
    if default.strip():
        out += " = ..."
    return out


def signatures(name, doc):
    """The signatures at the head of a pybind11 docstring (several when
    overloaded), as (parameters, result) pairs."""
    found = []
    for line in (doc or "").splitlines():
        match = re.match(rf"^(?:\d+\. )?{re.escape(name)}\((.*)\) -> (.+)$", line.strip())
        if match:
            found.append((split_top(match.group(1)), clean_type(match.group(2))))
    return found


def summary(doc):
    lines = [line for line in (doc or "").splitlines()
             if line.strip() and not re.match(r"^(\d+\. )?\w+\(.*\) -> ", line.strip())
             and line.strip() != "Overloaded function."]
    return lines[0].strip().replace('"""', "'''") if lines else ""


def function_lines(name, function, indent, is_method):
    found = signatures(name, function.__doc__)
    if not found:
        loose = ["*args: Any", "**kwargs: Any"]
        found = [(["self"] + loose if is_method else loose, "Any")]
    lines = []
    for parameters, result in found:
        if len(found) > 1:
            lines.append(f"{indent}@overload")
        cleaned = [clean_parameter(p) for p in parameters]
        if is_method and cleaned and not cleaned[0].startswith("*"):
            cleaned[0] = "self"
        text = summary(function.__doc__)
        body = f' """{text}"""' if text else " ..."
        lines.append(f"{indent}def {name}({', '.join(cleaned)}) -> {result}:{body}")
    return lines


def property_type(prop):
    doc = prop.fget.__doc__ if prop.fget is not None else None
    match = re.search(r"\) -> (.+)$", doc.splitlines()[0]) if doc else None
    return clean_type(match.group(1)) if match else "Any"


def class_lines(name, cls):
    if issubclass(cls, enum.Enum):
        lines = [f"class {name}(enum.Enum):"]
        lines += [f"    {member.name} = {member.value!r}" for member in cls]
        return lines
    if issubclass(cls, BaseException):
        base = cls.__mro__[1].__name__
        return [f"class {name}({base}):", "    order_id: str"]
    bases = [b.__name__ for b in cls.__bases__ if b.__module__ == "zantrix._zantrix"]
    lines = [f"class {name}({', '.join(bases)}):" if bases else f"class {name}:"]
    if summary(cls.__doc__):
        lines.append(f'    """{summary(cls.__doc__)}"""')
    for member, value in sorted(vars(cls).items()):
        if member.startswith("_") and member not in ("__init__", "__enter__", "__exit__",
                                                     "__getitem__", "__setitem__",
                                                     "__contains__", "__call__", "__iter__",
                                                     "__len__", "__eq__"):
            continue
        if isinstance(value, property):
            lines.append(f"    {member}: {property_type(value)}")
        elif callable(value) and type(value).__name__ in ("instancemethod",
                                                          "builtin_function_or_method"):
            lines += function_lines(member, value, "    ", True)
        elif isinstance(value, staticmethod):
            lines.append("    @staticmethod")
            lines += function_lines(member, value.__func__, "    ", False)
        elif type(value).__name__ == "pybind11_static_property":
            lines.append(f"    {member}: Any")
    if len(lines) == 1:
        lines.append("    ...")
    return lines


def main(folder, output):
    sys.path.insert(0, folder)
    module = importlib.import_module("zantrix._zantrix")
    out = [HEADER.replace("Tuple, Union", "Tuple, Union, overload")]
    for name, value in sorted(vars(module).items()):
        if name.startswith("__"):
            continue
        if inspect.isclass(value):
            out += class_lines(name, value) + [""]
        elif callable(value):
            out += function_lines(name, value, "", False) + [""]
        elif isinstance(value, (bool, int, float, str, tuple)):
            out.append(f"{name}: {type(value).__name__}")
        else:
            out.append(f"{name}: Any")
    with open(output, "w", encoding="utf-8") as stub:
        stub.write("\n".join(out).rstrip() + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:])
