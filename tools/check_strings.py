#!/usr/bin/python3
"""Checks the localized message tables in resources/strings/.

Every language's table is read from its .rc source and compiled with windres; the compiled UTF-16
strings must equal the source texts, and every table must keep the properties the updater relies
on: the same ids, the same printf placeholders (the texts are format strings), the line layout of
the multi-line messages, and the marker texts 316-318 that are read as data, not shown.

Usage: check_strings.py [--no-compile] [--self-test]
  --no-compile  skip the windres round trip (source checks only)
  --self-test   run the checks against deliberately broken tables and report any that pass
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STRINGS_DIR = os.path.join(ROOT, "resources", "strings")
WINDRES = "x86_64-w64-mingw32-windres"

# LCID -> (primary language, sublanguage) as written on the LANGUAGE line.
LANGUAGES = {
    1028: (0x04, 0x01),  # Chinese (Traditional)
    1029: (0x05, 0x01),  # Czech
    1031: (0x07, 0x01),  # German
    1033: (0x09, 0x01),  # English
    1036: (0x0C, 0x01),  # French
    1038: (0x0E, 0x01),  # Hungarian
    1040: (0x10, 0x01),  # Italian
    1041: (0x11, 0x01),  # Japanese
    1042: (0x12, 0x01),  # Korean
    1045: (0x15, 0x01),  # Polish
    1046: (0x16, 0x01),  # Portuguese (Brazil)
    1049: (0x19, 0x01),  # Russian
    2052: (0x04, 0x02),  # Chinese (Simplified)
    3082: (0x0A, 0x03),  # Spanish (modern sort)
}

ENGLISH = {
    300: "A problem prevented the Update from being installed. Contact your system administrator. "
    "\n\n Error Code: %d",
    301: "The update was successfully installed and %s has been updated.",
    306: "Your version of %s is up-to-date and this update is not necessary",
    307: "The update could not be installed because the expected Quorvex product could not be "
    "located on your computer.\nMake sure that you are using the correct update for the product.",
    308: "This update could not be installed because it is not designed for the version of %s "
    "that is installed on your computer.",
    309: "The command line that you supplied is incorrect. Please check it for errors.",
    310: "You must supply a patch list with the command line to install this update.",
    311: "Installation Error",
    312: "Installation Successful",
    313: "Installation Unnecessary",
    314: "Installation of this update is blocked.  For more information, please read Information "
    "for Windows Vista Users in the update readme.",
    315: "The following applications should be closed before continuing the install:",
    316: "_glob",
    317: "_lp",
    318: "_ps",
    319: "The update was successfully installed. Restart your computer to complete the update of "
    "%s.",
    320: "This update takes these switches:\n/q – show no message box\n/e [path] – write the patches "
    "to files\n/i – show what the patches apply to",
    321: "/pi – do nothing\n/log path – write the run log to path\n/exitcode – exit code tells the "
    "outcome\n/norestart – never restart; a restart still needed gives 3010",
    322: "/plan – tell what a run would do, change nothing\n/wait seconds – wait this long at most "
    "for another installation (600)\n/?, /help – show this list",
}

IDS = sorted(ENGLISH)
PLACEHOLDERS = {300: "%d", 301: "%s", 306: "%s", 308: "%s", 319: "%s"}
# The usage ("/?"): shown one after the other, each line a switch, " – " and what it does; the
# switches are the program's own and stay as in English. 320 begins with a heading line.
USAGE = (320, 321, 322)
USAGE_DASH = " – "
MARKERS = {316: "_glob", 317: "_lp", 318: "_ps"}
TITLES = (311, 312, 313)
SENTENCE_END = ".。"
COLONS = ":："
MAX_UTF16_UNITS = 255  # under 256 UTF-16 units: a 256-unit buffer holds any text and its NUL


def utf16_units(text):
    return len(text.encode("utf-16-le")) // 2


# --------------------------------------------------------------------------------------------
# Reading the .rc source


class RcError(Exception):
    pass


def decode_rc_string(body, where):
    """Turns the inside of an .rc string literal into its text; only "" and \\n are allowed."""
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            if body[i + 1 : i + 2] != "n":
                raise RcError(f"{where}: escape other than \\n: {body[i:i + 2]!r}")
            out.append("\n")
            i += 2
        elif c == '"':
            if body[i + 1 : i + 2] != '"':
                raise RcError(f"{where}: lone double quote inside the text")
            out.append('"')
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


ENTRY = re.compile(r'^  (\d+) "((?:[^"]|"")*)"$')


def parse_rc(data, name):
    """Parses one table file (bytes) into ((primary, sub), {id: text}); raises RcError."""
    if data.startswith(b"\xef\xbb\xbf"):
        raise RcError(f"{name}: starts with a byte order mark")
    try:
        source = data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise RcError(f"{name}: not valid UTF-8: {e}")
    if "\r" in source:
        raise RcError(f"{name}: contains a carriage return")
    if not source.endswith("\n"):
        raise RcError(f"{name}: does not end with a line feed")
    lines = source[:-1].split("\n")
    if len(lines) < 5:
        raise RcError(f"{name}: too short")
    if lines[0] != "#pragma code_page(65001)":
        raise RcError(f"{name}: first line must be #pragma code_page(65001)")
    m = re.fullmatch(r"LANGUAGE 0x([0-9A-F]{2}), 0x([0-9A-F]{2})", lines[1])
    if not m:
        raise RcError(f"{name}: second line must be LANGUAGE 0xPP, 0xSS")
    language = (int(m.group(1), 16), int(m.group(2), 16))
    if lines[2:4] != ["STRINGTABLE", "BEGIN"] or lines[-1] != "END":
        raise RcError(f"{name}: expected STRINGTABLE / BEGIN ... END")
    texts = {}
    for n, line in enumerate(lines[4:-1], start=5):
        m = ENTRY.match(line)
        if not m:
            raise RcError(f"{name}:{n}: not an entry of the form '  <id> \"<text>\"'")
        sid = int(m.group(1))
        if sid in texts:
            raise RcError(f"{name}:{n}: id {sid} appears twice")
        texts[sid] = decode_rc_string(m.group(2), f"{name}:{n}")
    if list(texts) != sorted(texts):
        raise RcError(f"{name}: ids are not in ascending order")
    return language, texts


# --------------------------------------------------------------------------------------------
# The properties every table must have


def check_table(lcid, texts):
    """Returns a list of problems with one language's texts (empty when the table is sound)."""
    problems = []

    def bad(sid, message):
        problems.append(f"{lcid}: {sid}: {message}")

    if sorted(texts) != IDS:
        missing = sorted(set(IDS) - set(texts))
        extra = sorted(set(texts) - set(IDS))
        problems.append(f"{lcid}: ids differ: missing {missing}, unexpected {extra}")

    for sid, text in texts.items():
        if not text:
            bad(sid, "empty text")
            continue
        if utf16_units(text) > MAX_UTF16_UNITS:
            bad(sid, f"{utf16_units(text)} UTF-16 units, at most {MAX_UTF16_UNITS} fit")
        if '"' in text:
            bad(sid, "contains a double quote")
        for ch in text:
            if (ord(ch) < 0x20 and ch != "\n") or 0x7F <= ord(ch) < 0xA0 or ch in "\u2028\u2029":
                bad(sid, f"contains control character U+{ord(ch):04X}")
        if text != text.strip(" \u00a0\n"):
            bad(sid, "leading or trailing blank")
        expected = PLACEHOLDERS.get(sid)
        if text.count("%") != (1 if expected else 0):
            bad(sid, f"expected {1 if expected else 0} percent sign(s), found {text.count('%')}")
        if expected and text.count(expected) != 1:
            bad(sid, f"must contain {expected} exactly once")
        if sid != 314 and "  " in text:
            bad(sid, "two consecutive blanks")
        if sid not in (300, 307) + USAGE and "\n" in text:
            bad(sid, "line break in a single-line text")

    def text_of(sid):
        return texts.get(sid, "")

    # 300: "<sentences> \n\n <label>: %d", the error code alone on the last line.
    t = text_of(300)
    m = re.fullmatch(r"([^\n]*[^\s]) \n\n ([^\s][^\n]*)", t)
    if not m:
        bad(300, "must be '<sentences> \\n\\n <error code label>: %d' with exactly two line feeds")
    else:
        if m.group(1)[-1] not in SENTENCE_END:
            bad(300, "the message before the line feeds must end with a full stop")
        if not re.fullmatch(r"[^%]*[^\s%][ \u00a0]?[:：][ \u00a0]?%d", m.group(2)):
            bad(300, "the last line must be the error code label, a colon and %d")

    # 307: two sentences, one on each line.
    t = text_of(307)
    if t.count("\n") != 1:
        bad(307, "must contain exactly one line feed")
    else:
        first, second = t.split("\n")
        if not first or first[-1] not in SENTENCE_END or not second or second[0].isspace():
            bad(307, "the line feed must come right after the first sentence's full stop")
        if second and second[-1] not in SENTENCE_END:
            bad(307, "must end with a full stop")
    if "Quorvex" not in t:
        bad(307, "must name Quorvex")

    t = text_of(306)
    if t and t[-1] in SENTENCE_END + "．":
        bad(306, "must not end with a full stop")

    # 314: the first sentence is followed by two blanks, as in the English readme pointer.
    t = text_of(314)
    if t.count("  ") != 1 or not re.search(r"[.。]  [^\s]", t):
        bad(314, "the first sentence must be followed by exactly two blanks")
    if t and t[-1] not in SENTENCE_END:
        bad(314, "must end with a full stop")

    for sid in USAGE:
        t = text_of(sid)
        if not t:
            continue
        lines = t.split("\n")
        english = ENGLISH[sid].split("\n")
        if len(lines) != len(english):
            bad(sid, f"{len(lines)} lines, English has {len(english)}")
            continue
        if sid == USAGE[0]:
            if USAGE_DASH in lines[0] or lines[0][-1] not in COLONS:
                bad(sid, "the first line is a heading that ends with a colon")
            lines, english = lines[1:], english[1:]
        for line, original in zip(lines, english):
            if line.count(USAGE_DASH) != 1 or line.endswith(SENTENCE_END):
                bad(sid, f"{line!r}: must be '<switch> – <what it does>' without a full stop")
                continue
            switches = re.findall(r"/[a-z?]+", line.split(USAGE_DASH)[0])
            if switches != re.findall(r"/[a-z?]+", original.split(USAGE_DASH)[0]):
                bad(sid, f"{line!r}: the switches must stand as in English")

    for sid in (301, 308, 309, 310, 319):
        t = text_of(sid)
        if t and t[-1] not in SENTENCE_END:
            bad(sid, "must end with a full stop")

    t = text_of(315)
    if t and t[-1] not in COLONS:
        bad(315, "must end with a colon, the application list follows it")

    for sid in TITLES:
        t = text_of(sid)
        if t and t[-1] in SENTENCE_END + COLONS:
            bad(sid, "a caption must not end with punctuation")

    for sid, marker in MARKERS.items():
        if sid in texts and texts[sid] != marker:
            bad(sid, f"must be exactly {marker!r}")

    if lcid == 1033:
        for sid, text in ENGLISH.items():
            if sid in texts and texts[sid] != text:
                bad(sid, f"English text differs: {texts[sid]!r}")
    else:
        for sid in IDS:
            if sid not in MARKERS and sid in texts and texts[sid] == ENGLISH[sid]:
                bad(sid, "left in English")
    return problems


