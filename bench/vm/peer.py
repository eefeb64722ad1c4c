# peer.py - the machine benchmark's rows in Python; prints "row seconds" lines.
import sys
import time


def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)


def row_fib():
    return fib(27)


def row_loop():
    s = 0
    for i in range(1, 10000001):
        s = s + i
    return s


def row_table():
    t = []
    for i in range(1000000):
        t.append(i)
    s = 0
    for i in range(1000000):
        s = s + t[i]
    return s


def row_string():
    # Pieces are merged on a stack while the lower one is no longer than the upper.
    stack, lens = [], []
    for i in range(100000):
        stack.append("x")
        lens.append(1)
        while len(stack) > 1 and lens[-2] <= lens[-1]:
            top = stack.pop()
            n = lens.pop()
            stack[-1] = stack[-1] + top
            lens[-1] += n
    s = ""
    while stack:
        s = stack.pop() + s
    return len(s)


def row_native():
    f = abs
    s = 0
    for i in range(1000000):
        s = s + f(i)
    return s


for name, fn in [("fib", row_fib), ("loop", row_loop), ("table", row_table),
                 ("string", row_string), ("native", row_native)]:
    t0 = time.perf_counter()
    fn()
    print(name, time.perf_counter() - t0)
    sys.stdout.flush()
