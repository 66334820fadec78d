"""python -m tavrin_cli: the same as the `tavrin` command."""

from tavrin_cli.main import main

raise SystemExit(main())
