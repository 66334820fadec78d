"""The `tavrin` command: looking after the basis cache (show, clear, pre-build, merge)."""
