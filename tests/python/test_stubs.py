"""The type stubs beside the module name exactly what the module has, and help explains it all."""

import ast
import os

import zemlix


def public(names):
    return {name for name in names if not name.startswith("_")}


def test_the_stubs_match_the_module():
    with open(os.path.join(os.path.dirname(zemlix.__file__), "zemlix.pyi")) as file:
        stubs = ast.parse(file.read())
    world = next(node for node in stubs.body if isinstance(node, ast.ClassDef) and node.name == "World")
    functions = {node.name for node in stubs.body if isinstance(node, ast.FunctionDef)}
    assert public(node.name for node in world.body if isinstance(node, ast.FunctionDef)) == public(dir(zemlix.World))
    assert functions | {"World"} == public(dir(zemlix))
    for name in public(dir(zemlix.World)):
        assert getattr(zemlix.World, name).__doc__, name
