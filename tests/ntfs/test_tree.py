"""velmora-tree on a real NTFS volume (an image mounted with ntfs-3g): save a
tree's short names, put them back on a copy whose names are swapped,
rotated, missing or taken, verify; and what it refuses.

Every run's output is compared byte for byte, its exit code exactly; the
volume is then checked without velmora-tree (getfattr's attribute, ntfsfix).

    python3 test_tree.py /path/to/velmora-tree [unittest arguments]
"""

import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from ntfs_volume import (DOS_NAME, Volume, VolumeChecks, check_prerequisites_or_exit,  # noqa: E402
                         create_items, open_populated, read_dos_name)

TREE = None  # set from the command line
HEADER = b"velmora-tree listing 1\n"

# The original tree: (relative path, content, DOS name). Names a volume can
# hold and a listing must carry: blanks, a tab, a line feed, a backslash,
# Japanese and Greek letters, an emoji, a name ending in a blank.
ORIGINAL = [
    ("Program Files", None, "PROGRA~1"),
    ("Program Files/Microsoft Office", None, "MICROS~1"),
    ("Program Files/Microsoft Office 2", None, "MICROS~2"),
    ("Program Files/Microsoft Office/winword long.exe", b"word\n", "WINWOR~1.EXE"),
    ("Program Files/aaaa long", b"1\n", "AAAALO~1"),
    ("Program Files/aaaa longer", b"2\n", "AAAALO~2"),
    ("Program Files/aaaa longest", b"3\n", "AAAALO~3"),
    ("Program Files/plain.txt", b"plain\n", None),
    ("Documents and Settings", None, "DOCUME~1"),
    ("Documents and Settings/\u65e5\u672c\u8a9e\u306e\u540d\u524d.txt", b"jp\n", "8A9E~1.TXT"),
    ("Documents and Settings/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac", None, "9B2A~1"),
    ("Documents and Settings/smile \U0001F600.txt", b"smile\n", "SMILE~1.TXT"),
    # Windows could not reach these: ntfs-3g gives them no short name, and
    # the listing leaves them out.
    ("Documents and Settings/tab\there", b"tab\n", None),
    ("Documents and Settings/line\nfeed", b"lf\n", None),
    ("Documents and Settings/back\\slash name", b"bs\n", None),
    ("Documents and Settings/ends in a blank ", b"blank\n", "ENDSIN~1"),
    ("Documents and Settings/link to office", ("link", "../Program Files/Microsoft Office"),
     "LINKTO~1"),
]

def build_listing():
    lines = [
        ("PROGRA~1", "Program Files"),
        ("MICROS~1", "Program Files/Microsoft Office"),
        ("WINWOR~1.EXE", "Program Files/Microsoft Office/winword long.exe"),
        ("MICROS~2", "Program Files/Microsoft Office 2"),
        ("AAAALO~1", "Program Files/aaaa long"),
        ("AAAALO~2", "Program Files/aaaa longer"),
        ("AAAALO~3", "Program Files/aaaa longest"),
        ("DOCUME~1", "Documents and Settings"),
        ("ENDSIN~1", "Documents and Settings/ends in a blank\\x20"),
        ("LINKTO~1", "Documents and Settings/link to office"),
        ("SMILE~1.TXT", "Documents and Settings/smile \U0001F600.txt"),
        ("9B2A~1", "Documents and Settings/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac"),
        ("8A9E~1.TXT", "Documents and Settings/\u65e5\u672c\u8a9e\u306e\u540d\u524d.txt"),
    ]
    # Each folder's names in byte order, depth first: "Documents..." sorts
    # before "Program Files", and within a folder UTF-8 bytes decide.
    by_path = {path: short for short, path in lines}

    def key(path):
        return [part.encode("utf-8") for part in path.split("/")]

    ordered = sorted(by_path, key=key)
    return HEADER + b"".join(("%s\t%s\n" % (by_path[p], p)).encode("utf-8") for p in ordered)


LISTING = build_listing()

