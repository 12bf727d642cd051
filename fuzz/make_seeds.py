#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora, fuzz/corpus/<target>/, from the tests' own data: the
SMTP transcripts, the .reg texts of the registry tests, the golden installations' logs and
the records the statistics tests build. Run it again when that data changes and commit
what it writes; each seed is named after a digest of its bytes, so a rerun only adds and
removes what changed.

Usage: fuzz/make_seeds.py
"""
import base64
import hashlib
import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parent.parent
TESTS = ROOT / "tests"
CORPUS = ROOT / "fuzz" / "corpus"
MAX_SEEDS = 40          # per target: a sample of the data, not all of it
MAX_SEED_BYTES = 4096   # larger seeds only slow the fuzzer down
REG_HEADER = b"Windows Registry Editor Version 5.00\r\n"

# ---- C++ string literals ----

ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", "0": b"\0", "\\": b"\\", '"': b'"', "'": b"'"}
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
# Literals standing next to each other, as the compiler joins them.
LITERAL_RUN = re.compile(r'(?:"(?:[^"\\\n]|\\.)*"\s*)+')


def unescape_c(body):
    out = bytearray()
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out += c.encode("latin-1")
            i += 1
            continue
        nxt = body[i + 1]
        if nxt == "x":
            digits = re.match(r"[0-9a-fA-F]+", body[i + 2:]).group(0)
            out.append(int(digits, 16) & 0xFF)
            i += 2 + len(digits)
        else:
            out += ESCAPES.get(nxt, nxt.encode("latin-1"))
            i += 2
    return bytes(out)


def literal_runs(path):
    text = path.read_text(encoding="latin-1")
    for run in LITERAL_RUN.finditer(text):
        yield b"".join(unescape_c(m.group(1)) for m in LITERAL.finditer(run.group(0)))


# ---- the sources, one function per target ----

def transcript_escapes(text):
    """A transcript text: \\r \\n \\t \\\\ \\xHH; a final \\c means no CR LF."""
    bare = text.endswith("\\c")
    if bare:
        text = text[:-2]
    out = bytearray()
    i = 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out += {"r": b"\r", "n": b"\n", "t": b"\t", "\\": b"\\"}.get(nxt, nxt.encode())
            i += 2
            continue
        out += text[i].encode("latin-1")
        i += 1
    return bytes(out) + (b"" if bare else b"\r\n")


def smtp_reply_seeds():
    """Each run of server lines between the client's lines: one reply as the client reads it."""
    for path in sorted((TESTS / "mailer" / "transcripts").glob("*.txt")):
        reply = b""
        for line in path.read_text(encoding="latin-1").splitlines() + ["C: end"]:
            m = re.match(r"S(?:\*(\d+))?: ?(.*)$", line) or re.match(r"T: \d+ (.*)$", line)
            if m is None:
                if reply:
                    yield reply
                reply = b""
                continue
            count = int(m.group(1) or 1) if m.re.pattern.startswith("S") else 1
            reply += transcript_escapes(m.groups()[-1]) * min(count, 64)
    # Past each limit, in the fuzzer's shorthand (0xFF N: the byte before it N * 256 times
    # more): a line over the line limit, lines together over the reply limit.
    yield b"250-x\xff\x60\r\n"
    yield b"250-x\xff\x40\r\n" * 4


def regfile_seeds():
    for name in ["platform/regfile_test.cpp", "platform/registry_file_test.cpp",
                 "platform/registry_hostile_test.cpp", "tools/reg_command_test.cpp"]:
        for text in literal_runs(TESTS / name):
            if b"[" not in text and b"=" not in text:
                continue
            if not (text.lstrip(b"\xef\xbb\xbf").startswith((REG_HEADER[:8], b"REGEDIT"))):
                # A value line of a table: given a key and a header to stand in.
                key = b"" if text.startswith(b"[") else b"[HKLM\\SOFTWARE\\BriskoFilter]\r\n"
                text = REG_HEADER + key + text + (b"" if text.endswith(b"\n") else b"\r\n")
            yield text


def installation_files():
    """The files of the golden installations: (name, records as written before encoding)."""
    for path in sorted((TESTS / "aggregator" / "golden").glob("*/installation.txt")):
        name, records = None, []
        for line in path.read_text(encoding="latin-1").splitlines() + ["file end"]:
            if line.startswith("#") or line.startswith("at "):
                continue
            if line.startswith("file "):
                if name is not None:
                    yield name, records
                name, records = line[5:], []
            elif name is not None:
                records.append(line.encode("latin-1"))


def encoded(records):
    return b"".join(base64.b64encode(r) + b"\r\n" for r in records)


def log_line_seeds():
    for _, records in installation_files():
        yield encoded(records)
    for path in sorted((TESTS / "aggregator" / "golden").glob("*/expected/brisko.*")):
        yield path.read_bytes()
    # The record table of the log store's tests: {"record", true|false, ...}.
    text = (TESTS / "stats" / "log_store_test.cpp").read_text(encoding="latin-1")
    for m in re.finditer(r'\{"((?:[^"\\]|\\.)*)", (?:true|false)', text):
        yield encoded([unescape_c(m.group(1))])


def filter_line_seeds():
    for name, records in installation_files():
        if name.startswith("Filter_"):
            yield from records
    yield b"07/12/2026 10.0.0.5 ann 09:00:00 http://x/?a=1&b=<2> Adult_Content "


def mime_address_seeds():
    lists = set()
    for path in sorted((TESTS / "mailer" / "transcripts").glob("*.txt")):
        for line in path.read_text(encoding="latin-1").splitlines():
            m = re.match(r"> (?:to|from) (.*)$", line)
            if m:
                lists.add(m.group(1).encode("latin-1"))
    for name in ["mailer/mime_message_test.cpp", "mailer/sender_test.cpp"]:
        for text in literal_runs(TESTS / name):
            if b"@" in text or b"<" in text or b";" in text:
                lists.add(text)
    for i, recipients in enumerate(sorted(lists)):
        # Flag byte (bit 0: UTF-8), recipient list, sender, subject.
        yield bytes([i & 1]) + recipients + b"\0Ann <a@x.test>\0Reports f\xfcr Ren\xe9"


TARGETS = {
    "smtp_reply": smtp_reply_seeds,
    "regfile": regfile_seeds,
    "log_line": log_line_seeds,
    "filter_line": filter_line_seeds,
    "mime_address": mime_address_seeds,
}


def main():
    for target, seeds in TARGETS.items():
        unique = {}
        for seed in seeds():
            if 0 < len(seed) <= MAX_SEED_BYTES:
                unique.setdefault(hashlib.sha1(seed).hexdigest(), seed)
        # A spread over the sources rather than the first of them.
        keys = list(unique)
        step = max(1, len(keys) / MAX_SEEDS)
        chosen = sorted({keys[int(i * step)] for i in range(min(MAX_SEEDS, len(keys)))})
        folder = CORPUS / target
        folder.mkdir(parents=True, exist_ok=True)
        # Reproducers of past findings ("regression-<what>") stay; the rest is rewritten.
        regressions = [p for p in folder.iterdir() if p.name.startswith("regression-")]
        for old in folder.iterdir():
            if old not in regressions:
                old.unlink()
        for digest in chosen:
            (folder / digest).write_bytes(unique[digest])
        print(f"{target}: {len(chosen)} seeds of {len(unique)}, {len(regressions)} regression seeds")


if __name__ == "__main__":
    main()
