"""The updater's icon: drawing, encoding and an independent check (tools/make_icon.py runs them)."""
