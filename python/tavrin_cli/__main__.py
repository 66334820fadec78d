"""python -m tavrin_cli: the same as the `tavrin` command."""

from tavrin_cli.main import main

# Pools that re-run the main module in their workers (mpi4py.futures does) import it under
# another name: only the process that was started with -m runs the command.
if __name__ == "__main__":
    raise SystemExit(main())
