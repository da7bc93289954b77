"""Reading the command line's inputs: files, folders and standard input, as
UTF-8 text, in chunks, with a progress bar for long inputs and errors that
name the file and the byte offset."""

from __future__ import annotations

import codecs
import os
import sys
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from types import TracebackType
from typing import IO, Any

#: Bytes read at a time.
CHUNK_SIZE = 1 << 20

#: Characters at which text may be cut into parts that are counted apart:
#: all six are Unicode White_Space, so no word spans a cut.
ASCII_WHITE_SPACE = " \t\n\r\x0b\x0c"

STDIN_NAME = "<stdin>"


class InputError(Exception):
    """A problem with the user's input: reported on one line, exit code 1."""


class UsageError(Exception):
    """A problem with the command line itself: reported on one line, exit code 2."""


def shown_path(path: str) -> str:
    """A path as text that can always be printed (undecodable bytes of a file
    name appear as \\xNN)."""
    return os.fsencode(path).decode("utf-8", "backslashreplace")


@dataclass(frozen=True, slots=True)
class Source:
    """One input: a file, or standard input when `path` is None."""

    name: str
    path: str | None
    size: int | None
    #: True for a file found in a folder given on the command line.
    from_folder: bool = False

    def open(self) -> IO[bytes]:
        if self.path is None:
            return sys.stdin.buffer
        try:
            return open(self.path, "rb")
        except OSError as e:
            raise InputError(f"{self.name}: {e.strerror}") from None


def _stdin() -> Source:
    return Source(STDIN_NAME, None, None)


def _walk(folder: str) -> list[Source]:
    """The files under a folder, recursively, in sorted order; names starting
    with "." (hidden files and folders) are left out."""

    def fail(error: OSError) -> None:
        raise InputError(f"{shown_path(error.filename or folder)}: {error.strerror}")

    found = []
    for top, dirs, files in os.walk(folder, onerror=fail):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for name in sorted(files):
            path = os.path.join(top, name)
            if name.startswith(".") or not os.path.isfile(path):
                continue
            found.append(Source(shown_path(path), path, os.path.getsize(path), True))
    return found


def collect(
    paths: Sequence[str], on_empty_folder: Callable[[str], None] | None = None
) -> list[Source]:
    """The inputs named on the command line: each path is a file or a folder
    (all the files under it); "-", or no path at all, is standard input.
    Every path is checked before anything is read."""
    if not paths:
        return [_stdin()]
    sources: list[Source] = []
    for path in paths:
        if path == "-":
            sources.append(_stdin())
            continue
        name = shown_path(path)
        try:
            st = os.stat(path)
        except OSError as e:
            raise InputError(f"{name}: {e.strerror}") from None
        if os.path.isdir(path):
            found = _walk(path)
            if not found and on_empty_folder is not None:
                on_empty_folder(name)
            sources.extend(found)
        else:
            sources.append(Source(name, path, st.st_size))
    return sources


class Progress:
    """A progress bar on standard error, in bytes, when tqdm is installed and
    the user wants one; otherwise it does nothing."""

    def __init__(self, bar: Any = None) -> None:
        self._bar = bar

    def advance(self, nbytes: int) -> None:
        if self._bar is not None:
            self._bar.update(nbytes)

    def __enter__(self) -> Progress:
        return self

    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc: BaseException | None,
        tb: TracebackType | None,
    ) -> None:
        if self._bar is not None:
            self._bar.close()


def progress(
    mode: str, sources: Sequence[Source], label: str, warn: Callable[[str], None]
) -> Progress:
    """A progress bar over the bytes of `sources`.

    `mode` "auto" shows one only on a terminal and only once the work has
    taken a second (so short inputs never show one); "always" shows it at once
    wherever standard error goes; "never" shows none. Without tqdm (the
    "progress" extra) there is no bar, and "always" says so through `warn`.
    """
    if mode == "never" or (mode == "auto" and not sys.stderr.isatty()):
        return Progress()
    try:
        from tqdm import tqdm
    except ImportError:
        if mode == "always":
            warn("no progress bar: it needs tqdm (pip install 'parvenkel[progress]')")
        return Progress()
    sizes = [s.size for s in sources]
    total = None if None in sizes else sum(s for s in sizes if s is not None)
    bar = tqdm(
        total=total,
        desc=label,
        unit="B",
        unit_scale=True,
        unit_divisor=1024,
        file=sys.stderr,
        leave=False,
        delay=1.0 if mode == "auto" else 0.0,
        dynamic_ncols=True,
    )
    return Progress(bar)


def decoded_chunks(source: Source, meter: Progress | None = None) -> Iterator[str]:
    """The text of a source as UTF-8, chunk by chunk (a chunk may be empty).
    Bytes that are not UTF-8 raise InputError naming the source and the byte
    offset of the first bad byte."""
    chunk_size = CHUNK_SIZE
    decoder = codecs.getincrementaldecoder("utf-8")("strict")
    offset = 0  # bytes handed to the decoder so far
    stream = source.open()
    try:
        while True:
            try:
                data = stream.read(chunk_size)
            except OSError as e:
                raise InputError(f"{source.name}: {e.strerror}") from None
            pending = len(decoder.getstate()[0])
            try:
                text = decoder.decode(data, final=not data)
            except UnicodeDecodeError as e:
                # The decoder works on its pending bytes followed by `data`.
                at = offset - pending + e.start
                bad = e.object[e.start : e.end].hex(" ")
                raise InputError(
                    f"{source.name}: not valid UTF-8 at byte offset {at} "
                    f"({e.reason}: {bad})"
                ) from None
            offset += len(data)
            if meter is not None:
                meter.advance(len(data))
            yield text
            if not data:
                return
    finally:
        if source.path is not None:
            stream.close()


def read_text(source: Source, meter: Progress | None = None) -> str:
    """The whole text of a source."""
    return "".join(decoded_chunks(source, meter))


def word_runs(chunks: Iterator[str]) -> Iterator[str]:
    """The text of `chunks` again, in parts cut only just after ASCII white
    space, so that every word lies whole within one part."""
    pending: list[str] = []  # text since the last cut, which holds no cut
    for chunk in chunks:
        cut = max(chunk.rfind(c) for c in ASCII_WHITE_SPACE)
        if cut < 0:
            pending.append(chunk)
            continue
        pending.append(chunk[: cut + 1])
        yield "".join(pending)
        pending = [chunk[cut + 1 :]]
    tail = "".join(pending)
    if tail:
        yield tail


def lines(chunks: Iterator[str]) -> Iterator[tuple[int, str]]:
    """The lines of `chunks` (cut at line feeds only, a carriage return at the
    end of a line dropped), each with its number from 1."""
    number = 0
    pending: list[str] = []  # the start of a line whose end has not come yet
    for chunk in chunks:
        if "\n" not in chunk:
            pending.append(chunk)
            continue
        parts = chunk.split("\n")
        parts[0] = "".join(pending) + parts[0]
        pending = [parts.pop()]
        for part in parts:
            number += 1
            yield number, part.removesuffix("\r")
    tail = "".join(pending)
    if tail:
        yield number + 1, tail.removesuffix("\r")
