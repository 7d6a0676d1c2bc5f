"""The catalogue texts as the resource scripts hold them, and the boxes the updater builds."""

import importlib.util
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
_spec = importlib.util.spec_from_file_location(
    "check_strings", os.path.join(ROOT, "tools", "check_strings.py"))
check_strings = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_strings)

CAPTIONS = {300: 311, 301: 312, 306: 313, 307: 311, 308: 311, 309: 311, 310: 311, 314: 311,
            319: 312}
FLAGS = {300: 0x50010, 301: 0x50040, 306: 0x50010, 307: 0x50010, 308: 0x50010, 309: 0x50010,
         310: 0x50010, 314: 0x50010, 319: 0x50040}
ICONS = {0x50010: "error", 0x50040: "information", 0x50030: "warning", 0x50000: "none"}

_tables = {}


def texts(language):
    if language not in _tables:
        path = os.path.join(ROOT, "resources", "strings", f"{language}.rc")
        with open(path, "rb") as f:
            _tables[language] = check_strings.parse_rc(f.read(), path)[1]
    return _tables[language]


def expected_box(language, message_id, insert=""):
    """{caption, text, flags, icon} of the box of message_id in language."""
    table = texts(language)
    text = table[message_id]
    for placeholder in ("%s", "%d"):
        text = text.replace(placeholder, str(insert))
    flags = FLAGS[message_id]
    return {"caption": table[CAPTIONS[message_id]], "text": text, "flags": flags,
            "icon": ICONS[flags]}


def shown(boxes):
    """The recorded boxes reduced to what expected_box describes."""
    return [{key: box[key] for key in ("caption", "text", "flags", "icon")} for box in boxes]
