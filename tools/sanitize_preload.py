"""Puts the AddressSanitizer runtime first in every interpreter of the
sanitizer environment (.venv-asan, see tools/sanitize.sh) and keeps it out of
the programs those interpreters start.

tools/sanitize.sh installs this file into that environment's site-packages,
with a .pth file that imports it at start-up. When PARVENKEL_SANITIZE_PRELOAD
names the libraries to preload (the host's libasan and libstdc++):

* an interpreter started without them re-executes itself with them in
  LD_PRELOAD, so that a test's child interpreter can import the sanitized
  module too;
* an interpreter that has them removes them from its own LD_PRELOAD, so that
  compilers, nm and other host programs started by the tests run as usual
  (they are not built for the runtime, and the leak checker would report the
  memory they deliberately never free).
"""

import os
import sys

_VARIABLE = "PARVENKEL_SANITIZE_PRELOAD"


def sanitized():
    """True when the AddressSanitizer runtime is loaded in this process."""
    with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
        return any("libasan" in line or "libclang_rt.asan" in line for line in maps)


def _is_multiprocessing_child():
    """True for the worker and fork-server processes that multiprocessing
    starts (as Dask's local cluster does). Their pool ends them while their
    own threads still run, so the leak checker would report whatever those
    threads hold at that moment (seen: a frame dictionary of a profiling
    thread); memory errors are still reported there, and leaks are checked
    in every other process."""
    argv = sys.orig_argv
    code = argv[argv.index("-c") + 1] if "-c" in argv[:-1] else ""
    return "--multiprocessing-fork" in argv or code.startswith("from multiprocessing.")


def _setup():
    libraries = os.environ.get(_VARIABLE, "").split()
    if not libraries:
        return
    current = os.environ.get("LD_PRELOAD", "").split()
    if not sanitized():
        env = dict(os.environ)
        env["LD_PRELOAD"] = " ".join([*libraries, *current])
        if _is_multiprocessing_child():
            env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        os.execve(sys.executable, [sys.executable, *sys.orig_argv[1:]], env)
    rest = [lib for lib in current if lib not in libraries]
    if rest:
        os.environ["LD_PRELOAD"] = " ".join(rest)
    else:
        os.environ.pop("LD_PRELOAD", None)


_setup()
