#!/usr/bin/env python3
"""Writes the seed recipes of vm_gen_fuzz (see the recipe format at the top of
vm_gen_fuzz.cpp) into vm_gen_corpus/. Run it again after changing the seeds."""
import os

OP = dict(move=0, loadk=1, loadnil=3, getglobal=5, settable=9, newtable=10, add=11,
          jmp=27, lt=29, call=32, tailcall=33, ret=34, tforloop=36, tforprep=37,
          setlisto=39, closure=41)
NAMES = ["iter", "cocreate", "coresume", "yield", "next", "nextitem", "collect",
         "setmeta", "fail", "jump", "newud", "many"]


def name(n):
    return 96 + NAMES.index(n)


def num(v):
    return v + 32


def ins(op, a=0, b=0, c=0):
    return [OP[op], a, b & 255, c]


def fn(stack, consts, code, nested=(), flags=0):
    out = [stack - 2, flags, len(consts)] + list(consts) + [len(nested)]
    for sub in nested:
        out += sub
    out.append(len(code))
    for i in code:
        out += i
    return bytes(out)


SEEDS = {
    # Native iterator over three values, loop body sums them.
    "tforloop_native": fn(20, [name("iter"), num(0)], [
        ins("getglobal", 0, 0), ins("loadnil", 1, 2), ins("loadk", 2, 1), ins("jmp", 0, 1),
        ins("add", 10, 10, 2), ins("tforloop", 0, 3), ins("jmp", 0, -3), ins("ret", 10, 2)]),
    # Generic for over a table: tforprep takes "next" (or "nextitem").
    "tforprep_table": fn(20, [num(5)], [
        ins("newtable", 1), ins("loadk", 2, 0), ins("settable", 1, 2, 2), ins("move", 3, 1),
        ins("loadnil", 4, 5), ins("tforprep", 3, 1), ins("add", 10, 10, 6), ins("tforloop", 3, 1),
        ins("jmp", 0, -3), ins("ret", 10, 2)]),
    # A script iterator (nested function 0) called by tforloop.
    "tforloop_script": fn(20, [num(0)], [
        ins("closure", 0, 0), ins("loadnil", 1, 2), ins("loadk", 2, 0), ins("jmp", 0, 1),
        ins("add", 10, 10, 2), ins("tforloop", 0, 2), ins("jmp", 0, -3), ins("ret", 10, 2)],
        nested=[fn(6, [num(1), num(3)], [
            ins("add", 2, 1, 250), ins("lt", 0, 2, 251), ins("jmp", 0, 1), ins("loadnil", 2, 2),
            ins("ret", 2, 2)], flags=2)]),
    # A coroutine that yields once, resumed twice.
    "coroutine": fn(12, [name("cocreate"), name("coresume")], [
        ins("getglobal", 0, 0), ins("closure", 1, 0), ins("call", 0, 2, 2), ins("getglobal", 1, 1),
        ins("move", 2, 0), ins("call", 1, 2, 1), ins("getglobal", 1, 1), ins("move", 2, 0),
        ins("call", 1, 2, 0), ins("ret", 1, 0)],
        nested=[fn(6, [name("yield")], [ins("getglobal", 0, 0), ins("call", 0, 1, 1), ins("ret", 0, 1)])]),
    # Open results taken by setlisto, by a call and by return.
    "open_setlisto": fn(10, [name("many"), num(7)], [
        ins("newtable", 0), ins("getglobal", 1, 0), ins("loadk", 2, 1), ins("call", 1, 2, 0),
        ins("setlisto", 0, 0), ins("ret", 0, 2)]),
    "open_call_return": fn(10, [name("many"), num(5)], [
        ins("getglobal", 0, 0), ins("loadk", 1, 1), ins("call", 0, 2, 0), ins("ret", 0, 0)]),
    "open_tailcall": fn(10, [name("many"), num(3)], [
        ins("getglobal", 1, 0), ins("getglobal", 2, 0), ins("loadk", 3, 1), ins("call", 2, 2, 0),
        ins("tailcall", 1, 0, 0), ins("ret", 1, 0)]),
    # A jump request after an open call.
    "jump_request": fn(10, [name("jump"), num(1)], [
        ins("getglobal", 0, 0), ins("loadk", 1, 1), ins("call", 0, 2, 0), ins("ret", 0, 0),
        ins("ret", 0, 1)]),
}

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "vm_gen_corpus")
os.makedirs(here, exist_ok=True)
for seed, data in SEEDS.items():
    with open(os.path.join(here, seed), "wb") as f:
        f.write(data)