# The copy: the same long names; short names swapped (Office), rotated
# (aaaa...), missing (Program Files, the Greek folder), wrong (winword), and
# some right already.
COPY_NAMES = {
    "Program Files": None,
    "Program Files/Microsoft Office": "MICROS~2",
    "Program Files/Microsoft Office 2": "MICROS~1",
    "Program Files/Microsoft Office/winword long.exe": "WINWOR~2.EXE",
    "Program Files/aaaa long": "AAAALO~2",
    "Program Files/aaaa longer": "AAAALO~3",
    "Program Files/aaaa longest": "AAAALO~1",
    "Documents and Settings/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac": None,
}


def copy_items():
    items = []
    for relative, content, dos_name in ORIGINAL:
        items.append((relative, content, COPY_NAMES.get(relative, dos_name)))
    return items


def make_tree(volume, below, items):
    os.mkdir(volume.path(below))
    create_items(volume, [(below + "/" + relative, content, name)
                          for relative, content, name in items])


def run_tree(args, stdin=None, cwd=None):
    """Runs velmora-tree; returns (status, standard output, standard error)."""
    result = subprocess.run([TREE] + [a.encode("utf-8", "surrogateescape") if isinstance(a, str) else a
                                      for a in args],
                            input=stdin, stdin=None if stdin is not None else subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd, timeout=120)
    return result.returncode, result.stdout, result.stderr


def names_below(volume, below):
    """Every entry below `below` and its DOS name, read with getxattr."""
    snapshot = volume.snapshot()
    prefix = below + "/"
    return {path[len(prefix):]: dos for path, (_, dos) in snapshot.items() if path.startswith(prefix)}


def report(*lines):
    return "".join("\t".join(fields) + "\n" for fields in lines).encode("utf-8")


def summary(listed, changed=0, right=0, conflict=0, missing=0, invalid=0, failed=0):
    return ("restore: %d listed, %d changed, %d already right, %d in conflict, %d missing, "
            "%d invalid, %d failed\n" % (listed, changed, right, conflict, missing, invalid,
                                         failed)).encode("ascii")


def verify_summary(listed, match, differ=0, missing=0, failed=0):
    return ("verify: %d listed, %d match, %d differ, %d missing, %d failed\n"
            % (listed, match, differ, missing, failed)).encode("ascii")


