"""``python -m parvenkel``: the command line."""

from parvenkel.cli import main

if __name__ == "__main__":
    raise SystemExit(main())