# --------------------------------------------------------------------------------------------
# The compiled form: windres output (.res) read back


def read_res_strings(data):
    """Returns {(language id, string id): text} from a .res file's RT_STRING blocks."""

    def read_name(pos):
        if data[pos : pos + 2] == b"\xff\xff":
            return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
        end = pos
        while data[end : end + 2] != b"\0\0":
            end += 2
        return data[pos:end].decode("utf-16-le"), end + 2

    strings = {}
    pos = 0
    while pos < len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        rtype, p = read_name(pos + 8)
        rname, p = read_name(p)
        p = (p + 3) & ~3
        _, _, language, _, _ = struct.unpack_from("<IHHII", data, p)
        body = data[pos + header_size : pos + header_size + data_size]
        if rtype == 6:  # RT_STRING: block n holds ids 16(n-1) .. 16(n-1)+15, each length-prefixed
            q = 0
            for k in range(16):
                (n,) = struct.unpack_from("<H", body, q)
                q += 2
                if n:
                    strings[(language, (rname - 1) * 16 + k)] = body[q : q + 2 * n].decode(
                        "utf-16-le"
                    )
                q += 2 * n
        pos = (pos + header_size + data_size + 3) & ~3
    return strings


def compile_and_compare(path, language, texts):
    """Compiles one table with windres and compares the stored strings with the source texts."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "table.res")
        run = subprocess.run(
            [WINDRES, "-c", "65001", path, "-O", "res", "-o", out], capture_output=True, text=True
        )
        if run.returncode != 0:
            return [f"{path}: windres failed: {run.stderr.strip()}"]
        with open(out, "rb") as f:
            compiled = read_res_strings(f.read())
    langid = language[0] | (language[1] << 10)
    expected = {(langid, sid): text for sid, text in texts.items()}
    if compiled == expected:
        return []
    problems = []
    for key in sorted(set(compiled) | set(expected)):
        if compiled.get(key) != expected.get(key):
            problems.append(
                f"{path}: compiled language 0x{key[0]:04X} id {key[1]}: "
                f"{compiled.get(key)!r} instead of {expected.get(key)!r}"
            )
    return problems


# --------------------------------------------------------------------------------------------


def check_all(compile_tables):
    problems = []
    names = sorted(os.listdir(STRINGS_DIR))
    expected_names = sorted(f"{lcid}.rc" for lcid in LANGUAGES)
    if names != expected_names:
        problems.append(f"files in {STRINGS_DIR} are {names}, expected {expected_names}")
    if compile_tables and not shutil.which(WINDRES):
        problems.append(f"{WINDRES} not found (install binutils-mingw-w64-x86-64 or --no-compile)")
        compile_tables = False
    checked = 0
    for lcid, language in sorted(LANGUAGES.items()):
        path = os.path.join(STRINGS_DIR, f"{lcid}.rc")
        if not os.path.exists(path):
            continue
        with open(path, "rb") as f:
            data = f.read()
        try:
            file_language, texts = parse_rc(data, path)
        except RcError as e:
            problems.append(str(e))
            continue
        if file_language != language:
            problems.append(f"{path}: LANGUAGE {file_language}, expected {language}")
        problems += check_table(lcid, texts)
        if compile_tables:
            problems += compile_and_compare(path, language, texts)
        checked += 1
    return checked, problems


def rc_source(texts, language=(0x09, 0x01)):
    body = "".join(
        f'  {sid} "' + text.replace('"', '""').replace("\n", "\\n") + '"\n'
        for sid, text in texts.items()
    )
    return (
        f"#pragma code_page(65001)\nLANGUAGE 0x{language[0]:02X}, 0x{language[1]:02X}\n"
        f"STRINGTABLE\nBEGIN\n{body}END\n"
    )


def self_test():
    """Feeds broken tables to the checks; every case must be reported, the sound ones must not."""

    # A pseudo-translation keeps every property of the English table while differing from it, so
    # each broken variant below fails for its own reason only.
    def accent(text):
        # The switches of the usage are the program's own and stay as they are.
        return re.sub(
            r"/[a-z?]+|[^/]+",
            lambda m: m.group(0)
            if m.group(0).startswith("/")
            else m.group(0).translate(str.maketrans("aeiouAEIOU", "áéíóúÁÉÍÓÚ")),
            text,
        ).replace("Qúórvéx", "Quorvex")

    pseudo = {sid: text if sid in MARKERS else accent(text) for sid, text in ENGLISH.items()}

    def with_text(sid, text):
        t = dict(pseudo)
        t[sid] = accent(text)
        return t

    def without(sid):
        return {k: v for k, v in pseudo.items() if k != sid}

    text_cases = [
        # (description, lcid, texts, id that must be reported, or None for a sound table)
        ("English as given", 1033, ENGLISH, None),
        ("pseudo-translation", 1031, pseudo, None),
        ("missing id", 1031, without(309), "ids differ"),
        ("extra id", 1031, {**pseudo, 302: "x"}, "ids differ"),
        ("%d dropped", 1031, with_text(300, ENGLISH[300].replace("%d", "0")), 300),
        ("%s doubled", 1031, with_text(301, ENGLISH[301] + " %s"), 301),
        ("%s where %d belongs", 1031, with_text(300, ENGLISH[300].replace("%d", "%s")), 300),
        ("stray percent", 1031, with_text(309, "100% wrong."), 309),
        ("300 one line feed", 1031, with_text(300, ENGLISH[300].replace("\n\n", "\n")), 300),
        ("300 blank lost", 1031, with_text(300, ENGLISH[300].replace(". \n", ".\n")), 300),
        ("300 label w/o colon", 1031, with_text(300, ENGLISH[300].replace(":", "")), 300),
        ("307 no line feed", 1031, with_text(307, ENGLISH[307].replace("\n", " ")), 307),
        ("307 blank after LF", 1031, with_text(307, ENGLISH[307].replace("\n", "\n ")), 307),
        ("307 maker renamed", 1031, with_text(307, ENGLISH[307].replace("Quorvex", "Q")), 307),
        ("line feed in 309", 1031, with_text(309, ENGLISH[309].replace(". ", ".\n")), 309),
        ("306 full stop", 1031, with_text(306, ENGLISH[306] + "."), 306),
        ("306 CJK full stop", 1031, with_text(306, ENGLISH[306] + "。"), 306),
        ("314 one blank", 1031, with_text(314, ENGLISH[314].replace("  ", " ")), 314),
        ("double quote in 315", 1031, with_text(315, 'Close "these":'), 315),
        ("315 without colon", 1031, with_text(315, ENGLISH[315][:-1]), 315),
        ("caption with full stop", 1031, with_text(311, "Error."), 311),
        ("marker changed", 1031, {**pseudo, 317: "_LP"}, 317),
        ("too long", 1031, with_text(309, "x" * 256 + "."), 309),
        ("astral chars count twice", 1031, with_text(309, "\U0001F600" * 128 + "."), 309),
        ("carriage return", 1031, with_text(300, ENGLISH[300].replace("\n\n", "\r\n\r\n")), 300),
        ("trailing blank", 1031, with_text(311, "Error "), 311),
        ("double blank", 1031, with_text(310, ENGLISH[310].replace(" ", "  ", 1)), 310),
        ("English text altered", 1033, {**ENGLISH, 312: "Installation successful"}, 312),
        ("left in English", 1031, {**pseudo, 313: ENGLISH[313]}, 313),
        ("319 without %s", 1031, with_text(319, ENGLISH[319].replace("%s", "it")), 319),
        ("319 without full stop", 1031, with_text(319, ENGLISH[319][:-1]), 319),
        ("usage switch translated", 1031, with_text(322, ENGLISH[322].replace("/help", "/hilfe")),
         322),
        ("usage line lost", 1031, with_text(321, ENGLISH[321].rsplit("\n", 1)[0]), 321),
        ("usage heading without colon", 1031, with_text(320, ENGLISH[320].replace(":", "", 1)),
         320),
        ("usage line without dash", 1031, with_text(321, ENGLISH[321].replace(" – ", " ", 1)),
         321),
        ("line feed in 319", 1031, with_text(319, ENGLISH[319].replace(". ", ".\n")), 319),
    ]
    failures = []
    for description, lcid, texts, reported in text_cases:
        problems = check_table(lcid, texts)
        if reported is None and problems:
            failures.append(f"{description}: rejected {problems}")
        elif reported is not None:
            tag = reported if isinstance(reported, str) else f"{lcid}: {reported}: "
            if not any(tag in p for p in problems):
                failures.append(f"{description}: {tag!r} not reported, got {problems}")

    source = rc_source(ENGLISH)
    rc_cases = [
        ("round trip", source.encode(), True),
        ("byte order mark", b"\xef\xbb\xbf" + source.encode(), False),
        ("CRLF", source.replace("\n", "\r\n").encode(), False),
        ("invalid UTF-8", source.encode().replace(b"Error", b"Err\xff"), False),
        ("tab escape", source.replace("%d", "\\t%d").encode(), False),
        ("lone quote", source.replace("_lp", '_l"p').encode(), False),
        ("pragma missing", source.replace("#pragma code_page(65001)\n", "").encode(), False),
        ("duplicate id", source.replace("  318", "  317").encode(), False),
    ]
    for description, data, should_pass in rc_cases:
        try:
            language, texts = parse_rc(data, description)
            ok = texts == ENGLISH and language == (0x09, 0x01)
            if not ok and should_pass:
                failures.append(f"{description}: parsed to different texts")
            if ok and not should_pass:
                failures.append(f"{description}: accepted")
        except RcError as e:
            if should_pass:
                failures.append(f"{description}: {e}")
    if '""' not in rc_source({1: 'a"b'}):
        failures.append("rc_source does not double quotes")
    if parse_rc(rc_source({1: 'a"b\nc'}).encode(), "quote")[1] != {1: 'a"b\nc'}:
        failures.append("quote and line feed escapes do not round trip")
    total = len(text_cases) + len(rc_cases) + 2
    return total, failures


def main(argv):
    if "--self-test" in argv:
        total, failures = self_test()
        for f in failures:
            print("self-test FAILED:", f)
        print(f"self-test: {total - len(failures)} of {total} cases behave as expected")
        return 1 if failures else 0
    checked, problems = check_all(compile_tables="--no-compile" not in argv)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} problem(s)")
        return 1
    compiled = " and compiled" if "--no-compile" not in argv else ""
    print(f"{checked} string tables checked{compiled}: all invariants hold")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