class TreeCase(VolumeChecks, unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.volume = open_populated(lambda v: (make_tree(v, "original", ORIGINAL),
                                                make_tree(v, "copy", copy_items())))
        self.addCleanup(self.volume.close)
        self.work = tempfile.mkdtemp(prefix="velmora-tree-")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", self.work]))
        self.listing = os.path.join(self.work, "names.txt")

    def write_listing(self, data):
        with open(self.listing, "wb") as out:
            out.write(data)

    def check_unchanged(self, before):
        self.check_volume(self.volume, before)

    def expect(self, args, status, out, err=b"", stdin=None):
        got = run_tree(args, stdin=stdin)
        self.assertGreaterEqual(got[0], 0, "killed by signal %d" % -got[0])
        self.assertEqual(got[2].decode("utf-8", "replace"), err.decode("utf-8", "replace"))
        self.assertEqual(got[1].decode("utf-8", "replace"), out.decode("utf-8", "replace"))
        self.assertEqual(got[0], status)


class SaveTest(TreeCase):

    def test_save_writes_the_listing_and_changes_nothing(self):
        before = self.volume.snapshot()
        self.expect(["save", self.volume.path("original"), self.listing], 0,
                    b"save: 13 short names from 6 folders\n")
        with open(self.listing, "rb") as saved:
            self.assertEqual(saved.read(), LISTING)
        # Nothing beside the listing: the temporary file was renamed.
        self.assertEqual(os.listdir(self.work), ["names.txt"])
        # The same tree gives the same bytes, to standard output as well.
        self.expect(["save", self.volume.path("original"), "-"], 0, LISTING)
        self.check_unchanged(before)

    def test_links_are_listed_but_not_walked(self):
        # The link leads to a folder full of short names; none of them may
        # appear under the link's path.
        self.expect(["save", self.volume.path("original"), "-"], 0, LISTING)
        self.assertNotIn(b"link to office/", LISTING)

    def test_a_failed_save_leaves_the_old_listing(self):
        self.write_listing(b"old listing\n")
        os.mkdir(self.volume.path("original/covered"))
        subprocess.run(["mount", "-t", "tmpfs", "tmpfs", self.volume.path("original/covered")],
                       check=True)
        try:
            self.expect(["save", self.volume.path("original"), self.listing], 4, b"",
                        ("velmora-tree: %s: cannot be read (error 1920: An entry of the folder is "
                         "covered by a mount; its names cannot be checked.); no listing was "
                         "written\n" % self.volume.path("original")).encode())
        finally:
            subprocess.run(["umount", self.volume.path("original/covered")], check=True)
        with open(self.listing, "rb") as kept:
            self.assertEqual(kept.read(), b"old listing\n")
        self.assertEqual(os.listdir(self.work), ["names.txt"])


class RestoreTest(TreeCase):

    COPY_REPORT = report(
        ("changed", "PROGRA~1", "Program Files", "was none"),
        ("changed", "MICROS~1", "Program Files/Microsoft Office", "was MICROS~2"),
        ("changed", "WINWOR~1.EXE", "Program Files/Microsoft Office/winword long.exe",
         "was WINWOR~2.EXE"),
        ("changed", "MICROS~2", "Program Files/Microsoft Office 2", "was MICROS~1"),
        ("changed", "AAAALO~1", "Program Files/aaaa long", "was AAAALO~2"),
        ("changed", "AAAALO~2", "Program Files/aaaa longer", "was AAAALO~3"),
        ("changed", "AAAALO~3", "Program Files/aaaa longest", "was AAAALO~1"),
        ("changed", "9B2A~1", "Documents and Settings/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
         "was none"),
    )

    def wanted_names(self):
        return names_below(self.volume, "original")

    def test_restore_puts_every_name_back(self):
        self.write_listing(LISTING)
        before = self.volume.snapshot()
        out = run_tree(["restore", self.volume.path("copy"), self.listing])
        self.assertEqual(out[2], b"")
        self.assertEqual(out[0], 0, out)
        # Lines come folder by folder, folders in byte order.
        lines = out[1].splitlines(keepends=True)
        self.assertEqual(lines[-1], summary(13, changed=8, right=5))
        self.assertEqual(sorted(lines[:-1]), sorted(self.COPY_REPORT.splitlines(keepends=True)))
        wanted = dict(before)
        for relative, name in self.wanted_names().items():
            wanted["copy/" + relative] = (wanted["copy/" + relative][0], name)
        self.check_volume(self.volume, wanted)
        self.expect(["verify", self.volume.path("copy"), self.listing], 0, verify_summary(13, 13))
        # A second run finds nothing to do.
        self.expect(["restore", self.volume.path("copy"), self.listing], 0,
                    summary(13, right=13))

    def test_dry_run_prints_the_steps_and_changes_nothing(self):
        before = self.volume.snapshot()
        # Folder by folder in byte order (the FOLDER itself first), each
        # folder's steps in the order they are taken.
        steps = report(
            ("step", "PROGRA~1", "Program Files", "from none"),
            ("step", "9B2A~1", "Documents and Settings/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
             "from none"),
            ("step", "VT000001.$$$", "Program Files/Microsoft Office", "from MICROS~2, temporary"),
            ("step", "MICROS~2", "Program Files/Microsoft Office 2", "from MICROS~1"),
            ("step", "MICROS~1", "Program Files/Microsoft Office", "from VT000001.$$$"),
            # Each cycle of a folder gets a temporary name of its own.
            ("step", "VT000002.$$$", "Program Files/aaaa long", "from AAAALO~2, temporary"),
            ("step", "AAAALO~2", "Program Files/aaaa longer", "from AAAALO~3"),
            ("step", "AAAALO~3", "Program Files/aaaa longest", "from AAAALO~1"),
            ("step", "AAAALO~1", "Program Files/aaaa long", "from VT000002.$$$"),
            ("step", "WINWOR~1.EXE", "Program Files/Microsoft Office/winword long.exe",
             "from WINWOR~2.EXE"),
        )
        self.expect(["restore", "--dry-run", self.volume.path("copy"), "-"], 1,
                    steps + b"restore --dry-run: 13 listed, 8 to change in 10 steps "
                            b"(2 temporary), 5 already right, 0 in conflict, 0 missing, "
                            b"0 invalid, 0 failed\n", stdin=LISTING)
        self.check_unchanged(before)

    def test_a_run_stopped_midway_is_completed_by_the_next(self):
        # As a run killed right after its first step leaves it: one of two
        # swapped folders on the temporary name.
        os.setxattr(self.volume.path("copy/Program Files/Microsoft Office"), DOS_NAME,
                    b"VT000001.$$$")
        self.write_listing(LISTING)
        status, out, err = run_tree(["restore", self.volume.path("copy"), self.listing])
        self.assertEqual((status, err), (0, b""), out)
        self.expect(["verify", self.volume.path("copy"), self.listing], 0, verify_summary(13, 13))

    def test_a_run_killed_while_it_waits_is_completed_by_the_next(self):
        # Folders are taken in byte order: FOLDER itself, then "Documents
        # and Settings" (whose own name is right already, so nothing locks
        # it as an item), then "Program Files". The run is killed while it
        # waits for the second.
        self.write_listing(LISTING)
        folder = self.volume.path("copy/Documents and Settings")
        lock = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
        try:
            fcntl.flock(lock, fcntl.LOCK_EX)
            runner = subprocess.Popen([TREE, "restore", self.volume.path("copy"), self.listing],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE)
            deadline = time.monotonic() + 20
            while folder not in open_paths(runner.pid) and time.monotonic() < deadline:
                time.sleep(0.002)
            runner.send_signal(signal.SIGKILL)
            runner.communicate(timeout=60)
        finally:
            os.close(lock)
        # The FOLDER's own entries were done; nothing below them was.
        self.assertEqual(read_dos_name(self.volume.path("copy/Program Files")), "PROGRA~1")
        self.assertIsNone(read_dos_name(self.volume.path(
            "copy/Documents and Settings/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac")))
        self.assertEqual(read_dos_name(self.volume.path("copy/Program Files/aaaa long")), "AAAALO~2")
        status, out, err = run_tree(["restore", self.volume.path("copy"), self.listing])
        self.assertEqual((status, err), (0, b""), out)
        self.expect(["verify", self.volume.path("copy"), self.listing], 0, verify_summary(13, 13))
        self.check_volume(self.volume, self.volume.snapshot())

    def test_two_runs_at_once(self):
        # The folder lock keeps their checks apart: one run changes a
        # folder, the other finds it right.
        self.write_listing(LISTING)
        runs = [subprocess.Popen([TREE, "restore", self.volume.path("copy"), self.listing],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE) for _ in range(2)]
        results = [run.communicate(timeout=120) + (run.returncode,) for run in runs]
        for out, err, status in results:
            self.assertEqual((status, err), (0, b""), out)
        changed = sum(out.count(b"changed\t") for out, _, _ in results)
        self.assertEqual(changed, 8, results)
        self.expect(["verify", self.volume.path("copy"), self.listing], 0, verify_summary(13, 13))

    def test_a_listed_folder_that_became_a_link_is_not_followed(self):
        os.rename(self.volume.path("copy/Program Files"), self.volume.path("copy/elsewhere"))
        os.symlink("elsewhere", self.volume.path("copy/Program Files"))
        self.write_listing(LISTING)
        before = names_below(self.volume, "copy/elsewhere")
        status, out, err = run_tree(["restore", self.volume.path("copy"), self.listing])
        self.assertEqual((status, err), (1, b""))
        missing = [line for line in out.splitlines() if line.startswith(b"missing\t")]
        self.assertEqual(len(missing), 6, out)
        self.assertTrue(all(b"\tProgram Files/" in line for line in missing), out)
        self.assertEqual(names_below(self.volume, "copy/elsewhere"), before)


def open_paths(pid):
    try:
        folder = "/proc/%d/fd" % pid
        return {os.readlink(os.path.join(folder, fd)) for fd in os.listdir(folder)}
    except OSError:
        return set()


class SmallFolderTest(TreeCase):
    """One small folder made for each case, with a listing written by hand."""

    def small(self, items, listing_lines):
        make_tree(self.volume, "small", items)
        self.write_listing(HEADER + "".join("%s\t%s\n" % line for line in listing_lines).encode())
        return self.volume.path("small")

    def test_conflicts_missing_and_invalid_names_are_reported_and_left(self):
        folder = self.small(
            [("a long", b"1", "ALONG~2"), ("a longer", b"2", "ALONG~1"), ("ALONG~3", b"3", None),
             ("kept lower", b"4", "kept~1"), ("z long", b"5", None), ("keeper long", b"6", None),
             ("b long", b"7", None), ("b longer", b"8", None)],
            [("ALONG~1", "a long"), ("ALONG~3", "a longer"), ("KEPT~1", "z long"),
             ("GONE~1", "gone item"), ("NOT.8.3", "keeper long"), ("SAME", "b long"),
             ("same", "b longer")])
        before = self.volume.snapshot()
        self.expect(["restore", folder, self.listing], 1, report(
            ("conflict", "ALONG~1", "a long", "the short name of a longer, which keeps it"),
            ("conflict", "ALONG~3", "a longer", "the long name of ALONG~3"),
            ("conflict", "KEPT~1", "z long", "the short name of kept lower, which keeps it"),
            ("missing", "GONE~1", "gone item"),
            ("invalid", "NOT.8.3", "keeper long", "not a valid 8.3 name"),
            ("conflict", "SAME", "b long", "recorded for b longer as well"),
            ("conflict", "same", "b longer", "recorded for b long as well"),
        ) + summary(7, conflict=5, missing=1, invalid=1))
        self.check_unchanged(before)

    def test_a_failed_change_undoes_its_chain(self):
        folder = self.small([("x long", b"1", "XLONG~2"), ("x longer", b"2", "XLONG~1")],
                            [("XLONG~1", "x long"), ("XLONG~2", "x longer")])
        before = self.volume.snapshot()
        # Another run holds "x longer": its change fails with 32, after
        # "x long" moved to the temporary name, which must be undone.
        held = os.open(os.path.join(folder, "x longer"), os.O_RDONLY)
        try:
            fcntl.flock(held, fcntl.LOCK_EX)
            self.expect(["restore", folder, self.listing], 1, report(
                ("failed", "XLONG~1", "x long",
                 "not changed: the change of x longer in the same chain failed"),
                ("failed", "XLONG~2", "x longer",
                 "error 32: The file or folder is in use by another process."),
            ) + summary(2, failed=2))
        finally:
            os.close(held)
        self.check_unchanged(before)
        self.expect(["restore", folder, self.listing], 0, report(
            ("changed", "XLONG~1", "x long", "was XLONG~2"),
            ("changed", "XLONG~2", "x longer", "was XLONG~1")) + summary(2, changed=2))

    def test_the_volume_files_are_refused(self):
        self.write_listing(HEADER + b"QUOTA\t$Extend/$Quota\nMFT\t$MFT\n")
        before = self.volume.snapshot()
        quota = read_dos_name(self.volume.path("$Extend/$Quota"))
        self.expect(["restore", self.volume.root, self.listing], 1, report(
            ("missing", "MFT", "$MFT"),
            ("failed", "QUOTA", "$Extend/$Quota",
             "error 5: Permission to access the item was refused."),
        ) + summary(2, missing=1, failed=1))
        self.assertEqual(read_dos_name(self.volume.path("$Extend/$Quota")), quota)
        self.check_unchanged(before)


class VerifyTest(TreeCase):

    def test_differences_and_missing_items(self):
        os.unlink(self.volume.path("copy/Documents and Settings/ends in a blank "))
        self.write_listing(LISTING)
        before = self.volume.snapshot()
        self.expect(["verify", self.volume.path("copy"), self.listing], 1, report(
            ("differs", "PROGRA~1", "Program Files", "holds none"),
            ("missing", "ENDSIN~1", "Documents and Settings/ends in a blank\\x20"),
            ("differs", "9B2A~1", "Documents and Settings/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
             "holds none"),
            ("differs", "MICROS~1", "Program Files/Microsoft Office", "holds MICROS~2"),
            ("differs", "MICROS~2", "Program Files/Microsoft Office 2", "holds MICROS~1"),
            ("differs", "AAAALO~1", "Program Files/aaaa long", "holds AAAALO~2"),
            ("differs", "AAAALO~2", "Program Files/aaaa longer", "holds AAAALO~3"),
            ("differs", "AAAALO~3", "Program Files/aaaa longest", "holds AAAALO~1"),
            ("differs", "WINWOR~1.EXE", "Program Files/Microsoft Office/winword long.exe",
             "holds WINWOR~2.EXE"),
        ) + verify_summary(13, 4, differ=8, missing=1))
        self.expect(["verify", self.volume.path("original"), self.listing], 0,
                    verify_summary(13, 13))
        self.check_unchanged(before)


class RefusalTest(TreeCase):

    def test_a_malformed_listing_changes_nothing(self):
        before = self.volume.snapshot()
        self.write_listing(LISTING + b"PROGRA~1 Program Files\n")
        line = LISTING.count(b"\n") + 1
        for command in (["restore"], ["restore", "--dry-run"], ["verify"]):
            self.expect(command + [self.volume.path("copy"), self.listing], 3, b"",
                        ("velmora-tree: %s:%d: expected a short name, one tab and a path; "
                         "nothing was changed\n" % (self.listing, line)).encode())
        self.expect(["restore", self.volume.path("copy"), "-"], 3, b"",
                    b"velmora-tree: standard input:1: not a velmora-tree listing: the file is "
                    b"empty; nothing was changed\n", stdin=b"")
        missing = os.path.join(self.work, "none.txt")
        self.expect(["restore", self.volume.path("copy"), missing], 3, b"",
                    ("velmora-tree: %s: cannot be read (error 2: The file or folder does not "
                     "exist.)\n" % missing).encode())
        self.check_unchanged(before)

    def test_a_file_system_without_short_names(self):
        plain = tempfile.mkdtemp(prefix="velmora-plain-")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", plain]))
        try:
            os.getxattr(plain, DOS_NAME)
            self.skipTest("the temporary folder keeps DOS names")
        except OSError:
            pass
        message = ("velmora-tree: %s: the file system there keeps no short names (error 50: "
                   "The file system does not support short names.)\n" % plain).encode()
        self.write_listing(LISTING)
        self.expect(["save", plain, self.listing], 4, b"", message)
        with open(self.listing, "rb") as kept:
            self.assertEqual(kept.read(), LISTING)
        self.expect(["restore", plain, self.listing], 4, b"", message)

    def test_the_command_line(self):
        usage = b"Run \"velmora-tree --help\" for the usage.\n"
        for args, problem in (
                ([], "no command given"),
                (["copy", "a", "b"], "unknown command copy"),
                (["save", "a"], "save takes a FOLDER and a LISTING"),
                (["verify", "a", "b", "c"], "verify takes a FOLDER and a LISTING"),
                (["--dry-run", "save", "a", "b"], "--dry-run belongs to restore"),
                (["restore", "--force", "a", "b"], "unknown option --force"),
                (["save", "", "b"], "FOLDER and LISTING must not be empty")):
            with self.subTest(args=args):
                self.expect(args, 2, b"", ("velmora-tree: %s\n" % problem).encode() + usage)
        status, out, err = run_tree(["--help"])
        self.assertEqual((status, err), (0, b""))
        self.assertIn(b"velmora-tree restore [--dry-run] FOLDER LISTING\n", out)


class ProgressTest(unittest.TestCase):
    """A long restore with standard error on a terminal (a tmux pane) keeps
    a live progress line there and takes it away at the end; with standard
    error not a terminal, nothing of it is written."""

    FILES = 5000

    def setUp(self):
        if shutil.which("tmux") is None:
            if os.environ.get("CI", "").lower() == "true":
                self.fail("tmux is missing (CI=true: a missing tool is a failure)")
            self.skipTest("tmux is missing")
        self.volume = Volume(size_mib=64)
        self.addCleanup(self.volume.close)
        self.volume.mount()
        os.mkdir(self.volume.path("big"))
        for number in range(self.FILES):
            os.close(os.open(self.volume.path("big/file number %05d.txt" % number),
                             os.O_CREAT | os.O_WRONLY))
        self.work = tempfile.mkdtemp(prefix="velmora-tree-")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", self.work]))
        self.listing = os.path.join(self.work, "big.txt")
        with open(self.listing, "w") as out:
            out.write("velmora-tree listing 1\n")
            for number in range(self.FILES):
                out.write("F%05d.TXT\tbig/file number %05d.txt\n" % (number, number))

    def test_progress_on_a_terminal_only(self):
        output = os.path.join(self.work, "out")
        session = "velmora-tree-progress-%d" % os.getpid()
        command = "%s restore %s %s > %s; echo \"exit $?\" >> %s; sleep 60" % (
            TREE, self.volume.root, self.listing, output, output)
        subprocess.run(["tmux", "new-session", "-d", "-s", session, "-x", "120", "-y", "5",
                        command], check=True)
        self.addCleanup(lambda: subprocess.run(["tmux", "kill-session", "-t", session]))
        seen = []
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            pane = subprocess.run(["tmux", "capture-pane", "-p", "-t", session],
                                  stdout=subprocess.PIPE, check=True).stdout.decode()
            lines = [line for line in pane.splitlines() if line.strip()]
            if lines and lines[-1] not in seen:
                seen.append(lines[-1])
            # The shell in the pane makes the file when it starts.
            if os.path.exists(output):
                with open(output) as done:
                    if "exit " in done.read():
                        break
            time.sleep(0.02)
        with open(output) as done:
            lines = done.read().splitlines(keepends=True)
        self.assertEqual(lines[-2:], ["restore: %d listed, %d changed, 0 already right, "
                                      "0 in conflict, 0 missing, 0 invalid, 0 failed\n"
                                      % (self.FILES, self.FILES), "exit 0\n"])
        self.assertEqual(len(lines), self.FILES + 2)
        progress = [line for line in seen if line.startswith("velmora-tree: ")]
        self.assertGreaterEqual(len(progress), 2, seen)
        for line in progress:
            self.assertRegex(line, r"^velmora-tree: 1 folders, \d+ items, \d+ changes$")
        final = subprocess.run(["tmux", "capture-pane", "-p", "-t", session],
                               stdout=subprocess.PIPE, check=True).stdout.decode()
        self.assertEqual(final.strip(), "", "the progress line stayed: %r" % final)

        # The same long run again (every name right now), standard error a
        # pipe: not a byte of progress.
        status, out, err = run_tree(["restore", self.volume.root, self.listing])
        self.assertEqual((status, err), (0, b""))


def main():
    global TREE
    if len(sys.argv) < 2:
        print("usage: test_tree.py /path/to/velmora-tree [unittest arguments]")
        return 2
    TREE = os.path.abspath(sys.argv.pop(1))
    check_prerequisites_or_exit()
    program = unittest.main(exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
