"""Hostile input against velmora on a real NTFS volume (an image mounted
with ntfs-3g): values of every awkward length, bytes that are not UTF-8,
control, wildcard and reserved characters, trailing slashes, "." and "..",
symbolic links, a standard input that is closed, empty, unreadable, binary or
one endless line, and two runs on one item at once.

Every run must end normally (no signal, nothing on standard error, where a
sanitizer would report), print exactly the expected message and end with the
expected Win32 number. Each run is then checked without velmora: every entry
of the volume, its content and its DOS name, is as before except for what the
run reported changing; the volume is unmounted, checked with ntfsfix,
mounted again and compared once more.

    python3 test_matrix.py /path/to/velmora
"""

import errno
import fcntl
import os
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import expected as E  # noqa: E402
from ntfs_volume import (DOS_NAME, VolumeChecks, check_prerequisites_or_exit,  # noqa: E402
                         create_items, open_populated, read_dos_name, with_changes)

VELMORA = None  # set from the command line
SYNTAX = None   # the syntax screen, as "velmora /?" prints it

# What all arguments together may take, less room for the environment.
ARGUMENT_SPACE = os.sysconf("SC_ARG_MAX") - 64 * 1024
# The longest single argument Linux passes to a program (MAX_ARG_STRLEN:
# 32 pages, the terminating zero included), where several of them fit.
LONGEST_ARGUMENT = min(os.sysconf("SC_PAGE_SIZE") * 32, ARGUMENT_SPACE // 4) - 1

# Standard input, besides bytes fed through a pipe and then ended.
CLOSED = "closed"          # descriptor 0 is not open at all
AT_END = "at its end"      # /dev/null: end of input at once
UNREADABLE = "unreadable"  # a folder: every read fails

TEN_MB = 10 * 1024 * 1024

# The items every volume starts with: (relative path, content, DOS name).
# Content is bytes (a file), None (a folder), ("link", target) or "fifo".
FIXTURE = [
    ("plain.txt", b"plain\n", None),
    ("A long file name.txt", b"alpha\n", "ALONGF~1.TXT"),
    ("Some Folder", None, "SOMEFO~1"),
    ("Some Folder/inner.txt", b"inner\n", None),
    ("Some Folder/Deeper", None, None),
    # ntfs-3g takes any character but "/" in a long name.
    ("a*b", b"star\n", None),
    ("q?.txt", b"question\n", None),
    ('x"y<z>|:', b"reserved\n", None),
    ("ctl\x01name", b"control\n", None),
    ("100%s%n%x.txt", b"percent\n", None),
    ("line\nbreak", b"line\n", None),
    ("link to plain", ("link", "plain.txt"), None),
    ("link to folder", ("link", "Some Folder"), None),
    ("dangling", ("link", "nowhere"), None),
    ("loop", ("link", "loop"), None),
    # Leads out of the mount, to the folder that holds the image.
    ("link out", ("link", ".."), None),
    ("fifo", "fifo", None),
]


def long_names(root):
    """Three file names that make paths of 259, 260 and 261 characters,
    each one letter longer than the one before: cutting the longest path to
    260 characters would name the middle file."""
    base = 260 - len(root) - 1
    return {length: "L" * (base + length - 260) for length in (259, 260, 261)}


def padded(root, length):
    """A path of `length` characters that names plain.txt ("/" repeated)."""
    return root + "/" * (length - len(root) - len("plain.txt")) + "plain.txt"


def populate(volume):
    create_items(volume, FIXTURE)
    for name in long_names(volume.root).values():
        with open(volume.path(name), "wb") as item:
            item.write(name.encode("ascii"))


def substitute(text, volume):
    """Fills in {root}, {p259}.. {p261}, {n259}.. {n261}, {pad4096} and
    {padmax}; the values are too long for str.format's taste."""
    names = long_names(volume.root)
    fields = {"root": volume.root, "pad4096": padded(volume.root, 4096),
              "padmax": padded(volume.root, LONGEST_ARGUMENT - len("/F:"))}
    for length, name in names.items():
        fields["n%d" % length] = name
        fields["p%d" % length] = volume.path(name)
    for key, value in fields.items():
        text = text.replace("{%s}" % key, value)
    return text


def as_bytes(text):
    # Arguments and output are bytes; "\udcXX" in a case stands for the raw
    # byte XX, which is not valid UTF-8 on its own.
    return text.encode("utf-8", "surrogateescape")


def run(args, stdin=b"", cwd=None):
    """Runs velmora; returns (status, standard output, standard error)."""
    options = dict(stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd, timeout=60)
    held = None
    if stdin == CLOSED:
        options["stdin"] = subprocess.DEVNULL
        options["preexec_fn"] = lambda: os.close(0)
    elif stdin == AT_END:
        options["stdin"] = subprocess.DEVNULL
    elif stdin == UNREADABLE:
        held = os.open("/", os.O_RDONLY | os.O_DIRECTORY)
        options["stdin"] = held
    else:
        options["input"] = stdin
    try:
        result = subprocess.run([VELMORA] + [as_bytes(a) for a in args], **options)
    finally:
        if held is not None:
            os.close(held)
    return result.returncode, result.stdout, result.stderr


class Case:
    """One run: arguments, where it runs and what it reads; the exact output,
    the Win32 number, and the DOS names it changes (relative path -> name)."""

    def __init__(self, label, args, output, code, changes=None, cwd=None, stdin=b""):
        self.label, self.args, self.output, self.code = label, args, output, code
        self.changes, self.cwd, self.stdin = changes or {}, cwd, stdin


class MatrixCase(VolumeChecks, unittest.TestCase):

    def open_volume(self):
        return open_populated(populate)

    def check_run(self, status, out, err, output, code):
        self.assertGreaterEqual(status, 0, "velmora was killed by signal %d" % -status)
        self.assertEqual(err.decode("utf-8", "replace"), "")
        self.assertEqual(out, output)
        self.assertEqual(status, E.exit_status(code))

    def run_case(self, volume, before, case):
        args = [substitute(a, volume) for a in case.args]
        output = SYNTAX if case.output is SYNTAX else as_bytes(substitute(case.output, volume))
        status, out, err = run(args, stdin=case.stdin,
                               cwd=volume.path(case.cwd) if case.cwd else None)
        self.check_run(status, out, err, output, case.code)
        changes = {substitute(relative, volume): name for relative, name in case.changes.items()}
        self.check_volume(volume, with_changes(before, changes))

    def run_cases(self, cases):
        """Runs that change nothing share one volume; a run that changes
        something gets a fresh one."""
        shared = None
        try:
            for case in cases:
                with self.subTest(case.label):
                    if case.changes:
                        volume = self.open_volume()
                        try:
                            self.run_case(volume, volume.snapshot(), case)
                        finally:
                            volume.close()
                        continue
                    if shared is None:
                        shared = self.open_volume()
                        pristine = shared.snapshot()
                    self.run_case(shared, pristine, case)
        finally:
            if shared is not None:
                shared.close()


PLAIN = "/F:{root}/plain.txt"
Q_PLAIN = E.query("plain.txt")
CHANGE = ["/SFN:NEW.TXT", "/Y"]


def refused_early(label, target, code, changes_args=CHANGE):
    """The path cannot be walked: the message of the first step, nothing else."""
    return Case(label, [target] + changes_args, E.short_path_failure(code), code)


class LengthTest(MatrixCase):
    """A value is taken whole or refused whole, never cut: a value of more
    than 260 characters ends the run with 206 before anything is looked at."""

    def test_lengths(self):
        f_long, sfn_long = E.too_long("/F:"), E.too_long("/SFN:")
        self.run_cases([
            Case("/F: empty", ["/F:"], SYNTAX, 87),
            Case("/F: empty, with a new name", ["/F:", "/SFN:NEW.TXT", "/Y"], SYNTAX, 87),
            Case("/F: of 259 characters", ["/F:{p259}"], E.query("{n259}"), 1),
            # The short path needs 261 bytes with its terminator, one more
            # than the buffer: the name shown is empty, and the run goes on.
            Case("/F: of 260 characters", ["/F:{p260}"], E.query(""), 1),
            Case("/F: of 259 characters, changed", ["/F:{p259}"] + CHANGE,
                 E.query("{n259}") + E.outcome(0), 0, {"{n259}": "NEW.TXT"}),
            Case("/F: of 260 characters, changed", ["/F:{p260}"] + CHANGE,
                 E.query("") + E.outcome(0), 0, {"{n260}": "NEW.TXT"}),
            Case("/F: of 261 characters; its first 260 name another file",
                 ["/F:{p261}"] + CHANGE, f_long, 206),
            Case("/F: of 4096 characters", ["/F:{pad4096}"] + CHANGE, f_long, 206),
            Case("/F: as long as one argument can be", ["/F:{padmax}"] + CHANGE, f_long, 206),
            Case("an over-long /F: replaced by a later one", ["/F:{p261}", PLAIN] + CHANGE,
                 Q_PLAIN + E.outcome(0), 0, {"plain.txt": "NEW.TXT"}),
            Case("a good /F: replaced by a later over-long one", [PLAIN, "/F:{p261}"] + CHANGE,
                 f_long, 206),
            Case("/F: and /SFN: both over-long", ["/F:{p261}", "/SFN:" + "A" * 261, "/Y"],
                 f_long, 206),
            Case("/SFN: empty", [PLAIN, "/SFN:", "/Y"], Q_PLAIN, 1),
            # Trailing blanks are part of the name; they must not be trimmed
            # into a valid one.
            Case("/SFN: of 259 characters", [PLAIN, "/SFN:NEW.TXT" + " " * 252, "/Y"],
                 Q_PLAIN + E.outcome(87), 87),
            Case("/SFN: of 260 characters", [PLAIN, "/SFN:NEW.TXT" + " " * 253, "/Y"],
                 Q_PLAIN + E.outcome(87), 87),
            Case("/SFN: of 261 characters", [PLAIN, "/SFN:NEW.TXT" + " " * 254, "/Y"],
                 sfn_long, 206),
            Case("/SFN: of 4096 characters", [PLAIN, "/SFN:" + "N" * 4096, "/Y"], sfn_long, 206),
            Case("/SFN: as long as one argument can be",
                 [PLAIN, "/SFN:" + "N" * (LONGEST_ARGUMENT - len("/SFN:")), "/Y"], sfn_long, 206),
            # A component longer than NTFS allows (255), in a path that fits.
            Case("a relative component of 256 characters", ["/F:" + "C" * 256] + CHANGE,
                 E.short_path_failure(206), 206, cwd="."),
        ])

    def test_the_whole_argument_space(self):
        # As many of the longest arguments as Linux passes at once, then the
        # one that counts.
        count = ARGUMENT_SPACE // (LONGEST_ARGUMENT + 1 + 8) - 1
        self.assertGreater(count, 1)
        self.run_cases([
            Case("%d arguments of %d characters, then a good /F:" % (count, LONGEST_ARGUMENT),
                 ["/F:{padmax}"] * count + [PLAIN] + CHANGE,
                 Q_PLAIN + E.outcome(0), 0, {"plain.txt": "NEW.TXT"}),
            Case("a good /F:, then %d arguments of %d characters" % (count, LONGEST_ARGUMENT),
                 [PLAIN] + CHANGE + ["/F:{padmax}"] * count, E.too_long("/F:"), 206),
        ])


class CharacterTest(MatrixCase):
    """Bytes that are not UTF-8, control characters, wildcard and reserved
    characters: a path names exactly the entry spelt that way, or nothing;
    a new name with any of them is refused."""

    def test_bytes_that_are_not_utf8(self):
        # ntfs-3g keeps names in UTF-16: no entry can be spelt this way.
        self.run_cases([
            refused_early("/F: with a byte 0xFF", "/F:{root}/bad\udcff.txt", 123),
            refused_early("/F: query with a byte 0xFF", "/F:{root}/bad\udcff.txt", 123, []),
            refused_early("/F: with a cut sequence in a folder on the way",
                          "/F:{root}/Some Folder\udcc3/inner.txt", 123),
            # An overlong form of "/" must not separate anything.
            refused_early("/F: with an overlong slash",
                          "/F:{root}/Some Folder\udcc0\udcafinner.txt", 123),
            Case("/SFN: with bytes 0xFF 0xFE", [PLAIN, "/SFN:\udcff\udcfe", "/Y"],
                 Q_PLAIN + E.outcome(87), 87),
            Case("/SFN: in Latin-1", [PLAIN, "/SFN:\udcc9T\udcc9.TXT", "/Y"],
                 Q_PLAIN + E.outcome(87), 87),
            Case("/SFN: with an overlong period", [PLAIN, "/SFN:NEW\udcc0\udcaeTXT", "/Y"],
                 Q_PLAIN + E.outcome(87), 87),
        ])

    def test_control_characters(self):
        self.run_cases([
            Case("/F: naming an entry with a control character", ["/F:{root}/ctl\x01name"],
                 E.query("ctl\x01name"), 1),
            # ntfs-3g gives a DOS name only to an entry whose long name
            # Windows could use; it refuses the others (87) and writes nothing.
            Case("that entry refused a short name", ["/F:{root}/ctl\x01name", "/SFN:CTL", "/Y"],
                 E.query("ctl\x01name") + E.outcome(87), 87),
            Case("an entry with a line feed refused a short name",
                 ["/F:{root}/line\nbreak", "/SFN:LINE", "/Y"],
                 E.query("line\nbreak") + E.outcome(87), 87),
            # A script with Windows line ends: the carriage return is part of
            # the value and names nothing.
            refused_early("/F: ending in a carriage return", PLAIN + "\r", 2),
            refused_early("/F: ending in a tab", PLAIN + "\t", 2),
            Case("/F: of terminal escape sequences", ["/F:\x1b[2J\x1b[H"] + CHANGE,
                 E.short_path_failure(2), 2, cwd="."),
            Case("/SFN: ending in a carriage return", [PLAIN, "/SFN:NEW.TXT\r", "/Y"],
                 Q_PLAIN + E.outcome(87), 87),
            Case("/SFN: with a line feed", [PLAIN, "/SFN:NE\nW.TXT", "/Y"],
                 Q_PLAIN + E.outcome(87), 87),
            Case("/SFN: an escape character", [PLAIN, "/SFN:\x1b", "/Y"],
                 Q_PLAIN + E.outcome(87), 87),
        ])

    def test_wildcard_and_reserved_characters(self):
        reserved = '"y<z>|:'
        cases = [
            # Nothing is expanded: no entry is spelt like this.
            refused_early("/F: *", "/F:{root}/*", 2),
            refused_early("/F: *.txt", "/F:{root}/*.txt", 2),
            refused_early("/F: ?lain.txt", "/F:{root}/?lain.txt", 2),
            refused_early("/F: [p]lain.txt", "/F:{root}/[p]lain.txt", 2),
            refused_early("/F: $HOME", "/F:{root}/$HOME", 2),
            refused_early("/F: ~ as a folder", "/F:{root}/~/plain.txt", 3),
            # Windows' stream syntax reaches no stream here.
            refused_early("/F: plain.txt:stream", PLAIN + ":stream", 2),
            refused_early("/F: plain.txt::$DATA", PLAIN + "::$DATA", 2),
            # A backslash is part of a name on Linux.
            refused_early("/F: with backslashes", "/F:{root}\\plain.txt", 2),
            Case("/F: a drive path", ["/F:C:\\plain.txt"] + CHANGE, E.short_path_failure(2), 2,
                 cwd="."),
            # Entries really spelt with them are found, shown, and refused a
            # short name by ntfs-3g (87): Windows could not reach them.
            Case("an entry named a*b", ["/F:{root}/a*b", "/SFN:AB", "/Y"],
                 E.query("a*b") + E.outcome(87), 87),
            Case("an entry named q?.txt", ["/F:{root}/q?.txt"], E.query("q?.txt"), 1),
            # Printed as text, never read as format directives.
            Case("an entry named 100%s%n%x.txt", ["/F:{root}/100%s%n%x.txt", "/SFN:PERCENT.TXT"],
                 E.query("100%s%n%x.txt") + E.question("{root}/100%s%n%x.txt") + E.outcome(0), 0,
                 {"100%s%n%x.txt": "PERCENT.TXT"}, stdin=b"y\n"),
            Case("an entry named x" + reserved, ["/F:{root}/x" + reserved, "/SFN:RESERVED", "/Y"],
                 E.query("x" + reserved) + E.outcome(87), 87),
        ]
        for name in ("*", "?", "*.*", "????????.???", "NEW*.TXT", "<", ">", "|", '"', ":",
                     "\\", "/", "C:NEW.TXT", "..\\NEW.TXT", "../NEW.TXT"):
            cases.append(Case("/SFN:%s" % name, [PLAIN, "/SFN:" + name, "/Y"],
                              Q_PLAIN + E.outcome(87), 87))
        self.run_cases(cases)


def outside_answer(volume):
    """What setting a DOS name on the folder that holds the image answers:
    50 when its file system keeps no such names (the usual case)."""
    try:
        os.getxattr(volume.folder, DOS_NAME)
    except OSError as error:
        if error.errno in (errno.ENOTSUP, errno.EOPNOTSUPP):
            return 50
    return None


class PathTest(MatrixCase):
    """Trailing slashes, "." and "..", symbolic links: the item changed is
    the one the path names, as the kernel resolves it; a link without a
    trailing slash is the link's own entry."""

    def test_trailing_separators(self):
        folder = {"Some Folder": "SOMEF"}
        self.run_cases([
            refused_early("a file with a trailing slash", PLAIN + "/", 3),
            Case("a folder with a trailing slash", ["/F:{root}/Some Folder/"], E.query(""), 1),
            Case("a folder with a trailing slash, changed",
                 ["/F:{root}/Some Folder/", "/SFN:SOMEF", "/Y"],
                 E.query("") + E.outcome(0), 0, folder),
            Case("a folder with three trailing slashes, changed",
                 ["/F:{root}/Some Folder///", "/SFN:SOMEF", "/Y"],
                 E.query("") + E.outcome(0), 0, folder),
            Case("two slashes inside", ["/F:{root}//plain.txt"], Q_PLAIN, 1),
            # "link/" is the folder the link leads to, to every tool on Linux.
            Case("a link to a folder, with a trailing slash",
                 ["/F:{root}/link to folder/", "/SFN:SOMEF", "/Y"],
                 E.query("") + E.outcome(0), 0, folder),
            refused_early("a link to a file, with a trailing slash", "/F:{root}/link to plain/", 3),
            refused_early("a dangling link, with a trailing slash", "/F:{root}/dangling/", 2),
            refused_early("a link to itself, with a trailing slash", "/F:{root}/loop/", 1921),
        ])

    def test_dot_and_dot_dot(self):
        folder = {"Some Folder": "SOMEF"}
        named = ["/SFN:SOMEF", "/Y"]
        self.run_cases([
            # The root is no entry of any folder: it has no short name.
            Case("the root as /.", ["/F:{root}/."] + named, E.query(".") + E.outcome(87), 87),
            Case("the root as Some Folder/..", ["/F:{root}/Some Folder/.."] + named,
                 E.query("..") + E.outcome(87), 87),
            Case("a folder as /.", ["/F:{root}/Some Folder/."] + named,
                 E.query(".") + E.outcome(0), 0, folder),
            Case("a folder as Deeper/..", ["/F:{root}/Some Folder/Deeper/.."] + named,
                 E.query("..") + E.outcome(0), 0, folder),
            Case("a folder as . inside it", ["/F:."] + named, E.query(".") + E.outcome(0), 0,
                 folder, cwd="Some Folder"),
            Case("a folder as .. below it", ["/F:.."] + named, E.query("..") + E.outcome(0), 0,
                 folder, cwd="Some Folder/Deeper"),
            Case("./plain.txt", ["/F:./plain.txt"], Q_PLAIN, 1, cwd="."),
            refused_early("a file taken for a folder by /.", PLAIN + "/.", 3),
            refused_early("a file taken for a folder by /..", PLAIN + "/..", 3),
            refused_early("a missing folder before ..", "/F:{root}/missing/..", 3),
            refused_early("three periods", "/F:{root}/...", 2),
            Case("/SFN:.", [PLAIN, "/SFN:.", "/Y"], Q_PLAIN + E.outcome(87), 87),
            Case("/SFN:..", [PLAIN, "/SFN:..", "/Y"], Q_PLAIN + E.outcome(87), 87),
        ])

    def test_leaving_the_volume(self):
        volume = self.open_volume()
        try:
            code = outside_answer(volume)
        finally:
            volume.close()
        if code is None:
            self.skipTest("the folder holding the image keeps DOS names")
        self.run_cases([
            Case("the mount's parent as /..", ["/F:{root}/..", "/SFN:OUT", "/Y"],
                 E.query("..") + E.outcome(code), code),
            Case("a link leading out, with a trailing slash",
                 ["/F:{root}/link out/", "/SFN:OUT", "/Y"], E.query("") + E.outcome(code), code),
        ])

    def test_symbolic_links(self):
        self.run_cases([
            Case("a link to a file: its own entry",
                 ["/F:{root}/link to plain", "/SFN:LINKP", "/Y"],
                 E.query("link to plain") + E.outcome(0), 0, {"link to plain": "LINKP"}),
            Case("a link to a folder: its own entry",
                 ["/F:{root}/link to folder", "/SFN:LINKF", "/Y"],
                 E.query("link to folder") + E.outcome(0), 0, {"link to folder": "LINKF"}),
            Case("a dangling link: its own entry", ["/F:{root}/dangling", "/SFN:DANGLING", "/Y"],
                 E.query("dangling") + E.outcome(0), 0, {"dangling": "DANGLING"}),
            Case("a link to itself: its own entry", ["/F:{root}/loop", "/SFN:LOOP", "/Y"],
                 E.query("loop") + E.outcome(0), 0, {"loop": "LOOP"}),
            Case("a link leading out: its own entry", ["/F:{root}/link out", "/SFN:OUT", "/Y"],
                 E.query("link out") + E.outcome(0), 0, {"link out": "OUT"}),
            Case("an item reached through a link to its folder",
                 ["/F:{root}/link to folder/inner.txt", "/SFN:INNER.TXT", "/Y"],
                 E.query("inner.txt") + E.outcome(0), 0, {"Some Folder/inner.txt": "INNER.TXT"}),
            # Opening a FIFO to read would wait for a writer.
            Case("a FIFO", ["/F:{root}/fifo"], E.query("fifo"), 1),
            Case("a FIFO, changed", ["/F:{root}/fifo", "/SFN:FIFO", "/Y"],
                 E.query("fifo") + E.outcome(0), 0, {"fifo": "FIFO"}),
        ])


class InputTest(MatrixCase):
    """Only the first character of the answer counts; any input that does
    not begin with y or Y refuses, and nothing is changed."""

    def test_standard_input(self):
        ask = Q_PLAIN + E.question("{root}/plain.txt")
        args = [PLAIN, "/SFN:NEW.TXT"]
        agreed = {"plain.txt": "NEW.TXT"}

        def refused(label, stdin):
            return Case(label, args, ask + E.CANCELLED, 156, stdin=stdin)

        def agrees(label, stdin):
            return Case(label, args, ask + E.outcome(0), 0, agreed, stdin=stdin)

        self.run_cases([
            refused("closed", CLOSED),
            refused("at its end", AT_END),
            refused("unreadable", UNREADABLE),
            refused("binary", bytes(range(256)) * 4),
            refused("binary with a y after the first byte", b"\xffy\n"),
            refused("a NUL, then y", b"\0y\n"),
            agrees("y, then binary", b"y" + bytes(range(256)) * 4),
            refused("10 MB without a line feed, not y", b"n" * TEN_MB),
            agrees("10 MB without a line feed, beginning with y", b"y" + b"x" * TEN_MB),
            refused("10 MB of empty lines", b"\n" * TEN_MB),
            # With /Y nothing is read; the item's descriptor must not take the
            # free number 0 and be mistaken for input or left behind.
            Case("closed, with /Y", [PLAIN] + CHANGE, Q_PLAIN + E.outcome(0), 0, agreed,
                 stdin=CLOSED),
            Case("closed, with /Y, a folder", ["/F:{root}/Some Folder", "/SFN:SOMEF", "/Y"],
                 E.query("SOMEFO~1") + E.outcome(0), 0, {"Some Folder": "SOMEF"}, stdin=CLOSED),
        ])


class OutputTest(MatrixCase):
    """A reader of the output that has gone away must not turn a run into a
    kill by SIGPIPE: the exit code still tells the outcome, and what the run
    changed is exactly what that code says."""

    def test_reader_gone(self):
        for label, args, stdin, code, changes in (
                ("change", [PLAIN] + CHANGE, b"", 0, {"plain.txt": "NEW.TXT"}),
                ("refusal", [PLAIN, "/SFN:NEW.TXT"], b"n\n", 156, {}),
                ("query", [PLAIN], b"", 1, {}),
                ("syntax", ["/?"], b"", 1, {})):
            with self.subTest(label):
                volume = self.open_volume()
                try:
                    before = volume.snapshot()
                    read_end, write_end = os.pipe()
                    os.close(read_end)
                    try:
                        result = subprocess.run(
                            [VELMORA] + [as_bytes(substitute(a, volume)) for a in args],
                            input=stdin, stdout=write_end, stderr=subprocess.PIPE, timeout=60)
                    finally:
                        os.close(write_end)
                    self.assertEqual(result.returncode, E.exit_status(code))
                    self.assertEqual(result.stderr, b"")
                    self.check_volume(volume, with_changes(before, changes))
                finally:
                    volume.close()


class ConcurrencyTest(MatrixCase):
    """Two runs started together. On one item, each with its own new name:
    either both finish (one after the other) or one finds the item in use
    (32) and changes nothing; the name left is one that a successful run set."""

    ROUNDS = 10

    def test_two_runs_on_one_item(self):
        for relative, old, names in (
                ("A long file name.txt", "ALONGF~1.TXT", ("RACEA.TXT", "RACEB.TXT")),
                ("Some Folder", "SOMEFO~1", ("RACEA", "RACEB"))):
            for round_number in range(self.ROUNDS):
                with self.subTest(item=relative, round=round_number):
                    volume = self.open_volume()
                    try:
                        self.race(volume, relative, old, names)
                    finally:
                        volume.close()

    def test_two_runs_giving_one_name_to_two_items(self):
        # Whichever run comes second finds the name taken (183), by its own
        # look at the folder or by ntfs-3g's; never do two entries share it.
        names = ("plain.txt", "A long file name.txt")
        for round_number in range(self.ROUNDS):
            with self.subTest(round=round_number):
                volume = self.open_volume()
                try:
                    before = volume.snapshot()
                    runs = [subprocess.Popen([VELMORA, as_bytes("/F:" + volume.path(name)),
                                              b"/SFN:SAME.TXT", b"/Y"],
                                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                             stderr=subprocess.PIPE) for name in names]
                    results = [run.communicate(timeout=60) + (run.returncode,) for run in runs]
                    self.assertEqual(sorted(status for _, _, status in results), [0, 183], results)
                    wanted = dict(before)
                    for name, (out, err, status) in zip(names, results):
                        self.assertEqual(err, b"")
                        shown = before[name][1] or name
                        self.assertEqual(out.decode("utf-8"), E.query(shown) + E.outcome(status))
                        if status == 0:
                            wanted[name] = (wanted[name][0], "SAME.TXT")
                    self.check_volume(volume, wanted)
                finally:
                    volume.close()

    def race(self, volume, relative, old, names):
        before = volume.snapshot()
        target = as_bytes("/F:" + volume.path(relative))
        runs = [subprocess.Popen([VELMORA, target, as_bytes("/SFN:" + name), b"/Y"],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE) for name in names]
        results = [run.communicate(timeout=60) + (run.returncode,) for run in runs]
        statuses = [status for _, _, status in results]
        self.assertIn(0, statuses, results)
        for index, (out, err, status) in enumerate(results):
            other = names[1 - index]
            # A run that started after the other finished shows its name.
            shown = [old] + ([other] if statuses[1 - index] == 0 else [])
            if status == 0:
                outputs = [E.query(name) + E.outcome(0) for name in shown]
            else:
                outputs = [E.query(name) + E.open_failure(32) for name in shown]
            self.assertGreaterEqual(status, 0)
            self.assertEqual(err, b"")
            self.assertIn(out.decode("utf-8"), outputs)
            self.assertIn(status, (0, 32))
        final = read_dos_name(volume.path(relative))
        self.assertIn(final, [name for name, status in zip(names, statuses) if status == 0])
        wanted = dict(before)
        wanted[relative] = (wanted[relative][0], final)
        self.check_volume(volume, wanted)


# The volume's own files: the reserved records ntfs-3g shows in the root,
# and what lies below $Extend.
METADATA_FILES = ["$MFT", "$MFTMirr", "$LogFile", "$Volume", "$AttrDef", "$Bitmap", "$Boot",
                  "$BadClus", "$Secure", "$UpCase", "$Extend", "$Extend/$Quota",
                  "$Extend/$ObjId", "$Extend/$Reparse"]


def metadata_names(volume):
    return {name: read_dos_name(volume.path(name)) for name in METADATA_FILES}


class SystemFileTest(MatrixCase):
    """Windows lets no program open the volume's metadata files for a
    change: every one is refused at the open with 5, and keeps its names; a
    query still shows them."""

    def test_metadata_files(self):
        volume = self.open_volume()
        try:
            before, names = volume.snapshot(), metadata_names(volume)
            for name in METADATA_FILES:
                shown = names[name] or name.split("/")[-1]
                target = "/F:" + volume.path(name)
                for label, args, output, code in (
                        ("query", [target], E.query(shown), 1),
                        ("change", [target, "/SFN:SYSX", "/Y"],
                         E.query(shown) + E.open_failure(5), 5),
                        # The name the file answers to already, in upper case.
                        ("its own name", [target, "/SFN:" + shown.upper()[:8], "/Y"],
                         E.query(shown) + E.open_failure(5), 5)):
                    with self.subTest(name=name, run=label):
                        self.check_run(*run(args), as_bytes(output), code)
            self.check_volume(volume, before)
            self.assertEqual(metadata_names(volume), names)
        finally:
            volume.close()


def mount(*args):
    subprocess.run(["mount"] + list(args), check=True)


class MountCase(MatrixCase):
    """Runs on a volume with something mounted inside it: each case sets up
    its mounts on a fresh volume, and they are gone before the volume is
    checked."""

    def run_mounted(self, label, setup, args, output, code, changes=None):
        with self.subTest(label):
            volume = self.open_volume()
            mounts = []
            try:
                os.mkdir(volume.path("portal"))
                before = volume.snapshot()
                for source, target in setup:
                    if source == "tmpfs":
                        mount("-t", "tmpfs", "tmpfs", volume.path(target))
                    else:
                        mount("--bind", volume.path(source), volume.path(target))
                    mounts.append(volume.path(target))
                status, out, err = run([substitute(a, volume) for a in args])
                for target in reversed(mounts):
                    subprocess.run(["umount", target], check=True)
                mounts = []
                self.check_run(status, out, err, as_bytes(substitute(output, volume)), code)
                self.check_volume(volume, with_changes(before, changes or {}))
            finally:
                for target in reversed(mounts):
                    subprocess.run(["umount", "-l", target])
                volume.close()


class MountTest(MountCase):
    """The new name is checked against what the folder itself holds. Where
    a mount covers an entry, that entry's names cannot be read, and the
    change is refused (1920) rather than taken for free; an item reached
    through a bind mount from another folder is refused too, as its folder
    is not the one checked."""

    def test_mounts_in_the_folder(self):
        covered = E.outcome(1920)
        self.run_mounted("a tmpfs over a folder that holds the name asked for",
                         [("tmpfs", "Some Folder")], [PLAIN, "/SFN:SOMEFO~1", "/Y"],
                         Q_PLAIN + covered, 1920)
        self.run_mounted("a tmpfs over a folder, any other name",
                         [("tmpfs", "Some Folder")], [PLAIN, "/SFN:NEW.TXT", "/Y"],
                         Q_PLAIN + covered, 1920)
        self.run_mounted("the item bind-mounted over an entry named as asked",
                         [("A long file name.txt", "plain.txt")],
                         ["/F:{root}/A long file name.txt", "/SFN:PLAIN.TXT", "/Y"],
                         E.query("ALONGF~1.TXT") + covered, 1920)
        self.run_mounted("a file of another folder reached through a bind mount",
                         [("Some Folder/inner.txt", "plain.txt")],
                         [PLAIN, "/SFN:DEEPER", "/Y"], Q_PLAIN + covered, 1920)
        self.run_mounted("a folder of another folder reached through a bind mount",
                         [("Some Folder/Deeper", "portal")],
                         ["/F:{root}/portal", "/SFN:INNER.TXT", "/Y"],
                         E.query("portal") + covered, 1920)

    def test_through_a_bind_mounted_folder(self):
        # The folder the path names is the item's own, seen elsewhere: its
        # entries are checked, and the change is made.
        self.run_mounted("a name taken in the real folder", [("Some Folder", "portal")],
                         ["/F:{root}/portal/inner.txt", "/SFN:DEEPER", "/Y"],
                         E.query("inner.txt") + E.outcome(183), 183)
        self.run_mounted("a free name", [("Some Folder", "portal")],
                         ["/F:{root}/portal/inner.txt", "/SFN:INNER2.TXT", "/Y"],
                         E.query("inner.txt") + E.outcome(0), 0,
                         {"Some Folder/inner.txt": "INNER2.TXT"})


class NameStorageTest(MatrixCase):
    """How ntfs-3g keeps what velmora sets, as README describes it."""

    def test_own_long_name_in_another_case(self):
        # One name then serves as both; the long name keeps its spelling.
        self.run_cases([
            Case("plain.txt given PLAIN.TXT", [PLAIN, "/SFN:PLAIN.TXT", "/Y"],
                 Q_PLAIN + E.outcome(0), 0, {"plain.txt": "PLAIN.TXT"}),
            Case("plain.txt given Plain.Txt", [PLAIN, "/SFN:Plain.Txt", "/Y"],
                 Q_PLAIN + E.outcome(0), 0, {"plain.txt": "PLAIN.TXT"}),
        ])

    def test_sibling_with_hard_links(self):
        # Its short name cannot be read, so no name in its folder can be
        # checked: every change there is refused, and nothing is written.
        volume = self.open_volume()
        try:
            create_items(volume, [("Some Folder/Twin file.txt", b"twin\n", "TWINFI~1.TXT")])
            os.link(volume.path("Some Folder/Twin file.txt"), volume.path("Some Folder/twin2"))
            before = volume.snapshot()
            self.check_run(*run(["/F:" + volume.path("Some Folder/inner.txt"),
                                 "/SFN:INNER2.TXT", "/Y"]),
                           as_bytes(E.query("inner.txt") + E.outcome(1142)), 1142)
            self.check_volume(volume, before)
        finally:
            volume.close()


def holds_open(pid, paths):
    """True when process `pid` has every one of `paths` open."""
    try:
        folder = "/proc/%d/fd" % pid
        targets = {os.readlink(os.path.join(folder, fd)) for fd in os.listdir(folder)}
    except OSError:
        return False
    return all(path in targets for path in paths)


class RaceTest(MatrixCase):
    """Between the open and the change the item's folder is locked, checked,
    and asked once more whether it still holds the item. The test holds that
    lock itself, changes the folder while velmora waits, then lets go."""

    def race(self, args, item, change_folder):
        volume = self.open_volume()
        try:
            lock = os.open(volume.root, os.O_RDONLY | os.O_DIRECTORY)
            try:
                fcntl.flock(lock, fcntl.LOCK_EX)
                runner = subprocess.Popen([VELMORA] + [as_bytes(substitute(a, volume)) for a in args],
                                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                          stderr=subprocess.PIPE)
                deadline = time.monotonic() + 20
                while not holds_open(runner.pid, [volume.path(item), volume.root]):
                    if runner.poll() is not None or time.monotonic() > deadline:
                        break
                    time.sleep(0.001)
                change_folder(volume)
                after = volume.snapshot()
            finally:
                os.close(lock)
            out, err = runner.communicate(timeout=60)
            return volume, runner.returncode, out, err, after
        except BaseException:
            volume.close()
            raise

    def test_item_moved_away_while_waiting(self):
        # The item lands next to an entry that answers to the name asked for.
        volume, status, out, err, after = self.race(
            [PLAIN, "/SFN:DEEPER", "/Y"], "plain.txt",
            lambda v: os.rename(v.path("plain.txt"), v.path("Some Folder/plain.txt")))
        try:
            self.check_run(status, out, err, as_bytes(Q_PLAIN + E.outcome(2)), 2)
            self.check_volume(volume, after)
        finally:
            volume.close()

    def test_link_replaced_while_waiting(self):
        # The file renamed over the link must not receive the link's name.
        volume, status, out, err, after = self.race(
            ["/F:{root}/link to plain", "/SFN:LINKP", "/Y"], "link to plain",
            lambda v: os.rename(v.path("A long file name.txt"), v.path("link to plain")))
        try:
            self.check_run(status, out, err,
                           as_bytes(E.query("link to plain") + E.outcome(2)), 2)
            self.check_volume(volume, after)
        finally:
            volume.close()

    def test_waits_for_the_folder(self):
        # Nothing changes in the folder meanwhile: the run goes on once the
        # lock is free.
        volume, status, out, err, after = self.race(
            [PLAIN, "/SFN:NEW.TXT", "/Y"], "plain.txt", lambda v: None)
        try:
            self.check_run(status, out, err, as_bytes(Q_PLAIN + E.outcome(0)), 0)
            self.check_volume(volume, with_changes(after, {"plain.txt": "NEW.TXT"}))
        finally:
            volume.close()


class LockTimeoutTest(MatrixCase):
    """A folder held by another run for longer than velmora waits (30
    seconds): the change gives up with 32 and writes nothing."""

    def test_gives_up_after_thirty_seconds(self):
        volume = self.open_volume()
        try:
            before = volume.snapshot()
            lock = os.open(volume.root, os.O_RDONLY | os.O_DIRECTORY)
            try:
                fcntl.flock(lock, fcntl.LOCK_EX)
                started = time.monotonic()
                status, out, err = run([substitute(a, volume) for a in [PLAIN] + CHANGE])
                waited = time.monotonic() - started
            finally:
                os.close(lock)
            self.check_run(status, out, err, as_bytes(Q_PLAIN + E.outcome(32)), 32)
            self.assertGreaterEqual(waited, 29)
            self.check_volume(volume, before)
        finally:
            volume.close()


def main():
    global VELMORA, SYNTAX
    if len(sys.argv) < 2:
        print("usage: test_matrix.py /path/to/velmora [unittest arguments]")
        return 2
    VELMORA = os.path.abspath(sys.argv.pop(1))
    check_prerequisites_or_exit()
    # The screen an empty /F: must show is the one /? shows.
    status, out, err = run(["/?"])
    if status != 1 or err or not out.startswith(b"\n\nVelmora [Version 1.00]\n") or \
            as_bytes(E.syntax_line("velmora")) not in out:
        print("FAIL: velmora /? printed no syntax screen (status %d): %r %r" % (status, out, err))
        return 1
    SYNTAX = out
    program = unittest.main(exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
