"""Builds and drives tests/cpp_dump/dump.cpp, the C++ text primitives as a
command-line program, so that Python tests can check them without the
extension module.

The program is compiled once per test session, with AddressSanitizer and
UndefinedBehaviorSanitizer, so that a stray read or write on the way to a
right answer fails the run as well.
"""

import functools
import os
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# The text primitives, and the kernel layer's choice of instruction set,
# which their vector paths ask.
SOURCES = sorted((ROOT / "src" / "text").glob("*.cpp")) + [
    ROOT / "src" / "kernels" / "active.cpp", ROOT / "tests" / "cpp_dump" / "dump.cpp"]
CODE_POINTS = 0x110000

FLAG_ALPHABETIC = 1
FLAG_WHITE_SPACE = 2
FLAG_CASED = 4
FLAG_CASE_IGNORABLE = 8

SANITIZER_ENV = {
    "ASAN_OPTIONS": "detect_leaks=1:halt_on_error=1",
    "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
}


@functools.cache
def dump_program() -> Path:
    compiler = os.environ.get("CXX", "g++")
    if shutil.which(compiler) is None:
        raise RuntimeError(f"C++ compiler {compiler!r} not found (set CXX)")
    out_dir = Path(tempfile.mkdtemp(prefix="parvenkel-dump-"))
    program = out_dir / "dump"
    command = [
        compiler, "-std=c++20", "-O1", "-g",
        "-fsanitize=address,undefined", "-fno-sanitize-recover=undefined",
        "-Wall", "-Wextra", "-Werror",
        f"-I{ROOT / 'src'}", *map(str, SOURCES), "-o", str(program),
    ]
    subprocess.run(command, check=True)
    return program


def _env():
    return {**os.environ, **SANITIZER_ENV}


@dataclass(frozen=True)
class Table:
    flags: bytes  # one byte per code point, FLAG_* bits
    lower: dict[int, str]  # code point -> to_lower, where it is not the code point


@functools.cache
def dump_table() -> Table:
    raw = subprocess.run([str(dump_program()), "table"], check=True,
                         capture_output=True, env=_env()).stdout
    flags, text = raw[:CODE_POINTS], raw[CODE_POINTS:].decode("ascii")
    lower = {}
    for line in text.splitlines():
        cp, *mapped = (int(x, 16) for x in line.split())
        lower[cp] = "".join(map(chr, mapped))
    return Table(flags, lower)


class Server:
    """One running `dump serve`; each call is a request and its answer."""

    def __init__(self):
        self._process = subprocess.Popen([str(dump_program()), "serve"], env=_env(),
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def close(self):
        self._process.stdin.close()
        code = self._process.wait()
        self._process.stdout.close()
        if code != 0:
            raise RuntimeError(f"dump serve exited with {code}")

    def _request(self, op: str, text: str) -> None:
        data = text.encode("utf-8")
        self._process.stdin.write(f"{op} {len(data)}\n".encode("ascii") + data)
        self._process.stdin.flush()

    def _read_framed(self) -> str:
        line = self._process.stdout.readline()
        if not line:
            raise RuntimeError(f"dump serve stopped (exit {self._process.wait()})")
        size = int(line)
        data = self._process.stdout.read(size)
        return data.decode("utf-8")

    def to_lowercase(self, text: str) -> str:
        self._request("lower", text)
        return self._read_framed()

    def append_lowercase_after_sigma(self, text: str) -> str:
        """append_lowercase onto a string that already holds U+03A3."""
        self._request("append", text)
        return self._read_framed()

    def keep_letters(self, text: str) -> str:
        self._request("letters", text)
        return self._read_framed()

    def split_words(self, text: str) -> list[str]:
        self._request("split", text)
        count = int(self._process.stdout.readline())
        return [self._read_framed() for _ in range(count)]
